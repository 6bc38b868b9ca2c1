// Windows backend of the file and folder calls: wide Win32 and runtime calls.
#include "kyro/platform/filesystem.h"

#include "kyro/platform/fault_injection.h"
#include "windows_support.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace kyro::platform {

const char* const kTextLineEnd = "\r\n";

PathKind pathKind(const char* path)
{
    const DWORD attributes = ::GetFileAttributesW(win32::widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return PathKind::Other;
    return PathKind::File;
}

bool makeDirectory(const char* path)
{
    return ::_wmkdir(win32::widen(path).c_str()) == 0;
}

int removeFile(const char* path)
{
    return ::_wunlink(win32::widen(path).c_str()) == 0 ? 0 : -1;
}

bool listFolder(const char* folder, std::vector<std::string>* names)
{
    if (folder == nullptr || *folder == '\0' || names == nullptr)
        return false;
    std::wstring pattern = win32::widen(folder);
    if (pattern.back() != L'\\' && pattern.back() != L'/')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry;
    const HANDLE listing = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                              FindExSearchNameMatch, nullptr, 0);
    if (listing == INVALID_HANDLE_VALUE)
        return false;
    names->clear();
    do {
        if (std::wcscmp(entry.cFileName, L".") != 0 && std::wcscmp(entry.cFileName, L"..") != 0)
            names->push_back(win32::narrow(entry.cFileName));
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
    return true;
}

bool removeOwnPlainFile(const char* path)
{
    if (path == nullptr || *path == '\0')
        return false;
    // The reparse point itself is opened, never what it points to; a folder cannot be
    // opened without backup semantics. A writer that does not share deletion keeps it.
    const HANDLE handle = ::CreateFileW(
        win32::widen(path).c_str(), DELETE | READ_CONTROL,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    const bool removed =
        ::GetFileType(handle) == FILE_TYPE_DISK &&
        ::GetFileInformationByHandle(handle, &information) &&
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0 &&
        win32::fileOwnedByThisAccount(handle) &&
        ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                     sizeof disposition);
    ::CloseHandle(handle);
    return removed;
}

namespace {

// Security attributes that make a new file its user's only; not inherited by children.
class UserOnlyAttributes {
public:
    UserOnlyAttributes() : m_descriptor(win32::userOnlySecurity())
    {
        m_attributes.nLength = sizeof(m_attributes);
        m_attributes.lpSecurityDescriptor = m_descriptor;
        m_attributes.bInheritHandle = FALSE;
    }
    ~UserOnlyAttributes() { ::LocalFree(m_descriptor); }
    UserOnlyAttributes(const UserOnlyAttributes&) = delete;
    UserOnlyAttributes& operator=(const UserOnlyAttributes&) = delete;

    SECURITY_ATTRIBUTES* get() { return m_descriptor != nullptr ? &m_attributes : nullptr; }

private:
    PSECURITY_DESCRIPTOR m_descriptor;
    SECURITY_ATTRIBUTES m_attributes;
};

// A plain file on a disk, not a folder, device, pipe or reparse point; with `single`, one
// with no other name (hard link).
bool plainFile(HANDLE handle, bool single)
{
    BY_HANDLE_FILE_INFORMATION information;
    return ::GetFileType(handle) == FILE_TYPE_DISK &&
           ::GetFileInformationByHandle(handle, &information) &&
           (information.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) ==
               0 &&
           (!single || information.nNumberOfLinks <= 1);
}

// The handle as a runtime stream of `mode`; the handle is closed when that fails.
std::FILE* streamOf(HANDLE handle, int crtFlags, const char* mode)
{
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), crtFlags);
    if (fd == -1) {
        ::CloseHandle(handle);
        return nullptr;
    }
    std::FILE* stream = ::_wfdopen(fd, win32::widen(mode).c_str());
    if (stream == nullptr)
        ::_close(fd);
    return stream;
}

void refuse(DWORD error, int code)
{
    ::SetLastError(error);
    errno = code;
}

}  // namespace

