// POSIX backend of named pipes: Unix domain stream sockets that behave like the Windows
// pipes the library was made for.
//
// 1. A pipe name is one socket file in the per-user runtime folder. The instances of a
//    name in this process share one listening socket (a table by path with a count of
//    users); the file is made with the first instance and removed with the last. Files
//    that ended processes left behind are removed when this process first listens.
// 2. An instance is listening until it holds an accepted connection. Reads accept without
//    blocking, so a read with no client answers Listening at once, as ReadFile does.
// 3. A client's first byte on a new connection is kOpening. A connection that ends
//    without it is a probe (waitForPipe(), or the check for a socket file left behind by
//    an ended process) and is dropped without the instance ever seeing a client.
// 4. Every blocking call waits in poll() on its socket and on the handle's wake pipe.
//    closePipe() writes to that pipe, so blocked calls return at once; descriptors are
//    closed only when no call uses them any more, so none is reused under a running call.
#include "kyro/platform/named_pipe.h"
#include "kyro/platform/fault_injection.h"

#include "../handle_table.h"

#include "posix_support.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace kyro::platform {

// ---- The runtime folder and the names in it --------------------------------------------

namespace posix {

namespace {

// Folder paths longer than this leave too little of sun_path for the socket names.
constexpr std::size_t kMaxFolderLength = 64;
// File names stay well below NAME_MAX.
constexpr std::size_t kMaxFileName = 200;

// Whether `path` is a private folder of ours, without making it: a folder someone else
// owns, or a symbolic link, is never used. One we own with a wider mode is narrowed.
bool ownPrivateFolder(const std::string& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid())
        return false;
    return (info.st_mode & 0077) == 0 || ::chmod(path.c_str(), 0700) == 0;
}

// Makes `path` a private folder of ours, or refuses (as above).
bool privateFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return ownPrivateFolder(path);
}

// A folder only we can change, to hold ours: XDG_RUNTIME_DIR, the home.
bool usableBase(const char* base, std::size_t maxLength)
{
    if (base == nullptr || base[0] != '/' || std::strlen(base) > maxLength)
        return false;
    struct stat info;
    return ::stat(base, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & 0022) == 0;
}

// The folder where every user makes folders of their own: TMPDIR when it is usable, else
// /tmp. Usable means root's or ours, sticky when others may write in it (so that nobody
// can rename away what another made there), and short enough for the longest folder
// name made in it (fallbackFolder()).
std::string sharedBase()
{
    const char* base = std::getenv("TMPDIR");
    struct stat info;
    if (base == nullptr || base[0] != '/' || std::strlen(base) > kMaxFolderLength - 42 ||
        ::stat(base, &info) != 0 || !S_ISDIR(info.st_mode) ||
        (info.st_uid != 0 && info.st_uid != ::geteuid()) ||
        ((info.st_mode & 0022) != 0 && (info.st_mode & S_ISVTX) == 0))
        return "/tmp";
    std::string path = base;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The user's home: HOME when set, else the account's.
std::string homeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof(buffer), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return std::string();
}

// Sixteen hex digits nobody can guess.
bool randomWord(std::string* word)
{
    unsigned char bytes[8];
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool read = ::read(fd, bytes, sizeof(bytes)) == static_cast<ssize_t>(sizeof(bytes));
    ::close(fd);
    static const char kHex[] = "0123456789abcdef";
    word->clear();
    for (const unsigned char b : bytes) {
        *word += kHex[b >> 4];
        *word += kHex[b & 15];
    }
    return read;
}

// The word kept in `file`, or a new one put there when it has none that fits (or when
// `renew`). Two processes that make one at once end with the same word: the file is
// made whole under a temporary name and linked into place, where the first one stays.
bool keptWord(const std::string& file, bool renew, std::string* word)
{
    if (!renew) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0) {
            char text[17] = {};
            const ssize_t got = ::read(fd, text, 16);
            ::close(fd);
            if (got == 16 && std::strspn(text, "0123456789abcdef") == 16) {
                *word = text;
                return true;
            }
        }
    }
    std::string made;
    if (!randomWord(&made))
        return false;
    const std::string temporary = file + "." + std::to_string(::getpid());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, made.data(), made.size()) == 16;
    ::close(fd);
    const bool placed = written && (renew ? ::rename(temporary.c_str(), file.c_str()) == 0
                                          : ::link(temporary.c_str(), file.c_str()) == 0);
    const int error = errno;
    ::unlink(temporary.c_str());
    if (placed) {
        *word = made;
        return true;
    }
    return !renew && error == EEXIST && keptWord(file, false, word);
}

