// CKyroUtilLocaleMgr over the installed locales (Wine's list, or the built-in table natively):
// normalising input, folder names, abbreviations and the user's locale.
#include "kyro/util/CKyroUtilLocaleMgr.h"

#include "kyro/platform/locale_info.h"

#include "ScopedVariable.h"
#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Supported {
    const char *abbreviation, *name, *folder;
    std::uint32_t lcid;
};

const Supported kSupported[] = {
    {"CSY", "cs_CZ", "cs-CZ", 0x0405}, {"DEU", "de_DE", "de-DE", 0x0407},
    {"ENU", "en_US", "en-US", 0x0409}, {"ESN", "es_ES", "es-ES", 0x0c0a},
    {"FRA", "fr_FR", "fr-FR", 0x040c}, {"HUN", "hu_HU", "hu-HU", 0x040e},
    {"ITA", "it_IT", "it-IT", 0x0410}, {"JPN", "ja_JP", "ja-JP", 0x0411},
    {"KOR", "ko_KR", "ko-KR", 0x0412}, {"PLK", "pl_PL", "pl-PL", 0x0415},
    {"PTB", "pt_BR", "pt-BR", 0x0416}, {"PTG", "pt_PT", "pt-PT", 0x0816},
    {"RUS", "ru_RU", "ru-RU", 0x0419}, {"CHS", "zh_CN", "zh-CN", 0x0804},
    {"CHT", "zh_TW", "zh-TW", 0x0404},
};

void collect(std::uint32_t lcid, void* context)
{
    static_cast<std::vector<std::uint32_t>*>(context)->push_back(lcid);
}

}  // namespace

TEST(LocaleInfo, EnumeratesAndNamesInstalledLocales)
{
    std::vector<std::uint32_t> identifiers;
    kyro::platform::enumerateInstalledLocales(collect, &identifiers);
    const std::set<std::uint32_t> distinct(identifiers.begin(), identifiers.end());
    EXPECT_EQ(distinct.size(), identifiers.size());
    for (const Supported& locale : kSupported)
        EXPECT_EQ(distinct.count(locale.lcid), 1u) << std::hex << locale.lcid;

    // A numeric country code is a country all the same; unknown identifiers give empty names.
    const struct { std::uint32_t lcid; bool known; const char *abbreviation, *names; } rows[] = {
        {0x0407, true, "DEU", "de DE"}, {0x580a, true, nullptr, "es 419"}, {0x7ffe, false, "", " "}};
    for (const auto& row : rows) {
        kyro::platform::LocaleNames names;
        EXPECT_EQ(kyro::platform::readLocaleNames(row.lcid, &names), row.known);
        EXPECT_EQ(std::string(names.language) + " " + names.country, row.names);
        EXPECT_TRUE(!row.abbreviation || std::string(names.abbreviation) == row.abbreviation);
    }
}

TEST(LocaleMgr, NormalisesLanguageCountryPairs)
{
    const CKyroUtilLocaleMgr manager;
    const TStr user = manager.getUserLocale();
    // withFallback null: the user's locale. en_CA is well formed but has no data; "de_DE " is
    // six bytes; bytes of multi-byte characters are never letters.
    const struct { const char* input; const char* withoutFallback; const char* withFallback; } rows[] = {
        {"de-de", "de_DE", "de_DE"}, {"DE_de", "de_DE", "de_DE"}, {"pT-bR", "pt_BR", "pt_BR"},
        {"zh_TW", "zh_TW", "zh_TW"}, {"en_CA", "en_CA", nullptr}, {"EN-ca", "en_CA", nullptr},
        {"fr", "", nullptr}, {"", "", nullptr}, {"de_DE ", "", nullptr}, {"de.DE", "", nullptr},
        {"d1_DE", "", nullptr}, {"de__E", "", nullptr}, {"\xC3\xA9_\xC3\xA9", "", nullptr},
        {"\xC3\xA4-DE", "", nullptr},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(manager.normalizeLocale(row.input, false), row.withoutFallback) << row.input;
        EXPECT_EQ(manager.normalizeLocale(row.input, true),
                  row.withFallback != nullptr ? TStr(row.withFallback) : user)
            << row.input;
    }
    EXPECT_EQ(manager.normalizeLocale(TStr(), false), "");
    EXPECT_EQ(manager.normalizeLocale(TStr(), true), user);
}

TEST(LocaleMgr, NormalisesAbbreviations)
{
    const CKyroUtilLocaleMgr manager;
    // ENC is known but unsupported; an abbreviation no locale has stands for the default
    // locale, with or without the fallback.
    const struct { const char* input; bool fallback; TStr normal; } rows[] = {
        {"DEU", true, "de_DE"}, {"deu", false, "de_DE"}, {"ENC", false, "en_CA"},
        {"ENC", true, manager.getUserLocale()}, {"QQQ", false, "en_US"}, {"QQQ", true, "en_US"},
        {"D3U", false, ""}, {"\xE2\x82\xAC", false, ""},  // one 3-byte character
    };
    for (const auto& row : rows)
        EXPECT_EQ(manager.normalizeLocale(row.input, row.fallback), row.normal) << row.input;
    EXPECT_EQ(manager.getLocaleFolderName("qqq"), "en-US");
    for (const Supported& locale : kSupported) {
        EXPECT_EQ(manager.localeFromAbbreviation(locale.abbreviation), locale.name);
        EXPECT_EQ(manager.normalizeLocale(locale.abbreviation, false), locale.name);
        EXPECT_EQ(manager.normalizeLocale(locale.name, false), locale.name);
        EXPECT_EQ(manager.getLocaleFolderName(locale.abbreviation), locale.folder);
        EXPECT_TRUE(manager.isSupportedLocale(locale.name)) << locale.name;
    }
}

