// Shared by the fuzz targets (with the standard headers they all use): a check that stops the
// run, a UTF-8 check and scratch files. Leaks are LeakSanitizer's (the replay's ASAN_OPTIONS).
#ifndef KYRO_FUZZ_CHECK_H
#define KYRO_FUZZ_CHECK_H

#include "kyro/platform/process_info.h"
#include "kyro/util/TStr.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

namespace kyro_fuzz {

// Well-formed UTF-8: a lead byte's second byte rules out overlong forms, surrogates, > U+10FFFF.
inline bool isUtf8(const TStr& text)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text.utf8()); *p != 0;) {
        const unsigned char c = *p++;
        const int more = c < 0x80 ? 0 : c < 0xC2 ? -1 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : c < 0xF5 ? 3 : -1;
        const unsigned low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80, high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        if (more < 0 || (more > 0 && (*p < low || *p > high)))
            return false;
        for (int i = 0; i < more; ++i)
            if ((*p++ & 0xC0) != 0x80)
                return false;
    }
    return true;
}

// Writes the input to <this process's temporary folder, gone at exit>/<name>: its path, or "".
inline std::string writeInput(const char* name, const std::uint8_t* data, std::size_t size)
{
    static const std::string* const folder = [] {   // never destroyed: the clean-up needs it
        std::error_code ignored;
        const auto* made = new std::string(std::filesystem::temp_directory_path(ignored).string() + "/kyro_fuzz_" +
                                           std::to_string(kyro::platform::currentProcessId()));
        std::filesystem::create_directories(*made + "/strings", ignored);
        std::atexit([] { std::error_code ignored; std::filesystem::remove_all(*folder, ignored); });
        return made;
    }();
    const std::string path = *folder + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file != nullptr && std::fwrite(data, 1, size, file) == size;
    return file != nullptr && std::fclose(file) == 0 && written ? path : std::string();
}

}  // namespace kyro_fuzz

#endif
