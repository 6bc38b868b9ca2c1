// The string table's loader from arbitrary file contents, written as KyroIntRes.xml into a
// folder of its own and loaded as the host's folder would be. Checked: no crash, hang or
// leak; a table that did not load answers with empty text; every answer is UTF-8; loading
// again (with a trailing separator) answers as the first load did.
#include "fuzz_check.h"

#include "kyro/int/CKyroIntResHandler.h"
#include "kyro/platform/filesystem.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string folder = [] {
        const std::string name = kyro_fuzz::scratchFile("strings");
        kyro::platform::makeDirectory(name.c_str());
        return name;
    }();
    if (!kyro_fuzz::writeInput(folder + "/KyroIntRes.xml", data, size))
        return 0;
    // A few fixed identifiers and the first values of ID="..." in the input, so that entries
    // the fuzzer builds are found.
    std::vector<std::string> ids = {"IDS_A", "ids_a", "IDS_BUTTON_OK", "IDS_PRIVACY_POLICY_CAPTION", ""};
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = text.find("ID=\""); at != std::string::npos && ids.size() < 9; at = text.find("ID=\"", at)) {
        const std::size_t end = text.find('"', at + 4);
        if (end == std::string::npos)
            break;
        if (text.find('\0', at + 4) > end)
            ids.push_back(text.substr(at + 4, end - at - 4));
        at = end;
    }
    const kyro_fuzz::AllocationBalance balance;
    CKyroIntResHandler handler;
    const bool loaded = handler.load(TStr(folder.c_str()));
    std::vector<TStr> answers;
    for (const std::string& id : ids) {
        answers.push_back(handler.getString(TStr(id.c_str())));
        FUZZ_CHECK((loaded || answers.back().isEmpty()) && kyro_fuzz::isUtf8(answers.back()));
    }
    FUZZ_CHECK(handler.load(TStr(folder.c_str()) + "\\") == loaded);
    for (std::size_t i = 0; i < ids.size(); ++i)
        FUZZ_CHECK(handler.getString(TStr(ids[i].c_str())) == answers[i]);
    return 0;
}
