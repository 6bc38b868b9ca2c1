// CKyroUtilSettingsFile: a small two-level store (sections of key/value pairs) kept in an
// XML file that several processes of one user read and write at once.
//
//   <?xml version="1.0" encoding="UTF-8" standalone="yes" ?>
//   <KyroSettings>
//       <Section Name="Options">
//           <Data Key="Report">1</Data>
//       </Section>
//   </KyroSettings>
//
// Loads and saves hold a named mutex per user and file name while they touch the file. A
// save re-reads the file under that mutex and writes it back before letting go, so what
// other processes wrote meanwhile survives and our own pending values win for our keys.
// A save that cannot have the mutex writes nothing: it answers false and records a
// CKyroIntError (kSettingsNotLocked) in the error log.
// The new content goes to a new temporary file beside the old one (created exclusively,
// never through a link), which then takes its place in one step: a process that dies in
// the middle never leaves a file that does not parse. The temporary such a process leaves
// ("<file>.<pid>.<n>.<m>.tmp") goes with the next save once that process is gone; only
// plain files of this user, never a link. The file is readable and writable by its user
// only (mode 0600 on POSIX; on Windows an access list granting the user, SYSTEM and
// Administrators full control), so no other account can forge or erase what it holds.
//
// A store object is built, used and dropped by one thread within one operation.
#ifndef KYRO_INT_CKYROUTILSETTINGSFILE_H
#define KYRO_INT_CKYROUTILSETTINGSFILE_H

#include "kyro/util/TPath.h"
#include "kyro/util/TStr.h"

#include <map>
#include <memory>

class KyroMutex;

class CKyroUtilSettingsFile {
public:
    // The flag once opened the saved file to every account on the machine; it is kept for
    // the callers' sake and changes nothing: every save writes the file for its user only.
    explicit CKyroUtilSettingsFile(bool openAccessAfterSave);
    virtual ~CKyroUtilSettingsFile();
    CKyroUtilSettingsFile(const CKyroUtilSettingsFile&) = delete;
    CKyroUtilSettingsFile& operator=(const CKyroUtilSettingsFile&) = delete;

    // Reads the file at `path`. Without keepPending (a plain load) earlier pending values
    // are forgotten and `path` is remembered for save's re-read. A missing file gives a
    // fresh, valid, empty store. False for an empty path, a file that does not parse or
    // has no "KyroSettings" element, or one whose sections hold no keys.
    bool load(const TStr& path, bool keepPending = false);

    // Empties `value`; then the pending value, else the loaded one. False when either name
    // is empty or the entry is not there.
    bool getValue(const TStr& section, const TStr& key, TStr& value);

    // Sets a pending value, written by the next save. False, changing nothing, when any of
    // the three is empty. Names must not contain "/".
    bool setValue(const TStr& section, const TStr& key, const TStr& value);

    // Writes the store to `path` (see above). False when the store is not valid, the path
    // is empty, the file's mutex cannot be had, the re-read fails, there is nothing to
    // write, the folder cannot be made, or the file cannot be written; the old file is
    // then untouched.
    bool save(const TStr& path);

    // For a read-modify-write that no other process may come between: holds the file's
    // mutex from here until unlockFile() (or the store's end). load and save of a file of
    // that name take no further lock meanwhile. False when the mutex cannot be had; saves
    // then fail unless they can take it themselves.
    bool lockFile(const TStr& path);
    void unlockFile();

    // The mutex that guards the file at `path`: the user's unique token followed by the
    // file name (the text after the last "\" or "/"). Empty when the user has no token.
    static TStr mutexName(const TStr& path);

private:
    struct Document;
    class MutexScope;

    bool loadHeld(const TStr& path, bool keepPending);
    bool readContent();
    void applyPending();
    bool writeFile(const TStr& path);

    bool m_valid = false;
    TPath m_filePath;
    std::unique_ptr<Document> m_document;
    std::map<TStr, TStr> m_loadedValues;
    std::map<TStr, TStr> m_pendingValues;
    // The mutex of lockFile(), and its name.
    std::unique_ptr<KyroMutex> m_heldMutex;
    TStr m_heldMutexName;
};

#endif
