// The error table's loader from arbitrary contents: a table that did not load answers with
// empty text; every answer is UTF-8; a copy answers as its original does.
#include "fuzz_check.h"

#include "kyro/diagnostics/KyroErrorTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = kyro_fuzz::writeInput("KyroErrorCodes.xml", data, size);
    if (path.empty())
        return 0;
    KyroErrorTable table{TStr(path.c_str())};
    const bool loaded = table.Load();
    const KyroErrorTable copy(table);
    for (int vendor : {-1, 0, 1, 2, 3, 12}) {
        const TStr name = table.GetVendorName(vendor);
        FUZZ_CHECK((loaded || name.isEmpty()) && kyro_fuzz::isUtf8(name) && copy.GetVendorName(vendor) == name);
        for (int code : {-2147483647 - 1, -1, 0, 1, 5, 19, 2147483647}) {
            const TStr description = table.GetErrorDescription(vendor, code);
            FUZZ_CHECK((loaded || description.isEmpty()) && kyro_fuzz::isUtf8(description) &&
                       copy.GetErrorDescription(vendor, code) == description);
        }
    }
    return 0;
}
