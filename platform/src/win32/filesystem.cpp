// Windows backend of the file and folder calls: wide Win32 and runtime calls.
#include "kyro/platform/filesystem.h"

#include "kyro/platform/fault_injection.h"
#include "windows_support.h"

#include <aclapi.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cerrno>
#include <cstdio>
#include <string>

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

std::FILE* openFile(const char* path, const char* mode)
{
    if (failThisCall(FaultPoint::FileOpen)) {
        errno = EACCES;
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::FILE* stream = ::_wfopen(win32::widen(path).c_str(), win32::widen(mode).c_str());
    if (stream != nullptr) {
        // A companion started later must not inherit our log and settings files.
        const intptr_t handle = ::_get_osfhandle(::_fileno(stream));
        if (handle != -1)
            ::SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
    }
    return stream;
}

std::FILE* openPlainFileForReading(const char* path)
{
    if (failThisCall(FaultPoint::FileOpen)) {
        errno = EACCES;
        ::SetLastError(ERROR_ACCESS_DENIED);
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
        errno = EINVAL;
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const int descriptor =
        ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor == -1) {
        ::CloseHandle(handle);
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(descriptor, "rb");
    if (stream == nullptr)
        ::_close(descriptor);   // closes the handle too
    return stream;
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

bool openAccessToEveryone(const char* path)
{
    std::wstring wide = win32::widen(path);
    return ::SetNamedSecurityInfoW(&wide[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool flushToDisk(std::FILE* stream)
{
    if (stream == nullptr || std::fflush(stream) != 0)
        return false;
    return ::_commit(::_fileno(stream)) == 0;
}

}  // namespace kyro::platform
