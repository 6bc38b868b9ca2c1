// Windows backend of named pipes: byte-mode named pipes, opened for overlapped I/O.
//
// Every call that can block issues its operation overlapped and waits for it together
// with the handle's "closed" event. closePipe() sets that event; a waiting call then
// cancels its own operation (CancelIoEx), waits for it to finish and reports the handle
// closed. The pipe handle itself is closed with the last reference to it, so it is never
// closed (and its number reused) under a running call. This works alike on Windows and
// under Wine, where a thread blocked in a synchronous ConnectNamedPipe is not released by
// DisconnectNamedPipe.
#include "kyro/platform/named_pipe.h"
#include "kyro/platform/fault_injection.h"

#include "../handle_table.h"

#include "windows_support.h"

#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace kyro::platform {

namespace {

// ---- Handles ----------------------------------------------------------------------------

struct Pipe {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE closed = nullptr;  // manual-reset, set by closePipe()
    bool server = false;

    std::mutex eventsLock;
    std::vector<HANDLE> spareEvents;  // one per call in flight, kept for the next calls

    ~Pipe()
    {
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        if (closed != nullptr)
            ::CloseHandle(closed);
        for (const HANDLE event : spareEvents)
            ::CloseHandle(event);
    }

    bool isClosed() const { return ::WaitForSingleObject(closed, 0) == WAIT_OBJECT_0; }

    HANDLE takeEvent()
    {
        {
            std::lock_guard<std::mutex> guard(eventsLock);
            if (!spareEvents.empty()) {
                const HANDLE event = spareEvents.back();
                spareEvents.pop_back();
                return event;
            }
        }
        return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }

    void giveEvent(HANDLE event)
    {
        std::lock_guard<std::mutex> guard(eventsLock);
        try {
            spareEvents.push_back(event);
        } catch (...) {
            ::CloseHandle(event);
        }
    }
};

HandleTable<Pipe>& pipes()
{
    static auto* table = new HandleTable<Pipe>();
    return *table;
}

struct Outcome {
    DWORD error = 0;         // 0: the operation succeeded
    DWORD transferred = 0;
    bool closed = false;     // the handle was closed while the operation waited
};

// Runs one overlapped operation to its end. `start` issues it with the OVERLAPPED it is
// given and returns what the issuing call returned.
template <class Start>
Outcome runOverlapped(Pipe& pipe, Start start)
{
    Outcome outcome;
    if (pipe.isClosed()) {
        outcome.error = ERROR_INVALID_HANDLE;
        outcome.closed = true;
        return outcome;
    }
    const HANDLE event = pipe.takeEvent();
    if (event == nullptr) {
        outcome.error = ::GetLastError();
        return outcome;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    BOOL done = start(&overlapped);
    DWORD error = done ? 0 : ::GetLastError();
    if (done || error == ERROR_IO_PENDING) {
        if (!done) {
            const HANDLE watched[2] = {event, pipe.closed};
            if (::WaitForMultipleObjects(2, watched, FALSE, INFINITE) != WAIT_OBJECT_0) {
                ::CancelIoEx(pipe.handle, &overlapped);
                outcome.closed = true;
            }
        }
        // The OVERLAPPED and the buffer are in use until the operation has finished.
        done = ::GetOverlappedResult(pipe.handle, &overlapped, &outcome.transferred, TRUE);
        error = done ? 0 : ::GetLastError();
    }
    pipe.giveEvent(event);
    outcome.error = error;
    if (error != 0 && pipe.isClosed())
        outcome.closed = true;
    return outcome;
}

PipeResult result(PipeStatus status, std::uint32_t bytes, DWORD error)
{
    PipeResult answer;
    answer.status = status;
    answer.bytes = bytes;
    answer.error = static_cast<std::uint32_t>(error);
    return answer;
}

void setError(std::uint32_t* error, DWORD value)
{
    if (error != nullptr)
        *error = static_cast<std::uint32_t>(value);
}

// The access list of inbound pipes: full access for the user this process runs as and
// for SYSTEM, nobody else. Made once; the user does not change.
class PipeSecurity {
public:
    PipeSecurity()
    {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> user(size);
        const bool haveUser =
            size != 0 && ::GetTokenInformation(token, TokenUser, user.data(), size, &size);
        ::CloseHandle(token);
        if (!haveUser)
            return;
        const PSID userSid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;

        unsigned char systemSid[SECURITY_MAX_SID_SIZE];
        DWORD systemSize = sizeof(systemSid);
        if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &systemSize))
            return;

        const DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                              ::GetLengthSid(userSid) + ::GetLengthSid(systemSid);
        m_acl.resize(aclSize);
        auto* acl = reinterpret_cast<ACL*>(m_acl.data());
        if (!::InitializeAcl(acl, aclSize, ACL_REVISION) ||
            !::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, userSid) ||
            !::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, systemSid) ||
            !::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !::SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE))
            return;
        m_ready = true;
    }

    // Null when the list could not be made: then no pipe is made either.
    SECURITY_ATTRIBUTES* attributes()
    {
        if (!m_ready)
            return nullptr;
        m_attributes.nLength = sizeof(m_attributes);
        m_attributes.lpSecurityDescriptor = &m_descriptor;
        m_attributes.bInheritHandle = FALSE;
        return &m_attributes;
    }

