// The companion's own texts (the insufficient-memory notice, the privacy policy, the
// please-wait window, button and control labels), in the locale a request names.
//
// They come from "VexRes.xml", a string table of the same shape as the library's
// "KyroIntRes.xml", in the localized data folder of the locale (kLocationLocalizedData:
// "de-DE\" for "de_DE"); a locale without such a file, or a text missing from it, falls
// back to the en_US file, and that to the English built in here, so a window never shows
// an empty text for want of a file.
#ifndef KYRO_COMPANION_COMPANIONTEXTS_H
#define KYRO_COMPANION_COMPANIONTEXTS_H

#include "kyro/util/TStr.h"

#include <string>

namespace kyro::companion {

// The file each localized data folder holds.
extern const char* const kCompanionTextFile;

// The text `id` ("IDS_VEX_OK", ...) in `locale`; tables are read once per folder and kept.
// Safe from any thread.
std::string companionText(const TStr& locale, const char* id);

}  // namespace kyro::companion

#endif
