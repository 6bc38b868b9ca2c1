#include "windows_support.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <vector>

namespace kyro::platform::win32 {

std::wstring widen(const char* utf8)
{
    if (utf8 == nullptr || *utf8 == '\0')
        return std::wstring();
    const int bytes = static_cast<int>(std::strlen(utf8));
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8, bytes, nullptr, 0);
    if (units <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8, bytes, &wide[0], units);
    return wide;
}

std::string narrow(const wchar_t* wide)
{
    if (wide == nullptr || *wide == L'\0')
        return std::string();
    const int units = static_cast<int>(::wcslen(wide));
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::string text(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, units, &text[0], bytes, nullptr, nullptr);
    return text;
}

namespace {

// A token information block of this process (TokenUser, TokenOwner); empty on failure.
std::vector<unsigned char> tokenInformation(TOKEN_INFORMATION_CLASS kind)
{
    std::vector<unsigned char> buffer;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return buffer;
    DWORD size = 0;
    ::GetTokenInformation(token, kind, nullptr, 0, &size);
    if (size != 0) {
        buffer.resize(size);
        if (!::GetTokenInformation(token, kind, buffer.data(), size, &size))
            buffer.clear();
    }
    ::CloseHandle(token);
    return buffer;
}

}  // namespace

namespace {

bool ownerIsThisAccount(HANDLE object, SE_OBJECT_TYPE kind)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, kind, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                          nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    // Windows gives every named object an owner, from the creator's token when its
    // descriptor names none. Wine 8 keeps none for objects made with default security,
    // and knows only one account: there, no owner is taken for ours.
    bool ours = owner == nullptr;
    const std::vector<unsigned char> user = tokenInformation(TokenUser);
    if (!ours && !user.empty())
        ours = ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid) != FALSE;
    if (!ours) {
        const std::vector<unsigned char> defaultOwner = tokenInformation(TokenOwner);
        if (!defaultOwner.empty())
            ours = ::EqualSid(owner,
                              reinterpret_cast<const TOKEN_OWNER*>(defaultOwner.data())->Owner) !=
                   FALSE;
    }
    ::LocalFree(descriptor);
    return ours;
}

}  // namespace

bool ownedByThisAccount(HANDLE object)
{
    return ownerIsThisAccount(object, SE_KERNEL_OBJECT);
}

bool fileOwnedByThisAccount(HANDLE file)
{
    return ownerIsThisAccount(file, SE_FILE_OBJECT);
}

PSECURITY_DESCRIPTOR userOnlySecurity()
{
    const std::vector<unsigned char> user = tokenInformation(TokenUser);
    if (user.empty())
        return nullptr;
    wchar_t* sid = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid,
                                  &sid))
        return nullptr;
    // P: not open to entries inherited from the folder; FA: full control.
    std::wstring text = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;";
    text += sid;
    text += L")";
    ::LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return nullptr;
    return descriptor;
}

}  // namespace kyro::platform::win32
