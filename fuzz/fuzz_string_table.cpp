// The string table's loader from arbitrary file contents: the bytes are written as
// KyroIntRes.xml into a folder of their own and loaded through CKyroIntResHandler::load,
// as the host's folder would be. Properties checked: nothing crashes, hangs or leaks; a
// table that did not load answers every lookup with empty text; every answer is UTF-8
// text; loading again answers as the first load did and changes no text.
#include "fuzz_check.h"

#include "kyro/int/CKyroIntResHandler.h"
#include "kyro/platform/filesystem.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The table's folder, with nothing else in it.
const std::string& tableFolder()
{
    static const std::string folder = [] {
        const std::string name = kyro_fuzz::scratchFile("strings");
        kyro::platform::makeDirectory(name.c_str());
        return name;
    }();
    return folder;
}

// The identifiers to ask for: a few fixed ones and the first values of ID="..." in the
// input, so that entries the fuzzer builds are found.
std::vector<std::string> identifiers(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> ids = {"IDS_A", "ids_a", "IDS_BUTTON_OK", "IDS_PRIVACY_POLICY_CAPTION", ""};
    const char* text = reinterpret_cast<const char*>(data);
    const char marker[] = "ID=\"";
    const std::size_t markerLength = sizeof(marker) - 1;
    std::size_t at = 0;
    for (int found = 0; found < 4 && at + markerLength <= size; ++at) {
        if (std::memcmp(text + at, marker, markerLength) != 0)
            continue;
        const std::size_t start = at + markerLength;
        const void* quote = std::memchr(text + start, '"', size - start);
        if (quote == nullptr)
            break;
        const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(quote) - text);
        std::string id(text + start, end - start);
        if (id.find('\0') == std::string::npos) {
            ids.push_back(id);
            ++found;
        }
        at = end;
    }
    return ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!kyro_fuzz::writeInput(tableFolder() + "/KyroIntRes.xml", data, size))
        return 0;
    const std::vector<std::string> ids = identifiers(data, size);

    kyro_fuzz::AllocationBalance balance;
    {
        const TStr folder(tableFolder().c_str());
        CKyroIntResHandler handler;
        const bool loaded = handler.load(folder);
        std::vector<TStr> answers;
        for (const std::string& id : ids) {
            const TStr text = handler.getString(TStr(id.c_str()));
            FUZZ_CHECK(loaded || text.isEmpty());
            FUZZ_CHECK(kyro_fuzz::isUtf8(text));
            answers.push_back(text);
        }
        // Loading again (with a trailing separator this time) finds what the first did.
        FUZZ_CHECK(handler.load(folder + "\\") == loaded);
        for (std::size_t i = 0; i < ids.size(); ++i)
            FUZZ_CHECK(handler.getString(TStr(ids[i].c_str())) == answers[i]);
    }
    return 0;
}
