// POSIX backend of named mutexes: a robust, recursive, process-shared pthread mutex in a
// small shared file, one per user and name.
//
// 1. The file is "mx1.<name>" in the user's private runtime folder (the one the named pipes
//    use: 0700, owned by the user, checked before every use; see posix::runtimeFolder()).
//    Another user can neither make the file first nor open ours, so nobody else can hold
//    our mutexes or keep us from them. (Names in /dev/shm were open to every user: whoever
//    made one first decided who could use it.) "mx1" is the layout below (a new layout
//    gets a new tag, so two versions never meet in one file), and the name (less a leading
//    "Local") is escaped byte for byte: letters, digits, "-", "." and "_" stay, everything
//    else becomes "%XX". A name whose escaped form is long keeps a readable start, then "~"
//    (which escaping never produces) and a 128-bit hash of the whole name. With no usable
//    runtime folder there is no mutex: the open fails.
// 2. The file is opened without following links, created with mode 0600, and must be a
//    regular file of the effective user before anything waits on it; anything else is
//    refused.
// 3. Every process that maps a file first takes an flock on it, and sets the mutex up when
//    the ready mark is missing (a new file, or one whose creator died half-way). The flock
//    is held for an instant, so it is waited for at most kSetUpWaitMs; it is given up once
//    the file is mapped, and ends anyway when its holder dies.
// 4. Files are not removed when their handles close (only namedMutexDiscard() does, for
//    names that nobody else uses). A process cannot know that no other process is about to
//    open the same name, and removing it then would split one mutex into two. Each one is a
//    small file (one page of memory when the folder is on tmpfs, as XDG_RUNTIME_DIR is)
//    until the system restarts or the user's runtime folder goes at logout.
// 5. Mappings are cached per process: the logger opens and closes a mutex for every record,
//    and that must cost a hash lookup, not open and mmap. A mapping stays while a handle
//    refers to it or a thread of this process owns its mutex (an owned robust mutex sits on
//    its thread's robust list, which the C library and the kernel walk). Up to kKeepIdle
//    unused mappings stay cached; older ones are unmapped.
#include "kyro/platform/named_mutex.h"

#include "kyro/platform/fault_injection.h"
#include "posix_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace kyro::platform {

namespace {

constexpr std::uint32_t kReady = 0x4b594d58;   // "KYMX"
constexpr std::size_t kKeepIdle = 16;
constexpr std::size_t kLongName = 120;         // escaped names longer than this are hashed
constexpr std::size_t kReadableStart = 80;
// The flock of item 3 above is held for an instant by a process that sets a mutex up.
constexpr int kSetUpWaitMs = 2000;

// What lives in the shared memory object.
struct SharedBlock {
    std::uint32_t ready;   // kReady once the mutex is set up
    std::uint32_t size;    // sizeof(SharedBlock) of the process that set it up
    pthread_mutex_t mutex;
};

struct Entry {
    ~Entry()
    {
        if (block != nullptr)
            ::munmap(block, sizeof(SharedBlock));
    }

