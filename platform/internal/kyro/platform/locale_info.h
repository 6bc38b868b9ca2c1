// Installed locales by Windows locale identifier (LCID), and the user's locale.
//
// The Windows backend asks the system (EnumSystemLocalesW, GetLocaleInfoW,
// GetUserDefaultLCID). The POSIX backend carries the installed-locale list of a Windows
// system as a built-in table, in the order Windows enumerates it, and takes the user's
// locale from the environment: the first of LC_ALL, LC_MESSAGES and LANG that is set and
// not empty, read as "language_COUNTRY[.codeset][@modifier]" and looked up in the table.
#ifndef KYRO_PLATFORM_LOCALE_INFO_H
#define KYRO_PLATFORM_LOCALE_INFO_H

#include <cstdint>

namespace kyro::platform {

// Room for one locale text as UTF-8: the system's 10-unit wide buffer, terminator
// included, can hold at most 27 bytes of UTF-8.
constexpr int kLocaleTextBytes = 32;

// The three names the library keeps of a locale, as UTF-8. A text the system does not
// have (or that does not fit 10 wide units) is empty.
struct LocaleNames {
    char abbreviation[kLocaleTextBytes];  // abbreviated language name, "DEU"
    char language[kLocaleTextBytes];      // ISO 639 language name, "de"
    char country[kLocaleTextBytes];       // ISO 3166 country name, "DE"
};

using LocaleVisitor = void (*)(std::uint32_t lcid, void* context);

// Calls `visit` once for every installed locale, in the system's enumeration order.
// A locale whose identifier text cannot be read as a hexadecimal number is left out.
void enumerateInstalledLocales(LocaleVisitor visit, void* context);

// Fills `names` for one locale (every field terminated; empty where the system has no
// text). True when all three are present.
bool readLocaleNames(std::uint32_t lcid, LocaleNames* names);

// The user's default locale. False when there is none to be had (on POSIX: no variable
// set, "C", "POSIX", or a name the table does not know).
bool userDefaultLocale(std::uint32_t* lcid);

}  // namespace kyro::platform

#endif
