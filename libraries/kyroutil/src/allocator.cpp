// The string allocator of the text and container libraries.
#include "kyro/util/c_str.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace kyro::cstr {

namespace {

// Each block is counted as its size plus a 32-bit size header. The header slot we really
// reserve is 16 bytes, so every block keeps the heap's alignment: container nodes hold
// pointers and must not sit on 4-byte boundaries. The 32-bit total lives in the last four
// bytes of that slot, right in front of the address handed out.
constexpr std::size_t kHeaderSlot = 16;
constexpr std::size_t kCountedHeader = 4;
constexpr std::size_t kLargestRequest = 0x7FFFFFFF - kHeaderSlot;

// Statistics only: plain loads and stores (no read-modify-write), so concurrent updates
// may lose a count but never race in the language's sense.
std::atomic<std::int64_t> g_bytes{0};
std::atomic<std::int64_t> g_blocks{0};

void adjust(std::atomic<std::int64_t>& counter, std::int64_t delta)
{
    counter.store(counter.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
}

}  // namespace

void* allocate(std::size_t size)
{
    if (size > kLargestRequest)
        return nullptr;
    auto* raw = static_cast<unsigned char*>(std::malloc(kHeaderSlot + size));
    if (raw == nullptr)
        return nullptr;
    unsigned char* block = raw + kHeaderSlot;
    std::memset(block, 0, size);
    const std::uint32_t total = static_cast<std::uint32_t>(size + kCountedHeader);
    std::memcpy(block - sizeof total, &total, sizeof total);
    adjust(g_bytes, total);
    adjust(g_blocks, 1);
    return block;
}

std::size_t release(void* block)
{
    if (block == nullptr)
        return 0;
    auto* bytes = static_cast<unsigned char*>(block);
    std::uint32_t total = 0;
    std::memcpy(&total, bytes - sizeof total, sizeof total);
    adjust(g_bytes, -static_cast<std::int64_t>(total));
    adjust(g_blocks, -1);
    std::free(bytes - kHeaderSlot);
    return total;
}

std::int64_t allocatedBytes()
{
    return g_bytes.load(std::memory_order_relaxed);
}

std::int64_t allocatedBlocks()
{
    return g_blocks.load(std::memory_order_relaxed);
}

}  // namespace kyro::cstr