// When the shared folder's name for us is taken by someone else: a folder in the home
// (~/.cache/norveldt-kyro-<uid>), which nobody else can make. A home too deep for socket
// paths keeps there instead a random word that names our folder in the shared one
// (norveldt-kyro-<uid>-<word>): nobody can make that first without reading our files.
bool fallbackFolder(const std::string& home, const std::string& base, const std::string& user,
                    std::string* folder)
{
    if (home.empty() || !usableBase(home.c_str(), std::string::npos))
        return false;
    const std::string cache = home + "/.cache";
    if ((::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) ||
        !usableBase(cache.c_str(), std::string::npos))
        return false;
    const std::string own = cache + "/norveldt-kyro-" + user;
    if (!privateFolder(own))
        return false;
    if (own.size() <= kMaxFolderLength) {
        *folder = own;
        return true;
    }
    // A word that names a folder someone else has made (they saw it in the listing, and
    // the folder has been cleaned away since) is replaced once.
    std::string word;
    for (const bool renew : {false, true}) {
        if (!keptWord(own + "/short-name", renew, &word))
            return false;
        const std::string path = base + "/norveldt-kyro-" + user + "-" + word;
        if (privateFolder(path)) {
            *folder = path;
            return true;
        }
    }
    return false;
}

std::uint64_t nameHash(const std::string& text)
{
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace

// 1. $XDG_RUNTIME_DIR/norveldt-kyro, when that variable names a folder only we can change.
// 2. Else <TMPDIR or /tmp>/norveldt-kyro-<uid>, when it is ours, or when it can be made and
//    no fallback folder (3) exists yet: once one does, every process of the user keeps to
//    it, also after whoever took the name has given it up.
// 3. Else the fallback: see fallbackFolder().
bool runtimeFolder(std::string* folder)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (usableBase(runtime, kMaxFolderLength - 16)) {
        std::string path = std::string(runtime) + "/norveldt-kyro";
        if (privateFolder(path)) {
            *folder = path;
            return true;
        }
    }
    const std::string user = std::to_string(::geteuid());
    const std::string base = sharedBase();
    const std::string shared = base + "/norveldt-kyro-" + user;
    if (ownPrivateFolder(shared)) {
        *folder = shared;
        return true;
    }
    const std::string home = homeFolder();
    const bool fallbackMade =
        !home.empty() && ownPrivateFolder(home + "/.cache/norveldt-kyro-" + user);
    if (!fallbackMade && privateFolder(shared)) {
        *folder = shared;
        return true;
    }
    return fallbackFolder(home, base, user, folder);
}

std::string runtimeFilePath(const std::string& folder, char kind, const char* name,
                            bool foldCase, std::size_t maxPath)
{
    static const char kHex[] = "0123456789abcdef";
    std::string flat(1, kind);
    flat += '-';
    for (const char* p = name; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (foldCase && c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c - 'A' + 'a');
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '-') {
            flat += static_cast<char>(c);
        } else if (c == '\\' || c == '/') {
            flat += '+';
        } else {
            flat += '_';
            flat += kHex[c >> 4];
            flat += kHex[c & 15];
        }
    }
    const std::size_t room = maxPath > folder.size() + 1 ? maxPath - folder.size() - 1 : 0;
    if (flat.size() <= room && flat.size() <= kMaxFileName)
        return folder + "/" + flat;
    // Too long: a readable head, then "~" and the hash of the whole name ("~" is never
    // part of an escaped name, so a hashed file cannot meet an unhashed one).
    const std::size_t keep = (room < kMaxFileName ? room : kMaxFileName);
    if (keep < 2 + 1 + 16)
        return std::string();
    char hash[17];
    std::snprintf(hash, sizeof(hash), "%016llx", static_cast<unsigned long long>(nameHash(flat)));
    return folder + "/" + flat.substr(0, keep - 17) + "~" + hash;
}

}  // namespace posix

