// Windows backend: the system's installed locales and their names.
#include "kyro/platform/locale_info.h"

#include "windows_support.h"

#include <cstdio>
#include <new>
#include <vector>

namespace kyro::platform {

namespace {

// EnumSystemLocalesW hands its callback no context, so the identifiers are gathered into
// the list of the one enumeration that runs at a time, and visited after it has ended.
SRWLOCK g_enumerationLock = SRWLOCK_INIT;
std::vector<std::uint32_t>* g_enumerated = nullptr;

// Wide text (terminated) as UTF-8 in `target`; empty when it does not fit or converts badly.
void toUtf8(const wchar_t* wide, char (&target)[kLocaleTextBytes])
{
    if (::WideCharToMultiByte(CP_UTF8, 0, wide, -1, target, kLocaleTextBytes, nullptr,
                              nullptr) == 0)
        target[0] = '\0';
}

BOOL CALLBACK collectLocale(LPWSTR text)
{
    char utf8[kLocaleTextBytes];
    toUtf8(text, utf8);
    unsigned int lcid = 0;
    if (std::sscanf(utf8, "%x", &lcid) != 1)
        return TRUE;
    try {
        g_enumerated->push_back(static_cast<std::uint32_t>(lcid));
    } catch (const std::bad_alloc&) {
        return FALSE;  // out of memory: keep what was gathered
    }
    return TRUE;
}

// One value with GetLocaleInfoW into a zero-filled buffer of 10 wide characters.
void readText(std::uint32_t lcid, LCTYPE type, char (&target)[kLocaleTextBytes])
{
    wchar_t wide[10] = {};
    if (::GetLocaleInfoW(static_cast<LCID>(lcid), type, wide, 10) == 0)
        wide[0] = L'\0';  // unknown identifier, or a text longer than the buffer
    toUtf8(wide, target);
}

}  // namespace

void enumerateInstalledLocales(LocaleVisitor visit, void* context)
{
    std::vector<std::uint32_t> identifiers;
    try {
        identifiers.reserve(512);
    } catch (const std::bad_alloc&) {
        return;
    }
    ::AcquireSRWLockExclusive(&g_enumerationLock);
    g_enumerated = &identifiers;
    ::EnumSystemLocalesW(collectLocale, LCID_INSTALLED);
    g_enumerated = nullptr;
    ::ReleaseSRWLockExclusive(&g_enumerationLock);

    for (std::uint32_t lcid : identifiers)
        visit(lcid, context);
}

bool readLocaleNames(std::uint32_t lcid, LocaleNames* names)
{
    readText(lcid, LOCALE_SABBREVLANGNAME, names->abbreviation);
    readText(lcid, LOCALE_SISO639LANGNAME, names->language);
    readText(lcid, LOCALE_SISO3166CTRYNAME, names->country);
    return names->abbreviation[0] != '\0' && names->language[0] != '\0' &&
           names->country[0] != '\0';
}

bool userDefaultLocale(std::uint32_t* lcid)
{
    const LCID user = ::GetUserDefaultLCID();
    if (user == 0)
        return false;
    *lcid = static_cast<std::uint32_t>(user);
    return true;
}

}  // namespace kyro::platform