private:
    std::vector<unsigned char> m_acl;
    SECURITY_DESCRIPTOR m_descriptor{};
    SECURITY_ATTRIBUTES m_attributes{};
    bool m_ready = false;
};

std::once_flag g_securityOnce;
PipeSecurity* g_security = nullptr;

SECURITY_ATTRIBUTES* pipeSecurity()
{
    // Never destroyed: pipes may be made while static objects are torn down.
    std::call_once(g_securityOnce, [] { g_security = new (std::nothrow) PipeSecurity; });
    return g_security != nullptr ? g_security->attributes() : nullptr;
}

std::shared_ptr<Pipe> newPipe(DWORD* error)
{
    std::shared_ptr<Pipe> pipe;
    try {
        pipe = std::make_shared<Pipe>();
    } catch (...) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    pipe->closed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (pipe->closed == nullptr) {
        *error = ::GetLastError();
        return nullptr;
    }
    return pipe;
}

PipeHandle addPipe(std::shared_ptr<Pipe> pipe, std::uint32_t* error)
{
    const PipeHandle handle = pipes().add(std::move(pipe));
    setError(error, handle == kNoPipe ? ERROR_NOT_ENOUGH_MEMORY : 0);
    return handle;
}

}  // namespace

std::string pipeRuntimeFolder()
{
    return std::string();
}

PipeHandle createInboundPipe(const char* name, std::uint32_t* error)
{
    if (failThisCall(FaultPoint::PipeCreate)) {
        setError(error, ERROR_NO_SYSTEM_RESOURCES);
        return kNoPipe;
    }
    if (name == nullptr || *name == '\0') {
        setError(error, ERROR_INVALID_NAME);
        return kNoPipe;
    }
    SECURITY_ATTRIBUTES* security = pipeSecurity();
    if (security == nullptr) {
        setError(error, ERROR_ACCESS_DENIED);
        return kNoPipe;
    }
    DWORD failure = 0;
    std::shared_ptr<Pipe> pipe = newPipe(&failure);
    if (pipe == nullptr) {
        setError(error, failure);
        return kNoPipe;
    }
    pipe->server = true;
    pipe->handle = ::CreateNamedPipeW(
        win32::widen(name).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, security);
    if (pipe->handle == INVALID_HANDLE_VALUE) {
        setError(error, ::GetLastError());
        return kNoPipe;
    }
    return addPipe(std::move(pipe), error);
}

PipeConnectResult waitForClient(PipeHandle handle, std::uint32_t* error)
{
    const std::shared_ptr<Pipe> pipe = pipes().find(handle);
    if (pipe == nullptr) {
        setError(error, ERROR_INVALID_HANDLE);
        return PipeConnectResult::Closed;
    }
    if (!pipe->server) {
        setError(error, ERROR_INVALID_FUNCTION);
        return PipeConnectResult::Failed;
    }
    const Outcome outcome = runOverlapped(*pipe, [&pipe](OVERLAPPED* overlapped) {
        return ::ConnectNamedPipe(pipe->handle, overlapped);
    });
    // A client that came before the call (535), or came and went already (232), counts.
    if (outcome.error == 0 || outcome.error == ERROR_PIPE_CONNECTED ||
        outcome.error == ERROR_NO_DATA) {
        setError(error, 0);
        return PipeConnectResult::Connected;
    }
    setError(error, outcome.error);
    return outcome.closed ? PipeConnectResult::Closed : PipeConnectResult::Failed;
}

bool waitForPipe(const char* name, std::uint32_t timeoutMs)
{
    if (name == nullptr || *name == '\0')
        return false;
    return ::WaitNamedPipeW(win32::widen(name).c_str(), timeoutMs) != FALSE;
}

bool waitForPipeToAppear(const char* name, std::uint32_t timeoutMs)
{
    if (name == nullptr || *name == '\0')
        return false;
    const std::wstring wide = win32::widen(name);
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        // A pipe whose instances are all busy exists too.
        if (::WaitNamedPipeW(wide.c_str(), 1) != FALSE || ::GetLastError() != ERROR_FILE_NOT_FOUND)
            return true;
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(1);
    }
}