std::FILE* openFile(const char* path, const char* mode)
{
    if (path == nullptr || *path == '\0' || mode == nullptr) {
        refuse(ERROR_INVALID_PARAMETER, EINVAL);
        return nullptr;
    }
    if (failThisCall(FaultPoint::FileOpen)) {
        refuse(ERROR_ACCESS_DENIED, EACCES);
        return nullptr;
    }
    DWORD access;
    DWORD disposition;
    int crtFlags;
    switch (mode[0]) {
    case 'r':
        access = GENERIC_READ;
        disposition = OPEN_EXISTING;
        crtFlags = _O_RDONLY;
        break;
    case 'w':
        access = GENERIC_WRITE;
        disposition = OPEN_ALWAYS;   // emptied below, once it is known to be a plain file
        crtFlags = _O_WRONLY;
        break;
    case 'a':
        access = GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
        crtFlags = _O_WRONLY | _O_APPEND;
        break;
    default:
        refuse(ERROR_INVALID_PARAMETER, EINVAL);
        return nullptr;
    }
    const bool update = std::strchr(mode, '+') != nullptr;
    if (update) {
        access = GENERIC_READ | GENERIC_WRITE;
        crtFlags = (crtFlags & ~(_O_RDONLY | _O_WRONLY)) | _O_RDWR;
    }
    crtFlags |= std::strchr(mode, 'b') != nullptr ? _O_BINARY : _O_TEXT;
    const bool writes = mode[0] != 'r' || update;

    // As the runtime's fopen shares it: others may read and write meanwhile. A mode that
    // writes opens a reparse point itself rather than what it points to, and refuses it.
    UserOnlyAttributes security;
    if (writes && security.get() == nullptr) {
        refuse(ERROR_ACCESS_DENIED, EACCES);
        return nullptr;
    }
    const HANDLE handle = ::CreateFileW(
        win32::widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
        writes ? security.get() : nullptr, disposition,
        FILE_ATTRIBUTE_NORMAL | (writes ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND
                    ? ENOENT
                    : EACCES;
        return nullptr;
    }
    if (!plainFile(handle, writes) || (mode[0] == 'w' && !::SetEndOfFile(handle))) {
        ::CloseHandle(handle);
        refuse(ERROR_ACCESS_DENIED, EACCES);
        return nullptr;
    }
    return streamOf(handle, crtFlags, mode);
}

std::FILE* createNewFile(const char* path)
{
    if (path == nullptr || *path == '\0') {
        refuse(ERROR_INVALID_PARAMETER, EINVAL);
        return nullptr;
    }
    if (failThisCall(FaultPoint::FileOpen)) {
        refuse(ERROR_ACCESS_DENIED, EACCES);
        return nullptr;
    }
    UserOnlyAttributes security;
    if (security.get() == nullptr) {
        refuse(ERROR_ACCESS_DENIED, EACCES);
        return nullptr;
    }
    const HANDLE handle = ::CreateFileW(win32::widen(path).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ, security.get(), CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
        return nullptr;
    }
    return streamOf(handle, _O_WRONLY | _O_BINARY, "wb");
}

std::FILE* openPlainFileForReading(const char* path)
{
    if (path == nullptr || *path == '\0') {
        refuse(ERROR_INVALID_PARAMETER, EINVAL);
        return nullptr;
    }
    if (failThisCall(FaultPoint::FileOpen)) {
        refuse(ERROR_ACCESS_DENIED, EACCES);
        return nullptr;
    }
    // Sharing as the runtime's fopen does, and deletion too, so that a file being read can
    // still be replaced. Identification only: a pipe's server never acts as this user.
    const HANDLE handle = ::CreateFileW(
        win32::widen(path).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
                : error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
                                                                                   : EIO;
        return nullptr;
    }
    // A pipe, console or other device would make a read wait without a bound.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        refuse(ERROR_INVALID_PARAMETER, EINVAL);
        return nullptr;
    }
    return streamOf(handle, _O_RDONLY | _O_BINARY, "rb");
}

std::size_t writeFile(std::FILE* stream, const void* data, std::size_t size)
{
    if (stream == nullptr || (data == nullptr && size != 0))
        return 0;
    if (failThisCall(FaultPoint::FileWrite)) {
        const std::size_t taken = std::fwrite(data, 1, size / 2, stream);
        errno = ENOSPC;
        ::SetLastError(ERROR_DISK_FULL);
        return taken;
    }
    return std::fwrite(data, 1, size, stream);
}

namespace {

HANDLE handleOf(std::FILE* stream)
{
    return stream == nullptr ? INVALID_HANDLE_VALUE
                             : reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

}  // namespace

long long fileLength(std::FILE* stream)
{
    const HANDLE handle = handleOf(stream);
    LARGE_INTEGER size;
    if (handle == INVALID_HANDLE_VALUE || !::GetFileSizeEx(handle, &size))
        return -1;
    return static_cast<long long>(size.QuadPart);
}

std::size_t readFileAt(std::FILE* stream, long long offset, void* buffer, std::size_t size)
{
    const HANDLE handle = handleOf(stream);
    if (handle == INVALID_HANDLE_VALUE || buffer == nullptr || offset < 0)
        return 0;
    // A read at an offset moves a synchronous handle's position; the runtime's stream
    // finds it where it left it.
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(handle, zero, &position, FILE_CURRENT))
        return 0;
    std::size_t done = 0;
    while (done < size) {
        const long long at = offset + static_cast<long long>(done);
        OVERLAPPED where = {};
        where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFLL);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const std::size_t left = size - done;
        const DWORD ask = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!::ReadFile(handle, static_cast<char*>(buffer) + done, ask, &got, &where) || got == 0)
            break;
        done += got;
    }
    ::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN);
    return done;
}

bool truncateFile(std::FILE* stream, long long length)
{
    const HANDLE handle = handleOf(stream);
    if (handle == INVALID_HANDLE_VALUE || length < 0)
        return false;
    std::fflush(stream);
    // The runtime's seek moves the handle's position, where SetEndOfFile cuts.
    return ::_fseeki64(stream, length, SEEK_SET) == 0 && ::SetEndOfFile(handle);
}

bool replaceFile(const char* source, const char* target)
{
    if (failThisCall(FaultPoint::FileReplace)) {
        errno = EACCES;
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    const std::wstring from = win32::widen(source);
    const std::wstring to = win32::widen(target);
    // A reader that opened the old file without FILE_SHARE_DELETE (any runtime fopen) holds
    // the replacement off for as long as it reads; such reads are short.
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(from.c_str(), to.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = ::GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt >= 100)
            return false;
        ::Sleep(10);
    }
}

bool flushToDisk(std::FILE* stream)
{
    if (stream == nullptr || std::fflush(stream) != 0)
        return false;
    return ::_commit(::_fileno(stream)) == 0;
}

}  // namespace kyro::platform
