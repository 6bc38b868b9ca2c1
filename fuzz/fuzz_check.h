// Shared helpers of the fuzz targets: a check that stops the run with a message, and a
// guard that every string allocator block taken during one input is given back.
#ifndef KYRO_FUZZ_CHECK_H
#define KYRO_FUZZ_CHECK_H

#include "kyro/util/c_str.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

}  // namespace kyro_fuzz

#define FUZZ_CHECK(condition)                                              \
    do {                                                                   \
        if (!(condition))                                                  \
            ::kyro_fuzz::checkFailed(__FILE__, __LINE__, #condition);      \
    } while (0)

#endif