    std::string key;
    SharedBlock* block = nullptr;
    std::size_t handles = 0;                 // guarded by the cache lock
    // The thread of ours that owns the mutex (see thisThread()), and how many levels it
    // holds. Only the owner changes them; other threads read them.
    std::atomic<std::uintptr_t> owner{0};
    std::atomic<long> owned{0};
    std::list<Entry*>::iterator idlePosition;
    bool idle = false;
    bool discarded = false;                  // in Cache::discarded, not in the map
};

struct Handle {
    Entry* entry;
};

struct Cache {
    std::mutex lock;
    std::unordered_map<std::string, Entry*> entries;
    std::list<Entry*> idle;   // oldest first
    // Out of the map but still in use; kept here until their last use.
    std::vector<Entry*> discarded;
};

// Never destroyed: handles may be closed by other objects' destructors during exit.
Cache& cache()
{
    static Cache* instance = new Cache();
    return *instance;
}

// --- names -------------------------------------------------------------------------------

bool startsWith(std::string_view text, std::string_view start)
{
    return text.substr(0, start.size()) == start;
}

// Spreads every bit of a 64-bit hash over the whole value.
std::uint64_t mix(std::uint64_t value)
{
    value ^= value >> 33;
    value *= 0xff51afd7ed558ccdULL;
    value ^= value >> 33;
    value *= 0xc4ceb9fe1a85ec53ULL;
    value ^= value >> 33;
    return value;
}

void appendHex(std::string* out, std::uint64_t value)
{
    static const char kDigits[] = "0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4)
        *out += kDigits[(value >> shift) & 0xf];
}

// The file name (in the runtime folder) for a mutex name; false for a name Windows refuses
// too.
bool objectName(const char* name, std::string* out)
{
    if (name == nullptr)
        return false;
    std::string_view text(name);
    // Outside a service session, a plain name lives in the session's "Local" namespace.
    if (startsWith(text, "Local\\"))
        text.remove_prefix(6);
    const std::string_view rest = startsWith(text, "Global\\") ? text.substr(7) : text;
    if (rest.empty() || rest.find('\\') != std::string_view::npos)
        return false;

    std::string escaped;
    escaped.reserve(text.size());
    static const char kDigits[] = "0123456789ABCDEF";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_') {
            escaped += c;
        } else {
            escaped += '%';
            escaped += kDigits[byte >> 4];
            escaped += kDigits[byte & 0xf];
        }
    }
    if (escaped.size() > kLongName) {
        // Two differently seeded FNV-style hashes, mixed: 128 bits keep names apart.
        std::uint64_t first = 0xcbf29ce484222325ULL;
        std::uint64_t second = 0x84222325cbf29ce4ULL;
        for (const char c : text) {
            first = (first ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
            second = (second ^ static_cast<unsigned char>(c)) * 0x1000193ULL + 0x9e3779b9ULL;
        }
        escaped.resize(kReadableStart);
        escaped += '~';
        appendHex(&escaped, mix(first));
        appendHex(&escaped, mix(second ^ text.size()));
    }
    static const char kPrefix[] = "mx1.";
    out->reserve(sizeof(kPrefix) + escaped.size());
    *out = kPrefix;
    *out += escaped;
    return true;
}

// The file's full path; empty when there is no safe runtime folder.
std::string objectPath(const std::string& key)
{
    std::string folder;
    if (!posix::runtimeFolder(&folder))
        return std::string();
    return folder + "/" + key;
}

// --- the shared object -------------------------------------------------------------------

bool setUpMutex(SharedBlock* block)
{
    pthread_mutexattr_t attributes;
    if (::pthread_mutexattr_init(&attributes) != 0)
        return false;
    const bool ok =
        ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
        ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
        ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
        ::pthread_mutex_init(&block->mutex, &attributes) == 0;
    ::pthread_mutexattr_destroy(&attributes);
    if (!ok)
        return false;
    block->size = sizeof(SharedBlock);
    // The mark goes last: a process that dies before this leaves the object to be set up again.
    __atomic_store_n(&block->ready, kReady, __ATOMIC_RELEASE);
    return true;
}

