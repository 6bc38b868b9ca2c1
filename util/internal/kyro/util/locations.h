// The library's well-known folders, by kind number:
//
//   kind  override key                            standard folder (and a final "\")
//   0     KYRO_COMMON_BIN_LOCATION                <common files>\Norveldt Shared\Kyro\R15
//   1     KYRO_COMMON_LIB_LOCATION                <common files>\Norveldt Shared\Kyro\R15
//   2     KYRO_COMMON_LOCALIZED_DATA_LOCATION     as 1, then the locale folder ("de-DE")
//   3     KYRO_COMMON_DATA_LOCATION               <common app data>\Norveldt\Kyro\R15
//   4     KYRO_LOG_FILE_LOCATION                  <common app data>\Norveldt\Kyro\R15
//   5     KYRO_ERROR_TABLE_LOCATION               <common app data>\Norveldt\Kyro\R15
//   10    KYRO_USER_SETTINGS_FILE_LOCATION        <local app data>\Norveldt\Kyro
//
// While a custom environment file is loaded (kyro/util/CKyroUtilCustomEnv.h), a kind with
// an override key comes from that file alone. Every result ends with a separator or is
// empty; kyro/platform/known_folders.h says where the system folders come from.
#ifndef KYRO_UTIL_LOCATIONS_H
#define KYRO_UTIL_LOCATIONS_H

#include "kyro/util/TStr.h"

// The kinds by name. The numbers are the kinds' identity (callers and files use them), so
// every function takes the plain number too.
enum LocationKind : int {
    kLocationBinaries = 0,
    kLocationLibraries = 1,
    kLocationLocalizedData = 2,
    kLocationCommonData = 3,
    kLocationLogFiles = 4,
    kLocationErrorTable = 5,
    kLocationUserSettings = 10,
};

// The folder of `kind`; `locale` matters for kLocationLocalizedData only.
TStr getLocation(int kind, const TStr& locale);
// The override key of `kind`, or empty.
TStr getLocationKeyName(int kind);
// The custom environment file's application keys: 0 "KYRO_APPLICATION_KYRO_RESOURCE_LOCATION",
// 1 "KYRO_APPLICATION_ERROR_LOG_FILE"; empty otherwise or without a file.
TStr getApplicationOverride(int which);
// Puts the library folder (kLocationLibraries) on the process's PATH unless it is the
// companion's folder (kLocationBinaries) or on PATH already.
void addLibraryFolderToPath();

namespace kyro::util {

// The PATH rule on its own: adds `folder` (no trailing separator) to `path`, a list
// separated by `listSeparator`, unless it is there already, compared without regard to
// ASCII letter case and with or without a trailing `folderSeparator`. True when `*path`
// changed.
bool addFolderToPathList(TStr* path, const TStr& folder, char listSeparator,
                         char folderSeparator);

}  // namespace kyro::util

#endif