namespace {

// The first byte a client sends on a new connection.
constexpr unsigned char kOpening = 0x01;

// ---- Handles ----------------------------------------------------------------------------

void closeQuietly(int fd)
{
    if (fd >= 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
}

// Connections with another user's processes are refused (root excepted): the socket
// files live in a private folder, this holds when they are reached some other way.
bool peerIsUs(int fd)
{
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    return peer.uid == ::geteuid() || peer.uid == 0;
}

bool socketAddress(const std::string& path, sockaddr_un* address)
{
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address->sun_path))
        return false;
    std::memcpy(address->sun_path, path.c_str(), path.size());
    return true;
}

// The socket file of a pipe name, with "\\.\pipe\" left out. Empty (errno set) when
// there is no runtime folder or no name.
std::string socketPath(const char* name)
{
    if (name == nullptr || *name == '\0') {
        errno = EINVAL;
        return std::string();
    }
    static const char kPrefix[] = "\\\\.\\pipe\\";
    if (::strncasecmp(name, kPrefix, sizeof(kPrefix) - 1) == 0)
        name += sizeof(kPrefix) - 1;
    std::string folder;
    if (!posix::runtimeFolder(&folder)) {
        errno = EACCES;
        return std::string();
    }
    std::string path = posix::runtimeFilePath(folder, 'p', name, true,
                                              sizeof(sockaddr_un::sun_path) - 1);
    if (path.empty())
        errno = ENAMETOOLONG;
    return path;
}

// 0 when a connection to the socket file succeeded (the probe is closed again at once),
// else the errno of the attempt. Without `wait` a listener with a full queue answers
// EAGAIN instead of holding the caller.
int tryConnect(const std::string& path, int* connection, bool wait = true)
{
    sockaddr_un address;
    if (!socketAddress(path, &address))
        return ENAMETOOLONG;
    const int fd =
        ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0)
        return errno;
    int status;
    do {
        status = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } while (status != 0 && errno == EINTR);
    if (status != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    if (connection != nullptr)
        *connection = fd;
    else
        ::close(fd);
    return 0;
}

// Holds an exclusive flock() on the runtime folder while socket files are made, checked
// or removed, so that two processes never take each other's fresh file for a stale one.
class FolderLock {
public:
    explicit FolderLock(const std::string& socketFile)
    {
        const std::string folder = socketFile.substr(0, socketFile.rfind('/'));
        m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() { closeQuietly(m_fd); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_fd = -1;
};

// ---- Listening sockets ------------------------------------------------------------------

struct Listener {
    std::string path;
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
    int users = 0;
};

std::mutex g_listenersLock;
bool g_swept = false;  // guarded by g_listenersLock

// Never destroyed: pipes may still be closed while static objects are torn down.
std::map<std::string, Listener*>& listeners()
{
    static auto* table = new std::map<std::string, Listener*>();
    return *table;
}

int bindListener(const std::string& path, Listener* listener)
{
    sockaddr_un address;
    if (!socketAddress(path, &address))
        return ENAMETOOLONG;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return errno;
    const auto* where = reinterpret_cast<const sockaddr*>(&address);
    if (::bind(fd, where, sizeof(address)) != 0) {
        int error = errno;
        if (error == EADDRINUSE) {
            // A file nobody listens at any more is what an ended process leaves behind.
            const int probe = tryConnect(path, nullptr);
            if ((probe == ECONNREFUSED && ::unlink(path.c_str()) == 0) || probe == ENOENT)
                error = ::bind(fd, where, sizeof(address)) == 0 ? 0 : errno;
        }
        if (error != 0) {
            ::close(fd);
            return error;
        }
    }
    struct stat info;
    if (::listen(fd, SOMAXCONN) != 0 || ::lstat(path.c_str(), &info) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        ::close(fd);
        return error;
    }
    listener->fd = fd;
    listener->device = info.st_dev;
    listener->inode = info.st_ino;
    return 0;
}

// Removes the socket files that processes which ended without closing their pipes have
// left in the folder: nobody listens at them any more. Runs under the folder lock, so a
// file between its bind and its listen is never taken for one of those.
void sweepFolder(const std::string& socketFile)
{
    const std::string folder = socketFile.substr(0, socketFile.rfind('/'));
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr)
        return;
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strncmp(entry->d_name, "p-", 2) != 0)
            continue;
        const std::string path = folder + "/" + entry->d_name;
        struct stat info;
        if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) &&
            tryConnect(path, nullptr, false) == ECONNREFUSED)
            ::unlink(path.c_str());
    }
    ::closedir(listing);
}