// Takes the flock, waiting at most kSetUpWaitMs: its holders keep it for an instant.
bool flockWithin(int fd)
{
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kSetUpWaitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Opens (creating when needed) and maps the file, setting its mutex up when nobody has.
SharedBlock* mapObject(const std::string& key)
{
    const std::string path = objectPath(key);
    if (path.empty())
        return nullptr;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return nullptr;
    // Whose it is, before anything waits on it.
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        errno = EACCES;
        return nullptr;
    }
    SharedBlock* block = nullptr;
    const bool locked = flockWithin(fd);
    if (locked) {
        // The umask may have taken bits from a new file; an old one may be too open.
        bool ok = (info.st_mode & 0777) == 0600 || ::fchmod(fd, 0600) == 0;
        // A shorter file was never set up by this layout: set it up afresh.
        if (ok && ::fstat(fd, &info) == 0 &&
            info.st_size < static_cast<off_t>(sizeof(SharedBlock)))
            ok = ::ftruncate(fd, sizeof(SharedBlock)) == 0;
        if (ok) {
            void* address = ::mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE,
                                   MAP_SHARED, fd, 0);
            if (address != MAP_FAILED) {
                block = static_cast<SharedBlock*>(address);
                const bool ready = __atomic_load_n(&block->ready, __ATOMIC_ACQUIRE) == kReady;
                if (ready ? block->size != sizeof(SharedBlock) : !setUpMutex(block)) {
                    ::munmap(address, sizeof(SharedBlock));
                    block = nullptr;
                }
            }
        }
    }
    // Explicitly: the mapping keeps the open file alive, and with it an flock left to close().
    if (locked)
        ::flock(fd, LOCK_UN);
    ::close(fd);
    return block;
}

// --- the cache ---------------------------------------------------------------------------

// With the cache lock held: an entry nothing refers to any more waits in the idle list;
// the oldest idle ones beyond kKeepIdle are unmapped.
void retire(Cache& c, Entry* entry)
{
    if (entry->handles != 0 || entry->owned.load() != 0 || entry->idle)
        return;
    if (entry->discarded) {
        c.discarded.erase(std::find(c.discarded.begin(), c.discarded.end(), entry));
        delete entry;
        return;
    }
    try {
        entry->idlePosition = c.idle.insert(c.idle.end(), entry);
    } catch (...) {
        return;   // no memory for the list: the entry simply stays mapped
    }
    entry->idle = true;
    while (c.idle.size() > kKeepIdle) {
        Entry* oldest = c.idle.front();
        c.idle.pop_front();
        c.entries.erase(oldest->key);
        delete oldest;
    }
}

// With the cache lock held: one more handle on the entry.
Handle* adopt(Cache& c, Entry* entry)
{
    Handle* handle = new (std::nothrow) Handle{entry};
    if (handle == nullptr)
        return nullptr;
    if (entry->idle) {
        c.idle.erase(entry->idlePosition);
        entry->idle = false;
    }
    ++entry->handles;
    return handle;
}

Handle* openHandle(const char* name)
{
    std::string key;
    if (!objectName(name, &key))
        return nullptr;
    Cache& c = cache();
    {
        std::lock_guard<std::mutex> guard(c.lock);
        const auto found = c.entries.find(key);
        if (found != c.entries.end())
            return adopt(c, found->second);
    }

    // Mapped without the cache lock: the flock may wait for another process.
    SharedBlock* block = mapObject(key);
    if (block == nullptr)
        return nullptr;
    std::unique_ptr<Entry> fresh(new (std::nothrow) Entry());
    if (fresh == nullptr) {
        ::munmap(block, sizeof(SharedBlock));
        return nullptr;
    }
    fresh->block = block;
    fresh->key = key;

    std::lock_guard<std::mutex> guard(c.lock);
    // When another thread mapped it meanwhile, theirs is used and ours goes.
    const auto inserted = c.entries.emplace(key, fresh.get());
    if (inserted.second)
        fresh.release();
    Entry* entry = inserted.first->second;
    Handle* handle = adopt(c, entry);
    if (handle == nullptr)
        retire(c, entry);
    return handle;
}

Handle* toHandle(NamedMutex mutex)
{
    return reinterpret_cast<Handle*>(mutex);
}

// Tells the live threads of this process apart.
std::uintptr_t thisThread()
{
    static thread_local char tag;
    return reinterpret_cast<std::uintptr_t>(&tag);
}

