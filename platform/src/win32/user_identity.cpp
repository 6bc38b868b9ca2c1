// Windows backend of the user token: the account's unique id, else its SID.
#include "kyro/platform/user_identity.h"

#include "windows_support.h"

#define SECURITY_WIN32
#include <sddl.h>
#include <security.h>

#include <vector>

namespace kyro::platform {
namespace {

// GetUserNameExW with room for 100 characters first, then with the size it asks for.
bool uniqueIdOfAccount(std::string* token)
{
    ULONG size = 100;
    std::vector<wchar_t> name(size + 1);
    if (!::GetUserNameExW(NameUniqueId, name.data(), &size)) {
        if (::GetLastError() != ERROR_MORE_DATA || size == 0)
            return false;
        name.assign(size + 1, L'\0');
        if (!::GetUserNameExW(NameUniqueId, name.data(), &size))
            return false;
    }
    name[size < name.size() ? size : name.size() - 1] = L'\0';
    *token = win32::narrow(name.data());
    return !token->empty();
}

bool sidOfProcessUser(std::string* token)
{
    win32::ScopedHandle process;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, process.receive()))
        return false;
    bool found = false;
    DWORD size = 0;
    ::GetTokenInformation(process.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size != 0 && ::GetTokenInformation(process.get(), TokenUser, buffer.data(), size, &size)) {
        wchar_t* text = nullptr;
        const TOKEN_USER* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
        if (::ConvertSidToStringSidW(user->User.Sid, &text)) {
            *token = win32::narrow(text);
            ::LocalFree(text);
            found = !token->empty();
        }
    }
    return found;
}

}  // namespace

bool userUniqueToken(std::string* token)
{
    if (token == nullptr)
        return false;
    token->clear();
    if (uniqueIdOfAccount(token) || sidOfProcessUser(token))
        return true;
    token->clear();
    return false;
}

}  // namespace kyro::platform