PipeHandle openPipeForWriting(const char* name, std::uint32_t* error)
{
    if (name == nullptr || *name == '\0') {
        setError(error, ERROR_INVALID_NAME);
        return kNoPipe;
    }
    DWORD failure = 0;
    std::shared_ptr<Pipe> pipe = newPipe(&failure);
    if (pipe == nullptr) {
        setError(error, failure);
        return kNoPipe;
    }
    // The server may identify this client but not act as it.
    pipe->handle = ::CreateFileW(win32::widen(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED |
                                     SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                 nullptr);
    if (pipe->handle == INVALID_HANDLE_VALUE) {
        setError(error, ::GetLastError());
        return kNoPipe;
    }
    return addPipe(std::move(pipe), error);
}

PipeResult pipeRead(PipeHandle handle, void* buffer, std::uint32_t size)
{
    const std::shared_ptr<Pipe> pipe = pipes().find(handle);
    if (pipe == nullptr)
        return result(PipeStatus::InvalidHandle, 0, ERROR_INVALID_HANDLE);
    if (buffer == nullptr || size == 0)
        return result(PipeStatus::OtherError, 0, ERROR_INVALID_PARAMETER);
    const Outcome outcome = runOverlapped(*pipe, [&](OVERLAPPED* overlapped) {
        return ::ReadFile(pipe->handle, buffer, size, nullptr, overlapped);
    });
    if (outcome.error == 0) {
        return outcome.transferred > 0 ? result(PipeStatus::Ok, outcome.transferred, 0)
                                       : result(PipeStatus::EndOfData, 0, 0);
    }
    if (outcome.closed)
        return result(PipeStatus::InvalidHandle, 0, ERROR_INVALID_HANDLE);
    switch (outcome.error) {
    case ERROR_PIPE_LISTENING:
        return result(PipeStatus::Listening, 0, outcome.error);
    case ERROR_BROKEN_PIPE:
        return result(PipeStatus::Broken, 0, outcome.error);
    case ERROR_PIPE_NOT_CONNECTED:
        return result(PipeStatus::Disconnected, 0, outcome.error);
    case ERROR_INVALID_HANDLE:
        return result(PipeStatus::InvalidHandle, 0, outcome.error);
    default:
        return result(PipeStatus::OtherError, 0, outcome.error);
    }
}

PipeResult pipeWrite(PipeHandle handle, const void* bytes, std::uint32_t count)
{
    const std::shared_ptr<Pipe> pipe = pipes().find(handle);
    if (pipe == nullptr)
        return result(PipeStatus::InvalidHandle, 0, ERROR_INVALID_HANDLE);
    if (bytes == nullptr && count > 0)
        return result(PipeStatus::OtherError, 0, ERROR_INVALID_PARAMETER);
    const auto* next = static_cast<const unsigned char*>(bytes);
    std::uint32_t done = 0;
    // A blocking-mode pipe completes whole writes; the loop only guards against a system
    // that reports less.
    do {
        const Outcome outcome = runOverlapped(*pipe, [&](OVERLAPPED* overlapped) {
            return ::WriteFile(pipe->handle, next + done, count - done, nullptr, overlapped);
        });
        done += outcome.transferred;
        if (outcome.closed)
            return result(PipeStatus::InvalidHandle, done, ERROR_INVALID_HANDLE);
        switch (outcome.error) {
        case 0:
            break;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
        case ERROR_PIPE_NOT_CONNECTED:
            return result(PipeStatus::Broken, done, outcome.error);
        case ERROR_INVALID_HANDLE:
            return result(PipeStatus::InvalidHandle, done, outcome.error);
        default:
            return result(PipeStatus::OtherError, done, outcome.error);
        }
        if (outcome.transferred == 0 && done < count)
            return result(PipeStatus::OtherError, done, ERROR_WRITE_FAULT);
    } while (done < count);
    return result(PipeStatus::Ok, done, 0);
}

bool pipeFlush(PipeHandle handle)
{
    const std::shared_ptr<Pipe> pipe = pipes().find(handle);
    if (pipe == nullptr || pipe->isClosed())
        return false;
    // On a client's end FlushFileBuffers waits until the server has read everything, and
    // nothing releases that wait: a companion that stops reading would hold the caller
    // for good. What a write has finished is in the pipe already, so there is nothing
    // to wait for.
    return !pipe->server || ::FlushFileBuffers(pipe->handle) != FALSE;
}

bool pipeDisconnect(PipeHandle handle)
{
    const std::shared_ptr<Pipe> pipe = pipes().find(handle);
    return pipe != nullptr && pipe->server && ::DisconnectNamedPipe(pipe->handle) != FALSE;
}

void closePipe(PipeHandle handle)
{
    if (handle == kNoPipe || handle == 0)
        return;
    const std::shared_ptr<Pipe> pipe = pipes().remove(handle);
    if (pipe != nullptr)
        ::SetEvent(pipe->closed);
    // The pipe handle goes with the last reference: here, or when the last released call
    // returns.
}

}  // namespace kyro::platform