Listener* acquireListener(const std::string& path, int* error)
{
    std::lock_guard<std::mutex> guard(g_listenersLock);
    auto& table = listeners();
    const auto found = table.find(path);
    if (found != table.end()) {
        ++found->second->users;
        return found->second;
    }
    std::unique_ptr<Listener> listener(new (std::nothrow) Listener);
    if (listener == nullptr) {
        *error = ENOMEM;
        return nullptr;
    }
    listener->path = path;
    {
        FolderLock folderLock(path);
        if (!g_swept) {
            g_swept = true;
            sweepFolder(path);
        }
        *error = bindListener(path, listener.get());
    }
    if (*error != 0)
        return nullptr;
    try {
        table[path] = listener.get();
    } catch (...) {
        FolderLock folderLock(path);
        ::unlink(path.c_str());
        ::close(listener->fd);
        *error = ENOMEM;
        return nullptr;
    }
    listener->users = 1;
    return listener.release();
}

void releaseListener(Listener* listener)
{
    std::lock_guard<std::mutex> guard(g_listenersLock);
    if (--listener->users > 0)
        return;
    listeners().erase(listener->path);
    {
        // Only our own file goes: never one a later server has put in its place.
        FolderLock folderLock(listener->path);
        struct stat info;
        if (::lstat(listener->path.c_str(), &info) == 0 && info.st_dev == listener->device &&
            info.st_ino == listener->inode)
            ::unlink(listener->path.c_str());
    }
    ::close(listener->fd);
    delete listener;
}

// ---- Pipe handles -----------------------------------------------------------------------

struct Pipe {
    bool server = false;
    Listener* listener = nullptr;  // server instances
    int wake[2] = {-1, -1};        // written once by closePipe(), never drained

    std::mutex lock;  // guards everything below
    int connection = -1;
    bool opened = false;        // the client's opening byte has come
    bool disconnected = false;  // pipeDisconnect(); cleared when listening again
    bool closed = false;
    int busy = 0;               // calls using `connection` outside the lock
    std::vector<int> retired;   // connections ended while in use

    ~Pipe()
    {
        closeQuietly(connection);
        for (const int fd : retired)
            closeQuietly(fd);
        closeQuietly(wake[0]);
        closeQuietly(wake[1]);
        if (listener != nullptr)
            releaseListener(listener);
    }

    // Under the lock: ends the current connection; its descriptor is closed once idle.
    void dropConnection()
    {
        if (connection < 0)
            return;
        ::shutdown(connection, SHUT_RDWR);
        if (busy == 0) {
            ::close(connection);
        } else {
            try {
                retired.push_back(connection);
            } catch (...) {
                // Out of memory: better one descriptor lost than one closed in use.
            }
        }
        connection = -1;
        opened = false;
    }

    // Under the lock, after a call outside it has finished with `connection`.
    void leave()
    {
        if (--busy == 0) {
            for (const int fd : retired)
                ::close(fd);
            retired.clear();
        }
    }
};

HandleTable<Pipe>& pipes()
{
    static auto* table = new HandleTable<Pipe>();
    return *table;
}