TEST(LocaleMgr, AbbreviationsFoldersAndSupport)
{
    CKyroUtilLocaleMgr manager;
    // Known identifiers and identifiers the system has no names for change nothing.
    for (const std::uint32_t lcid : {0x0407u, 0x0466u, 0x7ffeu, 0u})
        manager.addLocale(lcid);
    const struct { const char* abbreviation; const char* locale; } abbreviations[] = {
        {"deu", "de_DE"}, {"DeU", "de_DE"}, {"XYZ", "en_US"}, {"DEUTSCH", "en_US"}, {"", ""},
        // Shared abbreviations name the first locale enumerated with them; language-country
        // pairs shared by several locales keep their own abbreviations.
        {"ZZZ", "bin_NG"}, {"QUZ", "quz_BO"}, {"ESP", "es_ES"}, {"SRM", "sr_RS"},
    };
    for (const auto& row : abbreviations)
        EXPECT_EQ(manager.localeFromAbbreviation(row.abbreviation), row.locale) << row.abbreviation;
    EXPECT_EQ(manager.localeFromAbbreviation(TStr()), "");

    const TStr user = manager.getUserLocale();
    const TStr userFolder = user.left(2) + "-" + user.right(2);
    for (const auto& row : {std::make_pair("pt_BR", TStr("pt-BR")), std::make_pair("zh-tw", TStr("zh-TW")),
                            std::make_pair("CHS", TStr("zh-CN")), std::make_pair("", userFolder),
                            std::make_pair("fr", userFolder), std::make_pair("en_CA", userFolder)})
        EXPECT_EQ(manager.getLocaleFolderName(row.first), row.second) << row.first;

    for (const char* unsupported : {"de_de", "de-DE", "en_CA", "de_DE;", "cs_CZ;de_DE", "de_D", ""})
        EXPECT_FALSE(manager.isSupportedLocale(unsupported)) << unsupported;
    EXPECT_FALSE(manager.isSupportedLocale(TStr()));
}

#if KYRO_TEST_WINDOWS

TEST(LocaleMgr, UserLocaleIsTheSystemsDefault)
{
    // The system's default identifier (en-US in a fresh Wine prefix), by its language and country.
    const CKyroUtilLocaleMgr manager;
    std::uint32_t lcid = 0;
    kyro::platform::LocaleNames names;
    ASSERT_TRUE(kyro::platform::userDefaultLocale(&lcid));
    ASSERT_TRUE(kyro::platform::readLocaleNames(lcid, &names));
    const TStr expected = TStr(names.language) + "_" + names.country;
    EXPECT_EQ(manager.getUserLocale(), expected);
    EXPECT_EQ(manager.normalizeLocale("fr", true), expected);
}

#else

TEST(LocaleMgr, UserLocaleFromTheEnvironment)
{
    const struct {
        const char *all, *messages, *lang, *user, *folder;
    } rows[] = {
        {nullptr, nullptr, nullptr, "en_US", "en-US"},
        {nullptr, nullptr, "de_DE.UTF-8", "de_DE", "de-DE"},
        {nullptr, "fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR", "fr-FR"},
        {"it_IT", "fr_FR.UTF-8", "de_DE.UTF-8", "it_IT", "it-IT"},
        // Set but empty counts as not set.
        {"", "", "pt_BR.UTF-8", "pt_BR", "pt-BR"},
        // The first one set decides, even when the table does not know it.
        {"C", nullptr, "de_DE.UTF-8", "en_US", "en-US"}, {nullptr, nullptr, "C", "en_US", "en-US"},
        {nullptr, nullptr, "POSIX", "en_US", "en-US"},
        {nullptr, nullptr, "C.UTF-8", "en_US", "en-US"},
        {nullptr, nullptr, "xx_YY.UTF-8", "en_US", "en-US"},
        {nullptr, nullptr, "de", "en_US", "en-US"}, {nullptr, nullptr, "de_DE_x", "en_US", "en-US"},
        // Codeset and modifier do not matter; case does not either.
        {nullptr, nullptr, "sr_RS@latin", "sr_RS", "sr-RS"},
        {nullptr, nullptr, "ES_es.ISO-8859-15@euro", "es_ES", "es-ES"},
        // Unsupported locales are still the user's; the folder takes two characters from each end.
        {nullptr, nullptr, "en_CA.UTF-8", "en_CA", "en-CA"},
        {nullptr, nullptr, "fil_PH.UTF-8", "fil_PH", "fi-PH"},
        // A locale whose abbreviation ("ZZZ") an earlier one has too is named by its own names.
        {nullptr, nullptr, "en_AE.UTF-8", "en_AE", "en-AE"},
        {nullptr, nullptr, "quz_PE.UTF-8", "quz_PE", "qu-PE"},
    };
    for (const auto& row : rows) {
        const ScopedVariable all("LC_ALL", row.all), messages("LC_MESSAGES", row.messages),
            lang("LANG", row.lang);
        const CKyroUtilLocaleMgr manager;
        SCOPED_TRACE(std::string(row.user) + " from " + (row.lang ? row.lang : "-"));
        EXPECT_EQ(manager.getUserLocale(), row.user);
        EXPECT_EQ(manager.getLocaleFolderName(""), row.folder);
        EXPECT_EQ(manager.normalizeLocale("fr", true), row.user);
        EXPECT_EQ(manager.normalizeLocale("de-de", true), "de_DE");
    }
}

#endif
