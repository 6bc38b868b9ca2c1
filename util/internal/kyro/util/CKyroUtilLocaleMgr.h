// CKyroUtilLocaleMgr: locale names for the library's localized data.
//
// The localized files exist for fifteen locales named language "_" country ("de_DE").
// Callers give a locale as "de_DE", "de-de", a Windows three-letter abbreviation ("DEU")
// or not at all; normalizeLocale() turns that into a supported name, falling back to the
// user's locale, and getLocaleFolderName() names the data folder ("de-DE").
//
// The manager learns the installed locales once, when it is built (the process-wide one
// at library load): Windows locale identifier -> abbreviation ("DEU"), and abbreviation
// -> locale name ("de_DE"). Both maps keep the first entry made for a key, so where
// several locales share an abbreviation the first one enumerated wins. Once built, the
// maps are only read, so every const operation may be called from any thread.
#ifndef KYRO_UTIL_CKYROUTILLOCALEMGR_H
#define KYRO_UTIL_CKYROUTILLOCALEMGR_H

#include "kyro/util/TStr.h"

#include <cstdint>
#include <map>
#include <memory_resource>

class CKyroUtilLocaleMgr {
public:
    // Reads the installed locales into the maps.
    CKyroUtilLocaleMgr();
    CKyroUtilLocaleMgr(const CKyroUtilLocaleMgr&) = delete;
    CKyroUtilLocaleMgr& operator=(const CKyroUtilLocaleMgr&) = delete;
    virtual ~CKyroUtilLocaleMgr();

    // The process-wide manager, built at library load.
    static CKyroUtilLocaleMgr& instance();

    // Adds one locale by identifier. Nothing happens when the identifier is known already
    // or when the system lacks any of its three names.
    void addLocale(unsigned long lcid);

    // The user's locale name ("de_DE"): the language and country of the user's locale when
    // it is installed, not checked against the supported list; "en_US" when the user's
    // locale is unknown.
    TStr getUserLocale() const;

    // A supported name for `input`:
    //  1. five bytes, letter letter ("-" or "_") letter letter: lower-case pair, "_",
    //     upper-case pair ("DE-de" gives "de_DE"); returned when supported;
    //  2. three letters: the locale of that abbreviation; returned when supported;
    //  3. with fallbackToUser, the user's locale;
    //  4. otherwise the unsupported name of step 1 or 2, or "" when neither applied.
    // An abbreviation no installed locale has counts as not applying.
    TStr normalizeLocale(const TStr& input, bool fallbackToUser) const;

    // The data folder of a locale: the normalised name (user's locale as fallback), its
    // first two characters, "-", its last two ("pt_BR" gives "pt-BR").
    TStr getLocaleFolderName(const TStr& locale) const;

    // Whether `name` is one of the supported names (exact, case-sensitive).
    bool isSupportedLocale(const TStr& name) const;

    // The locale name of an abbreviation, looked up in upper case; "en_US" when no
    // installed locale has it, "" for an empty abbreviation.
    TStr localeFromAbbreviation(const TStr& abbreviation) const;

private:
    // TStr order, also against plain text, so a lookup needs no TStr.
    struct TextOrder {
        using is_transparent = void;
        bool operator()(const TStr& a, const TStr& b) const { return a < b; }
        bool operator()(const TStr& a, const char* b) const { return TStr::compare(a, b) < 0; }
        bool operator()(const char* a, const TStr& b) const { return TStr::compare(b, a) > 0; }
    };

    // The name of an upper-case abbreviation; null when no locale has it.
    const TStr* nameOfAbbreviation(const char* abbreviation) const;

    // The map nodes, a few hundred of them, all made at once and all freed together.
    std::pmr::monotonic_buffer_resource m_nodes;
    std::pmr::map<std::uint32_t, TStr> m_abbreviationById;
    std::pmr::map<TStr, TStr, TextOrder> m_nameByAbbreviation;
};

#endif