std::shared_ptr<Pipe> newPipe(int* error)
{
    std::shared_ptr<Pipe> pipe;
    try {
        pipe = std::make_shared<Pipe>();
    } catch (...) {
        *error = ENOMEM;
        return nullptr;
    }
    if (::pipe2(pipe->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = errno;
        return nullptr;
    }
    return pipe;
}

enum class Take { Ready, None, Failed };

// Under the lock, without blocking: makes sure the server instance has a client whose
// opening byte has come, accepting one when it has none. Probes are dropped on the way.
Take takeClient(Pipe& pipe, int* error)
{
    for (;;) {
        if (pipe.connection < 0) {
            const int fd = ::accept4(pipe.listener->fd, nullptr, nullptr,
                                     SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    return Take::None;
                *error = errno;
                return Take::Failed;
            }
            if (!peerIsUs(fd)) {
                ::close(fd);
                continue;
            }
            pipe.connection = fd;
            pipe.opened = false;
        }
        if (pipe.opened)
            return Take::Ready;
        unsigned char first = 0;
        const ssize_t got = ::recv(pipe.connection, &first, 1, MSG_DONTWAIT);
        if (got == 1 && first == kOpening) {
            pipe.opened = true;
            return Take::Ready;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Take::None;  // the opening byte is on its way
        pipe.dropConnection();  // a probe, or not one of our clients
    }
}

enum class Wait { Ready, Woken, Failed };

// Blocks until `fd` is ready for `events` or the handle's wake pipe is written.
Wait waitFor(int fd, short events, int wakeFd, int* error)
{
    pollfd watched[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) >= 0)
            break;
        if (errno != EINTR) {
            *error = errno;
            return Wait::Failed;
        }
    }
    if (watched[1].revents != 0)
        return Wait::Woken;
    return Wait::Ready;
}

PipeResult result(PipeStatus status, std::uint32_t bytes = 0, int error = 0)
{
    PipeResult answer;
    answer.status = status;
    answer.bytes = bytes;
    answer.error = static_cast<std::uint32_t>(error);
    return answer;
}

PipeResult receive(int fd, int wakeFd, void* buffer, std::uint32_t size)
{
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, size, MSG_DONTWAIT);
        if (got > 0)
            return result(PipeStatus::Ok, static_cast<std::uint32_t>(got));
        if (got == 0)
            return result(PipeStatus::Broken);
        if (errno == EINTR)
            continue;
        if (errno == ECONNRESET || errno == EPIPE)
            return result(PipeStatus::Broken, 0, errno);
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return result(PipeStatus::OtherError, 0, errno);
        int error = 0;
        const Wait wait = waitFor(fd, POLLIN, wakeFd, &error);
        if (wait == Wait::Woken)
            return result(PipeStatus::InvalidHandle, 0, EBADF);
        if (wait == Wait::Failed)
            return result(PipeStatus::OtherError, 0, error);
    }
}

PipeResult transmit(int fd, int wakeFd, const unsigned char* bytes, std::uint32_t count)
{
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t sent = ::send(fd, bytes + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<std::uint32_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN))
            return result(PipeStatus::Broken, done, errno);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return result(PipeStatus::OtherError, done, errno);
        int error = 0;
        const Wait wait = waitFor(fd, POLLOUT, wakeFd, &error);
        if (wait == Wait::Woken)
            return result(PipeStatus::InvalidHandle, done, EBADF);
        if (wait == Wait::Failed)
            return result(PipeStatus::OtherError, done, error);
    }
    return result(PipeStatus::Ok, done);
}

void setError(std::uint32_t* error, int value)
{
    if (error != nullptr)
        *error = static_cast<std::uint32_t>(value);
}

}  // namespace

std::string pipeRuntimeFolder()
{
    std::string folder;
    if (!posix::runtimeFolder(&folder))
        return std::string();
    for (char& c : folder) {
        if (c == '/')
            c = '\\';
    }
    return folder;
}

PipeHandle createInboundPipe(const char* name, std::uint32_t* error)
{
    if (failThisCall(FaultPoint::PipeCreate)) {
        setError(error, EMFILE);
        return kNoPipe;
    }
    const std::string path = socketPath(name);
    if (path.empty()) {
        setError(error, errno);
        return kNoPipe;
    }
    int failure = 0;
    std::shared_ptr<Pipe> pipe = newPipe(&failure);
    if (pipe == nullptr) {
        setError(error, failure);
        return kNoPipe;
    }
    pipe->server = true;
    pipe->listener = acquireListener(path, &failure);
    if (pipe->listener == nullptr) {
        setError(error, failure);
        return kNoPipe;
    }
    const PipeHandle handle = pipes().add(std::move(pipe));
    setError(error, handle == kNoPipe ? EMFILE : 0);
    return handle;
}

