// Shared helpers of the fuzz targets: a check that stops the run, a guard that every string
// allocator block taken during one input is given back, a UTF-8 check, and scratch files.
#ifndef KYRO_FUZZ_CHECK_H
#define KYRO_FUZZ_CHECK_H

#include "kyro/platform/process_info.h"
#include "kyro/util/TStr.h"
#include "kyro/util/c_str.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace kyro_fuzz {

// Counts are exact here: the fuzz targets run on one thread.
struct AllocationBalance {
    const std::int64_t bytes = kyro::cstr::allocatedBytes(), blocks = kyro::cstr::allocatedBlocks();
    ~AllocationBalance() { FUZZ_CHECK(kyro::cstr::allocatedBytes() == bytes && kyro::cstr::allocatedBlocks() == blocks); }
};

// Well-formed UTF-8: no stray or missing continuation bytes, overlong forms, surrogates, or
// anything past U+10FFFF.
inline bool isUtf8(const TStr& text)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text.utf8()); *p != 0;) {
        std::uint32_t c = *p++;
        const int more = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
        if (more < 0 || c > 0xF4)
            return false;
        c &= 0x3F >> more;
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (*p & 0x3F);
        }
        const std::uint32_t lowest[] = {0, 0x80, 0x800, 0x10000};
        if (c < lowest[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
    }
    return true;
}

// "<scratch folder>/<name>": the folder is this process's own under $TMPDIR (else /tmp),
// removed with everything in it at exit.
inline std::string scratchFile(const char* name)
{
    // Never destroyed: the clean-up at exit still needs it.
    static const std::string* const folder = [] {
        const char* temp = std::getenv("TMPDIR");
        const auto* made = new std::string(std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") +
                                           "/kyro_fuzz_" + std::to_string(kyro::platform::currentProcessId()));
        std::error_code ignored;
        std::filesystem::create_directories(*made, ignored);
        std::atexit([] { std::error_code ignored; std::filesystem::remove_all(scratchFile(""), ignored); });
        return made;
    }();
    return *folder + "/" + name;
}

// Writes the input to `path` as a whole file; false when it could not.
inline bool writeInput(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file != nullptr && std::fwrite(data, 1, size, file) == size;
    return file != nullptr && std::fclose(file) == 0 && written;
}

}  // namespace kyro_fuzz

#endif
