// The string table (KyroIntRes.xml in a folder of its own, loaded as the host's folder) from
// arbitrary contents. Checked: a table that did not load answers with empty text; every answer
// is UTF-8; loading again (with a trailing separator) answers as the first load did.
#include "fuzz_check.h"

#include "kyro/int/CKyroIntResHandler.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = kyro_fuzz::writeInput("strings/KyroIntRes.xml", data, size);
    if (path.empty())
        return 0;
    const std::vector<std::string> ids = {"IDS_A", "ids_a", "IDS_BUTTON_OK", "IDS_PRIVACY_POLICY_CAPTION", ""};
    const TStr folder(path.substr(0, path.size() - 15).c_str());   // without "/KyroIntRes.xml"
    CKyroIntResHandler handler, again;
    const bool loaded = handler.load(folder);
    FUZZ_CHECK(again.load(folder + "\\") == loaded);
    for (const std::string& id : ids) {
        const TStr answer = handler.getString(TStr(id.c_str()));
        FUZZ_CHECK((loaded || answer.isEmpty()) && kyro_fuzz::isUtf8(answer) && again.getString(TStr(id.c_str())) == answer);
    }
    return 0;
}