PipeConnectResult waitForClient(PipeHandle handle, std::uint32_t* error)
{
    const std::shared_ptr<Pipe> pipe = pipes().find(handle);
    if (pipe == nullptr) {
        setError(error, EBADF);
        return PipeConnectResult::Closed;
    }
    if (!pipe->server) {
        setError(error, EBADF);
        return PipeConnectResult::Failed;
    }
    std::unique_lock<std::mutex> guard(pipe->lock);
    for (;;) {
        if (pipe->closed) {
            setError(error, EBADF);
            return PipeConnectResult::Closed;
        }
        pipe->disconnected = false;  // listening again
        int failure = 0;
        const Take take = takeClient(*pipe, &failure);
        if (take == Take::Ready) {
            setError(error, 0);
            return PipeConnectResult::Connected;
        }
        if (take == Take::Failed) {
            setError(error, failure);
            return PipeConnectResult::Failed;
        }
        // No client yet, or one whose opening byte is still on its way.
        const bool greeting = pipe->connection >= 0;
        const int fd = greeting ? pipe->connection : pipe->listener->fd;
        ++pipe->busy;
        guard.unlock();
        const Wait wait = waitFor(fd, POLLIN, pipe->wake[0], &failure);
        guard.lock();
        pipe->leave();
        if (wait == Wait::Failed) {
            setError(error, failure);
            return PipeConnectResult::Failed;
        }
    }
}

bool waitForPipe(const char* name, std::uint32_t)
{
    const std::string path = socketPath(name);
    struct stat info;
    if (path.empty() || ::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return false;
    // The probe sends no opening byte: the server drops it unseen.
    return tryConnect(path, nullptr) == 0;
}

namespace {

// Watchers for waitForPipeToAppear(). Closing an inotify descriptor waits for the
// kernel's grace period (milliseconds, at times tens of them), which a companion's start
// would pay every time, so descriptors are kept and lent out, one to each waiter; a
// watch itself is added and removed in microseconds. There are never more of them than
// waits that ran at once.
class Watchers {
public:
    ~Watchers()
    {
        for (int watcher : m_idle)
            ::close(watcher);
    }

    int borrow()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (!m_idle.empty()) {
                const int watcher = m_idle.back();
                m_idle.pop_back();
                return watcher;
            }
        }
        return ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    }

    void giveBack(int watcher)
    {
        drain(watcher);  // the removed watch's IN_IGNORED, and anything before it
        std::lock_guard<std::mutex> guard(m_mutex);
        m_idle.push_back(watcher);
    }

    static void drain(int watcher)
    {
        char events[4096];
        while (::read(watcher, events, sizeof events) > 0) {
        }
    }

private:
    std::mutex m_mutex;
    std::vector<int> m_idle;
};

Watchers& watchers()
{
    static Watchers instance;
    return instance;
}

}  // namespace

