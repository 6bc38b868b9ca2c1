#include "NonFileSupport.h"

#include "FileBytes.h"

#include <sys/stat.h>
#include <unistd.h>

WaitingNonFile::WaitingNonFile(const TPath& folder, const char* name)
    : m_folder(folder), m_name(name)
{
    m_made = ::mkfifo(nativePath(path()).c_str(), 0600) == 0;
}

WaitingNonFile::~WaitingNonFile()
{
    if (m_made)
        ::unlink(nativePath(path()).c_str());
}

TPath WaitingNonFile::path() const
{
    return m_folder / m_name;
}
