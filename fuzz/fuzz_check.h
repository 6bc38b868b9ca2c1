// Shared helpers of the fuzz targets: a check that stops the run with a message, a guard
// that every string allocator block taken during one input is given back, a UTF-8 check,
// and scratch files for the loaders that read files.
#ifndef KYRO_FUZZ_CHECK_H
#define KYRO_FUZZ_CHECK_H

#include "kyro/platform/process_info.h"
#include "kyro/util/TStr.h"
#include "kyro/util/c_str.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kyro_fuzz {

[[noreturn]] inline void checkFailed(const char* file, int line, const char* condition)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

// Counts are exact here: the fuzz targets run on one thread.
class AllocationBalance {
public:
    AllocationBalance()
        : m_bytes(kyro::cstr::allocatedBytes()), m_blocks(kyro::cstr::allocatedBlocks())
    {
    }
    ~AllocationBalance()
    {
        if (kyro::cstr::allocatedBlocks() != m_blocks || kyro::cstr::allocatedBytes() != m_bytes)
            checkFailed(__FILE__, __LINE__, "string allocator blocks or bytes left over");
    }
    AllocationBalance(const AllocationBalance&) = delete;
    AllocationBalance& operator=(const AllocationBalance&) = delete;

private:
    std::int64_t m_bytes;
    std::int64_t m_blocks;
};

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong forms, no
// surrogates, nothing past U+10FFFF.
inline bool isUtf8(const TStr& text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.utf8());
    while (*p != 0) {
        std::uint32_t c = *p++;
        int more = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
        if (more < 0 || c > 0xF4)
            return false;
        c &= 0x3F >> more;
        const std::uint32_t lowest[] = {0, 0x80, 0x800, 0x10000};
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (*p & 0x3F);
        }
        if (c < lowest[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
    }
    return true;
}

// This process's scratch folder under $TMPDIR (else /tmp), made on first use and removed
// with everything in it at exit. Never destroyed: the clean-up at exit still needs it.
inline const std::string& scratchFolder()
{
    static const std::string* const folder = [] {
        const char* temp = std::getenv("TMPDIR");
        const std::string* name = new std::string(
            std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/kyro_fuzz_" +
            std::to_string(kyro::platform::currentProcessId()));
        std::error_code ignored;
        std::filesystem::create_directories(*name, ignored);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return name;
    }();
    return *folder;
}

// "<scratch folder>/<name>".
inline std::string scratchFile(const char* name)
{
    return scratchFolder() + "/" + name;
}

// Writes the input to `path` as a whole file; false when it could not.
inline bool writeInput(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

}  // namespace kyro_fuzz

#define FUZZ_CHECK(condition)                                              \
    do {                                                                   \
        if (!(condition))                                                  \
            ::kyro_fuzz::checkFailed(__FILE__, __LINE__, #condition);      \
    } while (0)

#endif
