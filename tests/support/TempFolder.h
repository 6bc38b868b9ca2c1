// A fresh temporary folder, removed with everything in it when the object goes.
#ifndef KYRO_TESTS_TEMPFOLDER_H
#define KYRO_TESTS_TEMPFOLDER_H

#include "kyro/util/TPath.h"

#include <string>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder as the library writes paths: "\" separators on every platform.
    const TPath& path() const { return m_path; }
    TPath operator/(const char* name) const { return m_path / name; }

private:
    TPath m_path;
};

#endif
