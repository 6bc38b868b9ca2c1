// Windows backend of the file and folder calls: wide Win32 and runtime calls.
#include "kyro/platform/filesystem.h"

#include "windows_support.h"

#include <direct.h>
#include <io.h>
#include <stdio.h>

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
    std::FILE* stream = ::_wfopen(win32::widen(path).c_str(), win32::widen(mode).c_str());
    if (stream != nullptr) {
        // A companion started later must not inherit our log and settings files.
        const intptr_t handle = ::_get_osfhandle(::_fileno(stream));
        if (handle != -1)
            ::SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
    }
    return stream;
}

}  // namespace kyro::platform
