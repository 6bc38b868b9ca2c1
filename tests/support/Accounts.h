// Other local users as adversaries: who may open a file, links planted in shared folders,
// and a second local account for the test's own use.
#ifndef KYRO_TESTS_ACCOUNTS_H
#define KYRO_TESTS_ACCOUNTS_H

#include "kyro/util/TPath.h"

#include <string>
#include <vector>

// Whether only the current user may open the file (POSIX: the user's, mode 0600; Windows:
// a real access list granting only the user, SYSTEM or Administrators); `detail` says why.
bool fileIsUserOnly(const TPath& path, std::string* detail);

// False where the system cannot (Wine 8 makes no symbolic links for Windows programs).
bool makeSymbolicLink(const TPath& link, const TPath& target);

// False where the file system has no FIFOs.
bool makeFifo(const TPath& path);

// Sets the process's file creation mask (POSIX); returns the old one. 0 on Windows.
unsigned setCreationMask(unsigned mask);

// Sets a file's mode and owner (POSIX; as root for another owner). False on Windows.
bool setModeAndOwner(const std::string& path, unsigned mode, unsigned long owner);

// An exclusive flock on the file through an open of its own (POSIX; never held on Windows).
class HeldFileLock {
public:
    explicit HeldFileLock(const std::string& path);
    ~HeldFileLock();
    HeldFileLock(const HeldFileLock&) = delete;
    HeldFileLock& operator=(const HeldFileLock&) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// The effective user id (POSIX); 0 on Windows.
unsigned long effectiveUserId();

// A local account made for the test (useradd) and removed with the object (userdel).
// Linux only, and only for a test run by root.
class OtherUser {
public:
    OtherUser();
    ~OtherUser();
    OtherUser(const OtherUser&) = delete;
    OtherUser& operator=(const OtherUser&) = delete;

    // Empty when the account is there; otherwise why not, for GTEST_SKIP.
    const std::string& unavailable() const { return m_unavailable; }
    const std::string& name() const { return m_name; }
    unsigned long id() const { return m_id; }

    // Runs `command` with /bin/sh as that user: its exit status, -1 when it could not run.
    int run(const std::string& command);
    // Starts `command` as that user in a process group of its own and returns at once;
    // everything started is ended (by process group) at stopAll() or destruction.
    bool start(const std::string& command);
    void stopAll();

private:
    std::string m_unavailable;
    std::string m_name;
    unsigned long m_id = 0;
    unsigned long m_group = 0;
    std::vector<long> m_started;
};

#endif
