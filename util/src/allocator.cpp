// The string allocator of the text and container libraries.
//
// Every TStr costs two small blocks (its text object and its buffer), so small blocks are
// the common case and the heap's own cost per block dominates short strings. Small blocks
// are therefore served from a per-thread cache of heap blocks of a few fixed sizes:
//
//  1. A request of up to 160 bytes (a map's bucket array among them) is rounded, with its
//     header, to a block of 32 to 176 bytes (steps of 16). The size class is kept in the
//     header.
//  2. Freeing such a block puts it on the freeing thread's list for its class (at most 32
//     per class); anything beyond goes back to the heap. Larger blocks always do.
//  3. Allocating takes from the calling thread's list first, then from the heap.
//  4. A thread's cache is returned to the heap when the thread ends (a platform thread
//     slot with a clean-up, so no C++ thread_local keeps the library loaded), and the
//     cache is switched off for good when the library is unloaded.
//
// Every cached block is a heap block in its own right, so any of them can always simply
// be freed. The counters report exactly what callers hold, counted as the size asked for
// plus a 32-bit size header per block; each thread keeps its own share of them.
#include "kyro/util/c_str.h"

#include "kyro/platform/thread_slot.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace kyro::cstr {

namespace {

// Each block is counted as its size plus a 32-bit size header. The header we really
// reserve is 16 bytes, so every block keeps the heap's alignment: container nodes hold
// pointers and must not sit on 4-byte boundaries. The counted total lives in the last four
// bytes of that header, right in front of the address handed out, the size class in the
// first four.
constexpr std::size_t kHeaderSlot = 16;
constexpr std::size_t kCountedHeader = 4;
constexpr std::size_t kLargestRequest = 0x7FFFFFFF - kHeaderSlot;

constexpr std::size_t kGranule = 16;
constexpr int kClassCount = 10;
constexpr std::size_t kLargestCached = (kClassCount + 1) * kGranule - kHeaderSlot;
constexpr int kCachedPerClass = 32;
constexpr std::uint32_t kUncached = 0xFFFFFFFFu;

// Under AddressSanitizer every block goes straight back to the heap, so use after free
// and overflows are caught at the block that has them.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCacheBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kCacheBlocks = false;
#else
constexpr bool kCacheBlocks = true;
#endif
#else
constexpr bool kCacheBlocks = true;
#endif

int classOf(std::size_t size)
{
    return size == 0 ? 0 : static_cast<int>((size + kHeaderSlot - 1) / kGranule) - 1;
}

std::size_t classBytes(int sizeClass)
{
    return static_cast<std::size_t>(sizeClass + 2) * kGranule;
}

// A thread's cache: its free blocks, and its share of the counters. Only the owning thread
// writes the shares; readers add them up under the registry lock, so the totals are exact
// without a locked instruction per block.
struct ThreadCache {
    unsigned char* head[kClassCount];  // a free block keeps the next one in its first bytes
    int count[kClassCount];
    std::atomic<std::int64_t> bytes;
    std::atomic<std::int64_t> blocks;
    ThreadCache* previous;  // registry links, under g_registryLock
    ThreadCache* next;
};

// Marks a thread whose cache is already gone: it is ending, so it caches nothing more.
ThreadCache* const kEnded = reinterpret_cast<ThreadCache*>(std::uintptr_t{1});

enum State { kRunning = 1, kStopped = 2 };
std::atomic<int> g_state{0};
kyro::platform::ThreadSlotId g_slot;

std::mutex g_registryLock;
ThreadCache* g_registry = nullptr;
// The counts of threads that have ended, and of blocks taken or given back without a cache.
std::atomic<std::int64_t> g_bytes{0};
std::atomic<std::int64_t> g_blocks{0};

unsigned char*& nextOf(unsigned char* block)
{
    return *reinterpret_cast<unsigned char**>(block);
}

void addOwn(std::atomic<std::int64_t>& share, std::int64_t delta)
{
    share.store(share.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
}

void count(ThreadCache* cache, std::int64_t bytes, std::int64_t blocks)
{
    if (cache != nullptr) {
        addOwn(cache->bytes, bytes);
        addOwn(cache->blocks, blocks);
    } else {
        g_bytes.fetch_add(bytes, std::memory_order_relaxed);
        g_blocks.fetch_add(blocks, std::memory_order_relaxed);
    }
}

void flushCache(void* value)
{
    auto* cache = static_cast<ThreadCache*>(value);
    if (cache == nullptr || cache == kEnded)
        return;
    {
        std::lock_guard<std::mutex> guard(g_registryLock);
        g_bytes.fetch_add(cache->bytes.load(std::memory_order_relaxed), std::memory_order_relaxed);
        g_blocks.fetch_add(cache->blocks.load(std::memory_order_relaxed), std::memory_order_relaxed);
        (cache->previous != nullptr ? cache->previous->next : g_registry) = cache->next;
        if (cache->next != nullptr)
            cache->next->previous = cache->previous;
    }
    for (int c = 0; c < kClassCount; ++c) {
        for (unsigned char* block = cache->head[c]; block != nullptr;) {
            unsigned char* next = nextOf(block);
            std::free(block - kHeaderSlot);
            block = next;
        }
    }
    cache->~ThreadCache();
    std::free(cache);
}

void endThread(void* value)
{
    flushCache(value);
    if (g_state.load(std::memory_order_acquire) == kRunning)
        kyro::platform::threadSlotSet(g_slot, kEnded);
}

// Owns the thread slot for the life of the library: taken at load, given back at unload
// (or exit). Before and after, blocks go straight to the heap; so do blocks of objects
// whose static construction runs before this one's.
struct SlotOwner {
    SlotOwner()
    {
        if (kyro::platform::threadSlotCreate(&endThread, &g_slot))
            g_state.store(kRunning, std::memory_order_release);
        else
            g_state.store(kStopped, std::memory_order_release);
    }
    ~SlotOwner()
    {
        if (g_state.exchange(kStopped) != kRunning)
            return;
        void* own = kyro::platform::threadSlotGet(g_slot);
        kyro::platform::threadSlotSet(g_slot, nullptr);
        flushCache(own);
        kyro::platform::threadSlotDestroy(g_slot);
    }
};

SlotOwner g_slotOwner;

[[gnu::noinline]] ThreadCache* newThreadCache()
{
    void* memory = std::calloc(1, sizeof(ThreadCache));
    if (memory == nullptr)
        return nullptr;
    auto* cache = new (memory) ThreadCache();
    {
        std::lock_guard<std::mutex> guard(g_registryLock);
        cache->next = g_registry;
        if (g_registry != nullptr)
            g_registry->previous = cache;
        g_registry = cache;
    }
    if (!kyro::platform::threadSlotSet(g_slot, cache)) {
        flushCache(cache);
        return nullptr;
    }
    return cache;
}

// The calling thread's cache, made on first use; null before load, after unload and on a
// thread that is ending.
ThreadCache* threadCache()
{
    if (!kCacheBlocks || g_state.load(std::memory_order_acquire) != kRunning)
        return nullptr;
    auto* cache = static_cast<ThreadCache*>(kyro::platform::threadSlotGet(g_slot));
    if (cache == kEnded)
        return nullptr;
    return cache != nullptr ? cache : newThreadCache();
}

// The header: size class in the first four bytes, the counted total in the last four.
unsigned char* stamp(unsigned char* block, std::uint32_t sizeClass, std::size_t size, ThreadCache* cache)
{
    const std::uint32_t total = static_cast<std::uint32_t>(size + kCountedHeader);
    std::memcpy(block - kHeaderSlot, &sizeClass, sizeof sizeClass);
    std::memcpy(block - sizeof total, &total, sizeof total);
    count(cache, total, 1);
    return block;
}

// The heap path, kept out of line so the cached path stays short.
[[gnu::noinline]] unsigned char* takeFromHeap(std::size_t size, std::uint32_t sizeClass, ThreadCache* cache)
{
    if (size > kLargestRequest)
        return nullptr;
    const std::size_t bytes = sizeClass == kUncached ? kHeaderSlot + size
                                                     : classBytes(static_cast<int>(sizeClass));
    auto* raw = static_cast<unsigned char*>(std::malloc(bytes));
    return raw == nullptr ? nullptr : stamp(raw + kHeaderSlot, sizeClass, size, cache);
}

unsigned char* take(std::size_t size)
{
    ThreadCache* cache = threadCache();
    if (cache == nullptr || size > kLargestCached)
        return takeFromHeap(size, kUncached, cache);
    const std::uint32_t sizeClass = static_cast<std::uint32_t>(classOf(size));
    unsigned char* block = cache->head[sizeClass];
    if (block == nullptr)
        return takeFromHeap(size, sizeClass, cache);
    cache->head[sizeClass] = nextOf(block);
    --cache->count[sizeClass];
    return stamp(block, sizeClass, size, cache);
}

}  // namespace

void* allocate(std::size_t size)
{
    unsigned char* block = take(size);
    if (block != nullptr)
        std::memset(block, 0, size);
    return block;
}

void* allocateUnfilled(std::size_t size)
{
    return take(size);
}

std::size_t release(void* block)
{
    if (block == nullptr)
        return 0;
    auto* bytes = static_cast<unsigned char*>(block);
    std::uint32_t total = 0;
    std::uint32_t sizeClass = kUncached;
    std::memcpy(&total, bytes - sizeof total, sizeof total);
    std::memcpy(&sizeClass, bytes - kHeaderSlot, sizeof sizeClass);
    ThreadCache* cache = threadCache();
    count(cache, -static_cast<std::int64_t>(total), -1);
    if (cache != nullptr && sizeClass < static_cast<std::uint32_t>(kClassCount) &&
        cache->count[sizeClass] < kCachedPerClass) {
        nextOf(bytes) = cache->head[sizeClass];
        cache->head[sizeClass] = bytes;
        ++cache->count[sizeClass];
        return total;
    }
    std::free(bytes - kHeaderSlot);
    return total;
}

std::int64_t allocatedBytes()
{
    std::lock_guard<std::mutex> guard(g_registryLock);
    std::int64_t sum = g_bytes.load(std::memory_order_relaxed);
    for (const ThreadCache* cache = g_registry; cache != nullptr; cache = cache->next)
        sum += cache->bytes.load(std::memory_order_relaxed);
    return sum;
}

std::int64_t allocatedBlocks()
{
    std::lock_guard<std::mutex> guard(g_registryLock);
    std::int64_t sum = g_blocks.load(std::memory_order_relaxed);
    for (const ThreadCache* cache = g_registry; cache != nullptr; cache = cache->next)
        sum += cache->blocks.load(std::memory_order_relaxed);
    return sum;
}

}  // namespace kyro::cstr