bool waitForPipeToAppear(const char* name, std::uint32_t timeoutMs)
{
    const std::string path = socketPath(name);
    if (path.empty())
        return false;
    const auto exists = [&path] {
        struct stat info;
        return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
    };
    if (exists() || timeoutMs == 0)
        return exists();
    // Watch the folder before looking again, so that a socket made in between is seen.
    const std::string folder = path.substr(0, path.rfind('/'));
    const int watcher = watchers().borrow();
    const int watch = watcher < 0 ? -1
        : ::inotify_add_watch(watcher, folder.c_str(), IN_CREATE | IN_MOVED_TO);
    if (watch < 0) {
        if (watcher >= 0)
            watchers().giveBack(watcher);
        ::poll(nullptr, 0, static_cast<int>(timeoutMs));
        return exists();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool found = exists();
    while (!found) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        struct pollfd ready = {watcher, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        Watchers::drain(watcher);
        found = exists();
    }
    ::inotify_rm_watch(watcher, watch);
    watchers().giveBack(watcher);
    return found;
}

PipeHandle openPipeForWriting(const char* name, std::uint32_t* error)
{
    const std::string path = socketPath(name);
    if (path.empty()) {
        setError(error, errno);
        return kNoPipe;
    }
    int failure = 0;
    std::shared_ptr<Pipe> pipe = newPipe(&failure);
    if (pipe == nullptr) {
        setError(error, failure);
        return kNoPipe;
    }
    int fd = -1;
    failure = tryConnect(path, &fd);
    if (failure != 0) {
        setError(error, failure);
        return kNoPipe;
    }
    if (!peerIsUs(fd)) {
        ::close(fd);
        setError(error, EACCES);
        return kNoPipe;
    }
    const unsigned char opening = kOpening;
    ssize_t sent;
    do {
        sent = ::send(fd, &opening, 1, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != 1 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        setError(error, sent != 1 ? errno : EIO);
        ::close(fd);
        return kNoPipe;
    }
    pipe->connection = fd;
    pipe->opened = true;
    const PipeHandle handle = pipes().add(std::move(pipe));
    setError(error, handle == kNoPipe ? EMFILE : 0);
    return handle;
}

PipeResult pipeRead(PipeHandle handle, void* buffer, std::uint32_t size)
{
    const std::shared_ptr<Pipe> pipe = pipes().find(handle);
    if (pipe == nullptr)
        return result(PipeStatus::InvalidHandle, 0, EBADF);
    if (!pipe->server || buffer == nullptr || size == 0)
        return result(PipeStatus::OtherError, 0, pipe->server ? EINVAL : EBADF);

    std::unique_lock<std::mutex> guard(pipe->lock);
    if (pipe->closed)
        return result(PipeStatus::InvalidHandle, 0, EBADF);
    if (pipe->disconnected)
        return result(PipeStatus::Disconnected, 0, ENOTCONN);
    int failure = 0;
    const Take take = takeClient(*pipe, &failure);
    if (take == Take::None)
        return result(PipeStatus::Listening);
    if (take == Take::Failed)
        return result(PipeStatus::OtherError, 0, failure);

    const int fd = pipe->connection;
    ++pipe->busy;
    guard.unlock();
    PipeResult answer = receive(fd, pipe->wake[0], buffer, size);
    guard.lock();
    pipe->leave();
    if (answer.status == PipeStatus::Ok)
        return answer;
    if (pipe->closed)
        return result(PipeStatus::InvalidHandle, 0, EBADF);
    if (pipe->disconnected)
        return result(PipeStatus::Disconnected, 0, ENOTCONN);
    return answer;
}

PipeResult pipeWrite(PipeHandle handle, const void* bytes, std::uint32_t count)
{
    const std::shared_ptr<Pipe> pipe = pipes().find(handle);
    if (pipe == nullptr)
        return result(PipeStatus::InvalidHandle, 0, EBADF);
    if (pipe->server || (bytes == nullptr && count > 0))
        return result(PipeStatus::OtherError, 0, pipe->server ? EBADF : EINVAL);

    std::unique_lock<std::mutex> guard(pipe->lock);
    if (pipe->closed)
        return result(PipeStatus::InvalidHandle, 0, EBADF);
    const int fd = pipe->connection;
    ++pipe->busy;
    guard.unlock();
    PipeResult answer =
        transmit(fd, pipe->wake[0], static_cast<const unsigned char*>(bytes), count);
    guard.lock();
    pipe->leave();
    if (answer.status != PipeStatus::Ok && pipe->closed)
        answer.status = PipeStatus::InvalidHandle;
    return answer;
}

bool pipeFlush(PipeHandle handle)
{
    const std::shared_ptr<Pipe> pipe = pipes().find(handle);
    if (pipe == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(pipe->lock);
    return !pipe->closed;
}

bool pipeDisconnect(PipeHandle handle)
{
    const std::shared_ptr<Pipe> pipe = pipes().find(handle);
    if (pipe == nullptr || !pipe->server)
        return false;
    std::lock_guard<std::mutex> guard(pipe->lock);
    if (pipe->closed || pipe->connection < 0 || !pipe->opened)
        return false;
    pipe->dropConnection();  // a blocked read sees the end and reports Disconnected
    pipe->disconnected = true;
    return true;
}

void closePipe(PipeHandle handle)
{
    if (handle == kNoPipe || handle == 0)
        return;
    const std::shared_ptr<Pipe> pipe = pipes().remove(handle);
    if (pipe == nullptr)
        return;
    {
        std::lock_guard<std::mutex> guard(pipe->lock);
        pipe->closed = true;
        const char wake = 1;
        ssize_t written;
        do {
            written = ::write(pipe->wake[1], &wake, 1);
        } while (written < 0 && errno == EINTR);
    }
    // The descriptors go with the last reference: here, or when the last released call
    // returns.
}

}  // namespace kyro::platform
