#include "kyro/util/locations.h"

#include "kyro/platform/known_folders.h"
#include "kyro/platform/process_launch.h"
#include "kyro/util/CKyroUtilCustomEnv.h"
#include "kyro/util/CKyroUtilLocaleMgr.h"

#include <string>

namespace {

enum class Base { None, CommonFiles, CommonData, User };

struct KindInfo {
    int kind;
    const char* key;
    Base base;
};

const KindInfo kKinds[] = {
    {kLocationBinaries, "KYRO_COMMON_BIN_LOCATION", Base::CommonFiles},
    {kLocationLibraries, "KYRO_COMMON_LIB_LOCATION", Base::CommonFiles},
    {kLocationLocalizedData, "KYRO_COMMON_LOCALIZED_DATA_LOCATION", Base::CommonFiles},
    {kLocationCommonData, "KYRO_COMMON_DATA_LOCATION", Base::CommonData},
    {kLocationLogFiles, "KYRO_LOG_FILE_LOCATION", Base::CommonData},
    {kLocationErrorTable, "KYRO_ERROR_TABLE_LOCATION", Base::CommonData},
    {kLocationUserSettings, "KYRO_USER_SETTINGS_FILE_LOCATION", Base::User},
};

const KindInfo* kindInfo(int kind)
{
    for (const KindInfo& info : kKinds) {
        if (info.kind == kind)
            return &info;
    }
    return nullptr;
}

// "R" and the library version up to its first ".": "R15\".
TStr releaseFolder()
{
    const std::string version = KYRO_VERSION_TEXT;
    return TStr(("R" + version.substr(0, version.find('.')) + "\\").c_str());
}

// A system folder followed by `tail`, or empty when the system cannot name it.
TStr block(const std::string& folder, const char* tail)
{
    return folder.empty() ? TStr() : TStr(folder.c_str()) + tail;
}

TStr standardLocation(const KindInfo& info, const TStr& locale)
{
    TStr folder;
    switch (info.base) {
    case Base::CommonFiles:
        folder = block(kyro::platform::commonFilesFolder(), "\\Norveldt Shared\\Kyro\\");
        break;
    case Base::CommonData:
        folder = block(kyro::platform::commonAppDataFolder(), "\\Norveldt\\Kyro\\");
        break;
    case Base::User:
        return block(kyro::platform::localAppDataFolder(), "\\Norveldt\\Kyro\\");
    case Base::None:
        return TStr();
    }
    if (folder.isEmpty())
        return folder;
    folder += releaseFolder();
    if (info.kind == kLocationLocalizedData && !locale.isEmpty()) {
        const TStr localeFolder = CKyroUtilLocaleMgr::instance().getLocaleFolderName(locale);
        if (!localeFolder.isEmpty()) {
            folder += localeFolder;
            folder += "\\";
        }
    }
    return folder;
}

std::string asciiUpper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

bool endsWith(const TStr& text, const char* tail)
{
    const std::string bytes = text.utf8();
    const std::string end = tail;
    return bytes.size() >= end.size() && bytes.compare(bytes.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

TStr getLocationKeyName(int kind)
{
    const KindInfo* info = kindInfo(kind);
    return info == nullptr ? TStr() : TStr(info->key);
}

TStr getLocation(int kind, const TStr& locale)
{
    const KindInfo* info = kindInfo(kind);
    if (info == nullptr)
        return TStr();
    CKyroUtilCustomEnv& environment = CKyroUtilCustomEnv::instance();
    if (!environment.isLoaded())
        return standardLocation(*info, locale);

    // A loaded file is the only source: a key it does not give is an empty location.
    TStr value = environment.getValue(TStr(info->key));
    if (value.isEmpty())
        return value;
    const char* separator = value.indexOf('/') >= 0 ? "/" : "\\";
    if (!endsWith(value, separator))
        value += separator;
    if (kind == kLocationLocalizedData && !locale.isEmpty()) {
        const TStr localeFolder = CKyroUtilLocaleMgr::instance().getLocaleFolderName(locale);
        if (!localeFolder.isEmpty()) {
            value += localeFolder;
            value += separator;
        }
    }
    return value;
}

TStr getApplicationOverride(int which)
{
    static const char* const kKeys[] = {"KYRO_APPLICATION_KYRO_RESOURCE_LOCATION",
                                        "KYRO_APPLICATION_ERROR_LOG_FILE"};
    if (which < 0 || which > 1)
        return TStr();
    return CKyroUtilCustomEnv::instance().getValue(TStr(kKeys[which]));
}

namespace kyro::util {

bool addFolderToPathList(TStr* path, const TStr& folder, char listSeparator,
                         char folderSeparator)
{
    if (path->isEmpty()) {
        *path = folder;
        return true;
    }
    std::string text = path->utf8();
    const std::string upperText = asciiUpper(text);
    const std::string upperFolder = asciiUpper(folder.utf8());
    // An occurrence counts when it ends the text or its entry: "D:\LIB", "D:\LIB;" or
    // "D:\LIB\;".
    for (std::size_t at = upperText.find(upperFolder); at != std::string::npos;
         at = upperText.find(upperFolder, at + 1)) {
        const std::size_t after = at + upperFolder.size();
        if (after == upperText.size() || upperText[after] == listSeparator ||
            (upperText[after] == folderSeparator && after + 1 < upperText.size() &&
             upperText[after + 1] == listSeparator))
            return false;
    }
    if (text.back() != listSeparator)
        text += listSeparator;
    text += folder.utf8();
    *path = text.c_str();
    return true;
}

}  // namespace kyro::util

void addLibraryFolderToPath()
{
    TStr binaries = getLocation(kLocationBinaries, TStr());
    TStr library = getLocation(kLocationLibraries, TStr());
    if (binaries.isEmpty() || library.isEmpty())
        return;
    // Both end with a separator; compare and store them without it.
    std::string binariesText = binaries.utf8();
    std::string libraryText = library.utf8();
    for (std::string* folder : {&binariesText, &libraryText}) {
        if (folder->back() == '\\' || folder->back() == '/')
            folder->pop_back();
    }
    if (asciiUpper(binariesText) == asciiUpper(libraryText))
        return;

    const TStr folder(kyro::platform::systemPathText(libraryText.c_str()).c_str());
    const char folderSeparator = kyro::platform::systemPathText("\\")[0];
    std::string current;
    TStr path;
    if (kyro::platform::environmentVariable("PATH", &current))
        path = current.c_str();
    if (kyro::util::addFolderToPathList(&path, folder, kyro::platform::kPathListSeparator,
                                        folderSeparator))
        kyro::platform::setEnvironmentVariable("PATH", path.utf8());
}
