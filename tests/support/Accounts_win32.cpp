#include "Accounts.h"

#include "FileBytes.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

namespace {

std::string sidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return "?";
    std::string narrow;
    for (const wchar_t* c = text; *c != L'\0'; ++c)
        narrow += static_cast<char>(*c);
    ::LocalFree(text);
    return narrow;
}

std::string processUserSid()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return std::string();
    unsigned char buffer[256];
    DWORD size = 0;
    std::string sid;
    if (::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size))
        sid = sidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    ::CloseHandle(token);
    return sid;
}

}  // namespace

bool fileIsUserOnly(const TPath& path, std::string* detail)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring wide = nativePath(path).wstring();
    if (::GetNamedSecurityInfoW(&wide[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        *detail = "no security information";
        return false;
    }
    const std::string user = processUserSid();
    bool ok = dacl != nullptr;
    *detail = dacl == nullptr ? "null access list" : "";
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        // Reported, not required (Wine 8 does not keep the flag): every entry is looked at below.
        if ((control & SE_DACL_PROTECTED) == 0)
            *detail += " (not protected)";
    }
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(dacl, i, &entry)) {
            ok = false;
            continue;
        }
        const ACE_HEADER* header = static_cast<ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        const ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        const std::string sid = sidText(const_cast<DWORD*>(&allowed->SidStart));
        *detail += " allow " + sid;
        if (sid != user && sid != "S-1-5-18" && sid != "S-1-5-32-544")
            ok = false;
    }
    ::LocalFree(descriptor);
    return ok;
}

bool makeSymbolicLink(const TPath& link, const TPath& target)
{
    const std::wstring wide = nativePath(link).wstring();
    if (!::CreateSymbolicLinkW(wide.c_str(), nativePath(target).wstring().c_str(), 0))
        return false;
    // Wine 8 answers TRUE and makes nothing.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool makeFifo(const TPath&)
{
    return false;
}

unsigned setCreationMask(unsigned)
{
    return 0;
}

bool setModeAndOwner(const std::string&, unsigned, unsigned long)
{
    return false;
}

HeldFileLock::HeldFileLock(const std::string&)
{
}

HeldFileLock::~HeldFileLock() = default;

unsigned long effectiveUserId()
{
    return 0;
}

OtherUser::OtherUser()
{
    m_unavailable = "a second local user is created only on Linux, by a test run as root "
                    "(not on Windows or under Wine)";
}

OtherUser::~OtherUser() = default;

int OtherUser::run(const std::string&)
{
    return -1;
}

bool OtherUser::start(const std::string&)
{
    return false;
}

void OtherUser::stopAll()
{
}
