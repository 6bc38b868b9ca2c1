// The error table's loader from arbitrary file contents. Checked: no crash, hang or leak; a
// table that did not load answers every lookup with empty text; every answer is UTF-8; a
// copy answers as its original does.
#include "fuzz_check.h"

#include "kyro/diagnostics/KyroErrorTable.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = kyro_fuzz::scratchFile("KyroErrorCodes.xml");
    if (!kyro_fuzz::writeInput(path, data, size))
        return 0;
    const kyro_fuzz::AllocationBalance balance;
    KyroErrorTable table{TStr(path.c_str())};
    const bool loaded = table.Load();
    const KyroErrorTable copy(table);
    for (int vendor : {-1, 0, 1, 2, 3, 12}) {
        const TStr name = table.GetVendorName(vendor);
        FUZZ_CHECK((loaded || name.isEmpty()) && kyro_fuzz::isUtf8(name) && copy.GetVendorName(vendor) == name);
        for (int code : {-2147483647 - 1, -1, 0, 1, 5, 19, 2147483647}) {
            const TStr description = table.GetErrorDescription(vendor, code);
            FUZZ_CHECK(loaded || description.isEmpty());
            FUZZ_CHECK(kyro_fuzz::isUtf8(description) && copy.GetErrorDescription(vendor, code) == description);
        }
    }
    return 0;
}
