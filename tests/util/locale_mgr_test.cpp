// CKyroUtilLocaleMgr over the installed locales (Wine's list, or the built-in table natively):
// normalising input, folder names, abbreviations and the user's locale.
#include "kyro/util/CKyroUtilLocaleMgr.h"

#include "kyro/platform/locale_info.h"

#include "ScopedVariable.h"
#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

TEST(LocaleMgr, NormalisesPairsAndAbbreviations)
{
    CKyroUtilLocaleMgr manager;
    // Known identifiers and identifiers the system has no names for change nothing.
    for (const std::uint32_t lcid : {0x0407u, 0x0466u, 0x7ffeu, 0u})
        manager.addLocale(lcid);
    const TStr user = manager.getUserLocale();
    // withFallback null: the user's locale. en_CA is well formed but has no data, ENC is known
    // but unsupported; an abbreviation no locale has stands for en_US. "de_DE " is six bytes;
    // bytes of multi-byte characters are never letters.
    const struct { const char *input, *withoutFallback, *withFallback, *folder; } rows[] = {
        {"de-de", "de_DE", "de_DE", "de-DE"}, {"pT_bR", "pt_BR", "pt_BR", "pt-BR"},
        {"zh_TW", "zh_TW", "zh_TW", "zh-TW"}, {"EN-ca", "en_CA", nullptr, nullptr},
        {"fr", "", nullptr, nullptr}, {"", "", nullptr, nullptr}, {"de_DE ", "", nullptr, nullptr},
        {"de.DE", "", nullptr, nullptr}, {"d1_DE", "", nullptr, nullptr}, {"de__E", "", nullptr, nullptr},
        {"\xC3\xA9_\xC3\xA9", "", nullptr, nullptr}, {"\xC3\xA4-DE", "", nullptr, nullptr},
        {"deu", "de_DE", "de_DE", "de-DE"}, {"CHS", "zh_CN", "zh_CN", "zh-CN"},
        {"ENC", "en_CA", nullptr, nullptr}, {"QQQ", "en_US", "en_US", "en-US"}, {"D3U", "", nullptr, nullptr},
        {"\xE2\x82\xAC", "", nullptr, nullptr},  // one 3-byte character
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(manager.normalizeLocale(row.input, false), row.withoutFallback);
        EXPECT_EQ(manager.normalizeLocale(row.input, true), row.withFallback ? TStr(row.withFallback) : user);
        EXPECT_EQ(manager.getLocaleFolderName(row.input),
                  row.folder ? TStr(row.folder) : user.left(2) + "-" + user.right(2));
    }
    EXPECT_EQ(manager.normalizeLocale(TStr(), true), user);

    // Shared abbreviations name the first locale enumerated with them; language-country
    // pairs shared by several locales keep their own abbreviations.
    const struct { const char *abbreviation, *locale; } abbreviations[] = {
        {"DeU", "de_DE"}, {"XYZ", "en_US"}, {"DEUTSCH", "en_US"}, {"", ""}, {"ZZZ", "bin_NG"},
        {"QUZ", "quz_BO"}, {"ESP", "es_ES"}, {"SRM", "sr_RS"}, {"PTG", "pt_PT"}, {"CHT", "zh_TW"},
    };
    for (const auto& row : abbreviations)
        EXPECT_EQ(manager.localeFromAbbreviation(row.abbreviation), row.locale) << row.abbreviation;
    EXPECT_EQ(manager.localeFromAbbreviation(TStr()), "");
    EXPECT_TRUE(manager.isSupportedLocale("cs_CZ") && manager.isSupportedLocale("zh_TW"));
    for (const char* unsupported : {"de_de", "de-DE", "en_CA", "de_DE;", "cs_CZ;de_DE", "de_D", ""})
        EXPECT_FALSE(manager.isSupportedLocale(unsupported)) << unsupported;
    EXPECT_FALSE(manager.isSupportedLocale(TStr()));
}

#if KYRO_TEST_WINDOWS

TEST(LocaleMgr, UserLocaleIsTheSystemsDefault)
{
    // The system's default identifier (en-US in a fresh Wine prefix), by its language and country.
    std::uint32_t lcid = 0;
    kyro::platform::LocaleNames names;
    ASSERT_TRUE(kyro::platform::userDefaultLocale(&lcid));
    ASSERT_TRUE(kyro::platform::readLocaleNames(lcid, &names));
    EXPECT_EQ(CKyroUtilLocaleMgr().getUserLocale(), TStr(names.language) + "_" + names.country);
}

#else

TEST(LocaleMgr, UserLocaleFromTheEnvironment)
{
    const struct { const char *all, *messages, *lang, *user; } rows[] = {
        {nullptr, nullptr, nullptr, "en_US"},
        {nullptr, "fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR"},
        {"it_IT", "fr_FR.UTF-8", "de_DE.UTF-8", "it_IT"},
        {"", "", "pt_BR.UTF-8", "pt_BR"},  // set but empty counts as not set
        // The first one set decides, even when the table does not know it.
        {"C", nullptr, "de_DE.UTF-8", "en_US"}, {nullptr, nullptr, "C.UTF-8", "en_US"},
        {nullptr, nullptr, "xx_YY.UTF-8", "en_US"}, {nullptr, nullptr, "de", "en_US"},
        {nullptr, nullptr, "de_DE_x", "en_US"},
        // Codeset and modifier do not matter; case does not either.
        {nullptr, nullptr, "sr_RS@latin", "sr_RS"}, {nullptr, nullptr, "ES_es.ISO-8859-15@euro", "es_ES"},
        // Unsupported locales are still the user's; one whose abbreviation ("ZZZ") an earlier
        // one has too is named by its own names.
        {nullptr, nullptr, "fil_PH.UTF-8", "fil_PH"}, {nullptr, nullptr, "en_AE.UTF-8", "en_AE"},
    };
    for (const auto& row : rows) {
        const ScopedVariable all("LC_ALL", row.all), messages("LC_MESSAGES", row.messages),
            lang("LANG", row.lang);
        EXPECT_EQ(CKyroUtilLocaleMgr().getUserLocale(), row.user) << (row.lang ? row.lang : "-");
    }
}

#endif
