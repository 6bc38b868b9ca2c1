// CKyroUtilLocaleMgr: normalising locale input, folder names, abbreviations and the
// user's locale, over the installed locales (Wine's list under Wine, the built-in table
// natively). Every case builds its own manager.
#include "kyro/util/CKyroUtilLocaleMgr.h"

#include "kyro/platform/locale_info.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

struct Supported {
    const char* abbreviation;
    const char* name;
    const char* folder;
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

    kyro::platform::LocaleNames names;
    ASSERT_TRUE(kyro::platform::readLocaleNames(0x0407, &names));
    EXPECT_STREQ(names.abbreviation, "DEU");
    EXPECT_STREQ(names.language, "de");
    EXPECT_STREQ(names.country, "DE");
    // A numeric country code is a country all the same.
    ASSERT_TRUE(kyro::platform::readLocaleNames(0x580a, &names));
    EXPECT_STREQ(names.language, "es");
    EXPECT_STREQ(names.country, "419");

    EXPECT_FALSE(kyro::platform::readLocaleNames(0x7ffe, &names));
    EXPECT_STREQ(names.abbreviation, "");
    EXPECT_STREQ(names.language, "");
    EXPECT_STREQ(names.country, "");
}

TEST(LocaleMgr, NormalisesLanguageCountryPairs)
{
    const CKyroUtilLocaleMgr manager;
    const TStr user = manager.getUserLocale();
    struct Row {
        const char* input;
        const char* withoutFallback;
        const char* withFallback;  // null: the user's locale
    };
    const Row rows[] = {
        {"de-de", "de_DE", "de_DE"},
        {"DE_de", "de_DE", "de_DE"},
        {"pT-bR", "pt_BR", "pt_BR"},
        {"zh_TW", "zh_TW", "zh_TW"},
        {"en_CA", "en_CA", nullptr},   // well formed, but no data for it
        {"EN-ca", "en_CA", nullptr},
        {"fr", "", nullptr},
        {"", "", nullptr},
        {"de_DE ", "", nullptr},       // six bytes
        {"de.DE", "", nullptr},
        {"d1_DE", "", nullptr},
        {"de__E", "", nullptr},
        // Bytes of multi-byte characters are never letters.
        {"\xC3\xA9_\xC3\xA9", "", nullptr},
        {"\xC3\xA4-DE", "", nullptr},
    };
    for (const Row& row : rows) {
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
    const TStr user = manager.getUserLocale();
    EXPECT_EQ(manager.normalizeLocale("DEU", true), "de_DE");
    EXPECT_EQ(manager.normalizeLocale("deu", false), "de_DE");
    EXPECT_EQ(manager.normalizeLocale("ENC", false), "en_CA");   // known but unsupported
    EXPECT_EQ(manager.normalizeLocale("ENC", true), user);
    // An abbreviation no locale has stands for the default locale, with or without the
    // user's locale to fall back to.
    EXPECT_EQ(manager.normalizeLocale("QQQ", false), "en_US");
    EXPECT_EQ(manager.normalizeLocale("QQQ", true), "en_US");
    EXPECT_EQ(manager.getLocaleFolderName("qqq"), "en-US");
    EXPECT_EQ(manager.normalizeLocale("D3U", false), "");
    EXPECT_EQ(manager.normalizeLocale("\xE2\x82\xAC", false), "");  // one 3-byte character
    for (const Supported& locale : kSupported) {
        EXPECT_EQ(manager.localeFromAbbreviation(locale.abbreviation), locale.name);
        EXPECT_EQ(manager.normalizeLocale(locale.abbreviation, false), locale.name);
        EXPECT_EQ(manager.normalizeLocale(locale.name, false), locale.name);
        EXPECT_EQ(manager.getLocaleFolderName(locale.abbreviation), locale.folder);
        EXPECT_TRUE(manager.isSupportedLocale(locale.name)) << locale.name;
    }
}

TEST(LocaleMgr, LocaleFromAbbreviation)
{
    const CKyroUtilLocaleMgr manager;
    EXPECT_EQ(manager.localeFromAbbreviation("deu"), "de_DE");
    EXPECT_EQ(manager.localeFromAbbreviation("DeU"), "de_DE");
    EXPECT_EQ(manager.localeFromAbbreviation("XYZ"), "en_US");
    EXPECT_EQ(manager.localeFromAbbreviation("DEUTSCH"), "en_US");
    EXPECT_EQ(manager.localeFromAbbreviation(""), "");
    EXPECT_EQ(manager.localeFromAbbreviation(TStr()), "");
    // Shared abbreviations name the first locale enumerated with them.
    EXPECT_EQ(manager.localeFromAbbreviation("ZZZ"), "bin_NG");
    EXPECT_EQ(manager.localeFromAbbreviation("QUZ"), "quz_BO");
    // Language-country pairs shared by several locales keep their own abbreviations.
    EXPECT_EQ(manager.localeFromAbbreviation("ESP"), "es_ES");
    EXPECT_EQ(manager.localeFromAbbreviation("SRM"), "sr_RS");
}

TEST(LocaleMgr, AddLocaleKeepsTheFirstEntry)
{
    CKyroUtilLocaleMgr manager;
    // Known identifiers and identifiers the system has no names for change nothing.
    manager.addLocale(0x0407);
    manager.addLocale(0x0466);
    manager.addLocale(0x7ffe);
    manager.addLocale(0);
    EXPECT_EQ(manager.localeFromAbbreviation("DEU"), "de_DE");
    EXPECT_EQ(manager.localeFromAbbreviation("ZZZ"), "bin_NG");
    EXPECT_EQ(manager.localeFromAbbreviation("QUZ"), "quz_BO");
}

TEST(LocaleMgr, FolderNames)
{
    const CKyroUtilLocaleMgr manager;
    const TStr user = manager.getUserLocale();
    const TStr userFolder = user.left(2) + "-" + user.right(2);
    EXPECT_EQ(manager.getLocaleFolderName("pt_BR"), "pt-BR");
    EXPECT_EQ(manager.getLocaleFolderName("zh-tw"), "zh-TW");
    EXPECT_EQ(manager.getLocaleFolderName("CHS"), "zh-CN");
    EXPECT_EQ(manager.getLocaleFolderName(""), userFolder);
    EXPECT_EQ(manager.getLocaleFolderName("fr"), userFolder);
    EXPECT_EQ(manager.getLocaleFolderName("en_CA"), userFolder);
}

TEST(LocaleMgr, SupportedLocalesAreExact)
{
    const CKyroUtilLocaleMgr manager;
    EXPECT_FALSE(manager.isSupportedLocale("de_de"));
    EXPECT_FALSE(manager.isSupportedLocale("de-DE"));
    EXPECT_FALSE(manager.isSupportedLocale("en_CA"));
    EXPECT_FALSE(manager.isSupportedLocale("de_DE;"));
    EXPECT_FALSE(manager.isSupportedLocale("cs_CZ;de_DE"));
    EXPECT_FALSE(manager.isSupportedLocale("de_D"));
    EXPECT_FALSE(manager.isSupportedLocale(""));
    EXPECT_FALSE(manager.isSupportedLocale(TStr()));
}

#if KYRO_TEST_WINDOWS

TEST(LocaleMgr, UserLocaleIsTheSystemsDefault)
{
    // The user's locale follows the system's default identifier (en-US in a fresh Wine
    // prefix), named by its own language and country.
    const CKyroUtilLocaleMgr manager;
    std::uint32_t lcid = 0;
    kyro::platform::LocaleNames names;
    ASSERT_TRUE(kyro::platform::userDefaultLocale(&lcid));
    ASSERT_TRUE(kyro::platform::readLocaleNames(lcid, &names));
    const TStr expected = TStr(names.language) + "_" + names.country;
    EXPECT_EQ(manager.getUserLocale(), expected);
    EXPECT_EQ(manager.normalizeLocale("fr", true), expected);
}

TEST(LocaleMgr, UserLocaleFromTheEnvironment)
{
    GTEST_SKIP() << "Windows takes the user's locale from the system, not the environment";
}

#else

namespace {

// Sets the three locale variables for one case and puts the old values back afterwards.
class LocaleEnvironment {
public:
    LocaleEnvironment()
    {
        for (int i = 0; i < 3; ++i) {
            const char* value = std::getenv(kNames[i]);
            m_had[i] = value != nullptr;
            m_saved[i] = value != nullptr ? value : "";
        }
    }
    ~LocaleEnvironment()
    {
        for (int i = 0; i < 3; ++i)
            set(kNames[i], m_had[i] ? m_saved[i].c_str() : nullptr);
    }
    LocaleEnvironment(const LocaleEnvironment&) = delete;
    LocaleEnvironment& operator=(const LocaleEnvironment&) = delete;

    // null unsets
    void use(const char* all, const char* messages, const char* lang)
    {
        set("LC_ALL", all);
        set("LC_MESSAGES", messages);
        set("LANG", lang);
    }

private:
    static void set(const char* name, const char* value)
    {
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }

    static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    bool m_had[3];
    std::string m_saved[3];
};

}  // namespace

TEST(LocaleMgr, UserLocaleFromTheEnvironment)
{
    LocaleEnvironment environment;
    struct Row {
        const char* all;
        const char* messages;
        const char* lang;
        const char* user;
        const char* folder;
    };
    const Row rows[] = {
        {nullptr, nullptr, nullptr, "en_US", "en-US"},
        {nullptr, nullptr, "de_DE.UTF-8", "de_DE", "de-DE"},
        {nullptr, "fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR", "fr-FR"},
        {"it_IT", "fr_FR.UTF-8", "de_DE.UTF-8", "it_IT", "it-IT"},
        // Set but empty counts as not set.
        {"", "", "pt_BR.UTF-8", "pt_BR", "pt-BR"},
        // The first one set decides, even when the table does not know it.
        {"C", nullptr, "de_DE.UTF-8", "en_US", "en-US"},
        {nullptr, nullptr, "C", "en_US", "en-US"},
        {nullptr, nullptr, "POSIX", "en_US", "en-US"},
        {nullptr, nullptr, "C.UTF-8", "en_US", "en-US"},
        {nullptr, nullptr, "xx_YY.UTF-8", "en_US", "en-US"},
        {nullptr, nullptr, "de", "en_US", "en-US"},
        {nullptr, nullptr, "de_DE_x", "en_US", "en-US"},
        // Codeset and modifier do not matter; case does not either.
        {nullptr, nullptr, "sr_RS@latin", "sr_RS", "sr-RS"},
        {nullptr, nullptr, "ES_es.ISO-8859-15@euro", "es_ES", "es-ES"},
        // Unsupported user locales are still the user's, and the folder takes the first
        // two and the last two characters of the name.
        {nullptr, nullptr, "en_CA.UTF-8", "en_CA", "en-CA"},
        {nullptr, nullptr, "fil_PH.UTF-8", "fil_PH", "fi-PH"},
        // A locale whose abbreviation ("ZZZ") an earlier locale has too is still named by
        // its own language and country.
        {nullptr, nullptr, "en_AE.UTF-8", "en_AE", "en-AE"},
        {nullptr, nullptr, "quz_PE.UTF-8", "quz_PE", "qu-PE"},
    };
    for (const Row& row : rows) {
        environment.use(row.all, row.messages, row.lang);
        const CKyroUtilLocaleMgr manager;
        const std::string label = std::string(row.all ? row.all : "-") + " " +
                                  (row.messages ? row.messages : "-") + " " +
                                  (row.lang ? row.lang : "-");
        EXPECT_EQ(manager.getUserLocale(), row.user) << label;
        EXPECT_EQ(manager.getLocaleFolderName(""), row.folder) << label;
        EXPECT_EQ(manager.normalizeLocale("fr", true), row.user) << label;
        EXPECT_EQ(manager.normalizeLocale("de-de", true), "de_DE") << label;
    }
}

#endif