bool discard(const char* name)
{
    std::string key;
    if (!objectName(name, &key))
        return false;
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    const auto found = c.entries.find(key);
    if (found != c.entries.end()) {
        Entry* entry = found->second;
        c.discarded.push_back(entry);
        c.entries.erase(found);
        entry->discarded = true;
        if (entry->idle) {
            c.idle.erase(entry->idlePosition);
            entry->idle = false;
        }
        retire(c, entry);
    }
    const std::string path = objectPath(key);
    return !path.empty() && (::unlink(path.c_str()) == 0 || errno == ENOENT);
}

}  // namespace

NamedMutex namedMutexOpen(const char* name)
{
    if (name != nullptr && *name != '\0' && failThisCall(FaultPoint::NamedMutexOpen)) {
        errno = EACCES;
        return kNoNamedMutex;
    }
    try {
        return reinterpret_cast<NamedMutex>(openHandle(name));
    } catch (...) {
        // Out of memory in the name or the map.
        return kNoNamedMutex;
    }
}

NamedMutexWait namedMutexWait(NamedMutex mutex, int timeoutMs)
{
    if (mutex == kNoNamedMutex || timeoutMs < -1)
        return NamedMutexWait::Failed;
    Entry* entry = toHandle(mutex)->entry;
    pthread_mutex_t* m = &entry->block->mutex;
    int result;
    if (timeoutMs == 0) {
        result = ::pthread_mutex_trylock(m);
    } else if (timeoutMs == -1) {
        result = ::pthread_mutex_lock(m);
    } else {
        // A monotonic deadline: a change of the wall clock neither cuts nor stretches it.
        timespec deadline;
        ::clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += timeoutMs / 1000;
        deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        result = ::pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &deadline);
    }
    switch (result) {
    case 0:
        if (entry->owner.load() == thisThread()) {
            entry->owned.fetch_add(1);
        } else {
            entry->owned.store(1);
            entry->owner.store(thisThread());
        }
        return NamedMutexWait::Obtained;
    case EOWNERDEAD:
        // Its owner ended while holding it. We own it now, at one level (whatever the dead
        // thread held is gone); mark it usable again, as the kernel does for an abandoned
        // Windows mutex.
        ::pthread_mutex_consistent(m);
        entry->owned.store(1);
        entry->owner.store(thisThread());
        return NamedMutexWait::Abandoned;
    case EBUSY:
    case ETIMEDOUT:
        return NamedMutexWait::TimedOut;
    default:
        return NamedMutexWait::Failed;
    }
}

bool namedMutexRelease(NamedMutex mutex)
{
    if (mutex == kNoNamedMutex)
        return false;
    Entry* entry = toHandle(mutex)->entry;
    // Refused here rather than left to the mutex's own owner check: unlocking a mutex the
    // thread does not hold is undefined for pthread mutexes in general.
    if (entry->owner.load() != thisThread())
        return false;
    const long levels = entry->owned.load();
    if (levels > 1) {
        if (::pthread_mutex_unlock(&entry->block->mutex) != 0)
            return false;
        entry->owned.store(levels - 1);
        return true;
    }
    // The last level: the mark goes before the mutex, so the next owner finds it cleared.
    entry->owner.store(0);
    entry->owned.store(0);
    if (::pthread_mutex_unlock(&entry->block->mutex) != 0) {
        entry->owned.store(levels);
        entry->owner.store(thisThread());
        return false;
    }
    return true;
}

bool namedMutexClose(NamedMutex mutex)
{
    if (mutex == kNoNamedMutex)
        return false;
    Handle* handle = toHandle(mutex);
    Cache& c = cache();
    {
        std::lock_guard<std::mutex> guard(c.lock);
        --handle->entry->handles;
        retire(c, handle->entry);
    }
    delete handle;
    return true;
}

std::string namedMutexLocation(const char* name)
{
    try {
        std::string key;
        return objectName(name, &key) ? objectPath(key) : std::string();
    } catch (...) {
        return std::string();
    }
}

bool namedMutexDiscard(const char* name)
{
    try {
        return discard(name);
    } catch (...) {
        return false;
    }
}

}  // namespace kyro::platform
