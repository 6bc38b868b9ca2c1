#include "NonFileSupport.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace {

std::wstring wide(const TStr& text)
{
    const std::string utf8 = text.utf8();
    std::wstring result(utf8.size() + 1, L'\0');
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &result[0],
                                             static_cast<int>(result.size()));
    result.resize(length > 0 ? static_cast<std::size_t>(length - 1) : 0);
    return result;
}

}  // namespace

// The folder given is not used: a pipe lives in the pipe namespace, and its name may hold
// backslashes, so "<pipe folder>\<name>" names it like a file in a folder.
WaitingNonFile::WaitingNonFile(const TPath&, const char* name)
    : m_name(name)
{
    static int serial = 0;
    m_folder = TPath(("\\\\.\\pipe\\kyro-test-nonfile-" + std::to_string(::GetCurrentProcessId()) +
                      "-" + std::to_string(++serial))
                         .c_str());
    // Outbound: a client reads, and the server never writes.
    const HANDLE pipe = ::CreateNamedPipeW(wide(path()).c_str(), PIPE_ACCESS_OUTBOUND,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                           4096, 4096, 0, nullptr);
    m_made = pipe != INVALID_HANDLE_VALUE;
    m_handle = m_made ? pipe : nullptr;
}

WaitingNonFile::~WaitingNonFile()
{
    if (m_made)
        ::CloseHandle(static_cast<HANDLE>(m_handle));
}

TPath WaitingNonFile::path() const
{
    return m_folder / m_name;
}
