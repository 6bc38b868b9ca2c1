// Something at a path that is not a plain file and whose reading would wait for ever: a
// FIFO nobody writes to (POSIX), a pipe whose server never writes (Windows).
#ifndef KYRO_TESTS_NONFILESUPPORT_H
#define KYRO_TESTS_NONFILESUPPORT_H

#include "kyro/util/TPath.h"

class WaitingNonFile {
public:
    // POSIX: a FIFO named `name` in `folder`. Windows: a pipe whose name is a made-up
    // folder and `name`; folder() answers that made-up folder then.
    WaitingNonFile(const TPath& folder, const char* name);
    ~WaitingNonFile();
    WaitingNonFile(const WaitingNonFile&) = delete;
    WaitingNonFile& operator=(const WaitingNonFile&) = delete;

    bool made() const { return m_made; }
    const TPath& folder() const { return m_folder; }
    TPath path() const;

private:
    TPath m_folder;
    TPath m_name;
    bool m_made = false;
    [[maybe_unused]] void* m_handle = nullptr;   // Windows: the pipe kept open
};

#endif
