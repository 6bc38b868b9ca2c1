// The system folders the library's well-known locations are built on, and the process's
// PATH conventions.
//
// Folders come back with "\" separators and without a trailing separator, or empty when
// the system cannot name them.
//
//                       Windows                                    POSIX
//   common files        HKLM\...\CurrentVersion "CommonFilesDir"   <install prefix>/lib
//                       (REG_SZ), else CSIDL_PROGRAM_FILES_COMMON
//   common app data     CSIDL_COMMON_APPDATA                       /var/lib
//   local app data      FOLDERID_LocalAppData (looked up in        $XDG_DATA_HOME, else
//                       shell32 at run time), else                 $HOME/.local/share
//                       CSIDL_LOCAL_APPDATA
#ifndef KYRO_PLATFORM_KNOWN_FOLDERS_H
#define KYRO_PLATFORM_KNOWN_FOLDERS_H

#include <string>

namespace kyro::platform {

std::string commonFilesFolder();
std::string commonAppDataFolder();
std::string localAppDataFolder();

// The character between the folders of PATH: ";" on Windows, ":" on POSIX.
extern const char kPathListSeparator;

// A library path ("\" separators) as the system writes it in PATH.
std::string systemPathText(const char* path);

}  // namespace kyro::platform

#endif
