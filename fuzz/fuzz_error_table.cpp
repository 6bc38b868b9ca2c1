// The error table's loader from arbitrary file contents: the bytes are written to a file
// and loaded as KyroErrorCodes.xml would be. Properties checked: nothing crashes, hangs or
// leaks; a table that did not load answers every lookup with empty text; every answer is
// UTF-8 text; a copy answers as its original does.
#include "fuzz_check.h"

#include "kyro/diagnostics/KyroErrorTable.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string& tablePath()
{
    static const std::string path = kyro_fuzz::scratchFile("KyroErrorCodes.xml");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(tablePath().c_str(), "wb");
    if (file == nullptr)
        return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!written)
        return 0;

    kyro_fuzz::AllocationBalance balance;
    {
        KyroErrorTable table{TStr(tablePath().c_str())};
        const bool loaded = table.Load();
        const KyroErrorTable copy(table);
        for (int vendor : {-1, 0, 1, 2, 3, 12}) {
            const TStr name = table.GetVendorName(vendor);
            FUZZ_CHECK(loaded || name.isEmpty());
            FUZZ_CHECK(copy.GetVendorName(vendor) == name);
            FUZZ_CHECK(kyro_fuzz::isUtf8(name));
            for (int code : {-2147483647 - 1, -1, 0, 1, 5, 19, 2147483647}) {
                const TStr description = table.GetErrorDescription(vendor, code);
                FUZZ_CHECK(loaded || description.isEmpty());
                FUZZ_CHECK(kyro_fuzz::isUtf8(description));
                FUZZ_CHECK(copy.GetErrorDescription(vendor, code) == description);
            }
        }
    }
    return 0;
}
