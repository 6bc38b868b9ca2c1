#include "kyro/util/CKyroUtilLocaleMgr.h"

#include "kyro/platform/locale_info.h"

#include <cstring>
#include <new>

namespace {

// The locales the library has localized data for, in this order.
const char kSupportedLocales[] =
    "cs_CZ;de_DE;en_US;es_ES;fr_FR;hu_HU;it_IT;ja_JP;ko_KR;pl_PL;pt_BR;pt_PT;ru_RU;zh_CN;zh_TW";
const char kDefaultLocale[] = "en_US";

// First block for the map nodes: room for the usual few hundred installed locales.
constexpr std::size_t kNodeBytes = 48 * 1024;

// A letter as the C locale's isalpha sees it: ASCII only, so no byte of a multi-byte UTF-8
// character ever counts, whatever locale the host has set.
bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char toUpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char toLowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// "language_country" of a locale's names.
TStr composeName(const kyro::platform::LocaleNames& names)
{
    char name[2 * kyro::platform::kLocaleTextBytes];
    const std::size_t languageLength = std::strlen(names.language);
    const std::size_t countryLength = std::strlen(names.country);
    std::memcpy(name, names.language, languageLength);
    name[languageLength] = '_';
    std::memcpy(name + languageLength + 1, names.country, countryLength + 1);
    return TStr(name);
}

void addEnumeratedLocale(std::uint32_t lcid, void* context)
{
    static_cast<CKyroUtilLocaleMgr*>(context)->addLocale(lcid);
}

}  // namespace

CKyroUtilLocaleMgr::CKyroUtilLocaleMgr()
    : m_nodes(kNodeBytes), m_abbreviationById(&m_nodes), m_nameByAbbreviation(&m_nodes)
{
    if (m_abbreviationById.empty())
        kyro::platform::enumerateInstalledLocales(addEnumeratedLocale, this);
}

CKyroUtilLocaleMgr::~CKyroUtilLocaleMgr() = default;

void CKyroUtilLocaleMgr::addLocale(unsigned long lcid)
{
    // Identifiers are 32 bits; anything wider is no locale.
    const auto id = static_cast<std::uint32_t>(lcid);
    if (id != lcid)
        return;
    const auto idSlot = m_abbreviationById.lower_bound(id);
    if (idSlot != m_abbreviationById.end() && idSlot->first == id)
        return;

    kyro::platform::LocaleNames names;
    if (!kyro::platform::readLocaleNames(id, &names))
        return;
    for (char* c = names.abbreviation; *c != '\0'; ++c)
        *c = toUpperAscii(*c);

    // Map nodes come from the C++ heap; running out of it loses this locale, not the
    // library (this runs while the library loads).
    try {
        m_abbreviationById.emplace_hint(idSlot, id, TStr(names.abbreviation));
        const auto nameSlot = m_nameByAbbreviation.lower_bound(names.abbreviation);
        if (nameSlot == m_nameByAbbreviation.end() ||
            TStr::compare(nameSlot->first, names.abbreviation) != 0)
            m_nameByAbbreviation.emplace_hint(nameSlot, TStr(names.abbreviation),
                                              composeName(names));
    } catch (const std::bad_alloc&) {
    }
}

const TStr* CKyroUtilLocaleMgr::nameOfAbbreviation(const char* abbreviation) const
{
    const auto found = m_nameByAbbreviation.find(abbreviation);
    return found == m_nameByAbbreviation.end() ? nullptr : &found->second;
}

TStr CKyroUtilLocaleMgr::getUserLocale() const
{
    std::uint32_t lcid = 0;
    if (!kyro::platform::userDefaultLocale(&lcid))
        return TStr(kDefaultLocale);
    const auto id = m_abbreviationById.find(lcid);
    if (id == m_abbreviationById.end())
        return TStr(kDefaultLocale);
    const TStr* name = nameOfAbbreviation(id->second.utf8());
    if (name == nullptr)
        return TStr(kDefaultLocale);
    // The user's own language and country: an abbreviation that several locales share
    // ("ZZZ") names only the first of them.
    kyro::platform::LocaleNames names;
    if (kyro::platform::readLocaleNames(lcid, &names))
        return composeName(names);
    return *name;
}

TStr CKyroUtilLocaleMgr::normalizeLocale(const TStr& input, bool fallbackToUser) const
{
    const char* text = input.utf8();
    TStr candidate("");
    const int length = input.length();
    if (length == 5 && isLetter(text[0]) && isLetter(text[1]) &&
        (text[2] == '-' || text[2] == '_') && isLetter(text[3]) && isLetter(text[4])) {
        const char name[6] = {toLowerAscii(text[0]), toLowerAscii(text[1]), '_',
                              toUpperAscii(text[3]), toUpperAscii(text[4]), '\0'};
        candidate = name;
        if (isSupportedLocale(candidate))
            return candidate;
    } else if (length == 3 && isLetter(text[0]) && isLetter(text[1]) && isLetter(text[2])) {
        // An abbreviation no locale has stands for the default locale ("en_US").
        candidate = localeFromAbbreviation(input);
        if (isSupportedLocale(candidate))
            return candidate;
    }
    if (fallbackToUser)
        return getUserLocale();
    return candidate;
}

TStr CKyroUtilLocaleMgr::getLocaleFolderName(const TStr& locale) const
{
    const TStr name = normalizeLocale(locale, true);
    return name.left(2) + "-" + name.right(2);
}

bool CKyroUtilLocaleMgr::isSupportedLocale(const TStr& name) const
{
    if (name.isNull())
        return false;
    const char* wanted = name.utf8();
    const std::size_t wantedLength = static_cast<std::size_t>(name.length());
    for (const char* part = kSupportedLocales;;) {
        const char* end = std::strchr(part, ';');
        const std::size_t partLength = end != nullptr ? static_cast<std::size_t>(end - part)
                                                      : std::strlen(part);
        if (partLength == wantedLength && std::memcmp(part, wanted, partLength) == 0)
            return true;
        if (end == nullptr)
            return false;
        part = end + 1;
    }
}

TStr CKyroUtilLocaleMgr::localeFromAbbreviation(const TStr& abbreviation) const
{
    if (abbreviation.isEmpty())
        return TStr("");
    const TStr* name = nameOfAbbreviation(abbreviation.toUpper().utf8());
    return TStr(name != nullptr ? name->utf8() : kDefaultLocale);
}
