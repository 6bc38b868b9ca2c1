// TPath: a TStr that names a file or folder. Components are joined with "\" on every
// platform; the platform layer turns them into the system's separators at the call.
#ifndef KYRO_UTIL_TPATH_H
#define KYRO_UTIL_TPATH_H

#include "kyro/export.h"
#include "kyro/util/TStr.h"

class KYRO_EXPORT TPath : public TStr {
public:
    TPath() = default;
    TPath(const TPath& other) = default;
    TPath(TPath&& other) noexcept = default;
    TPath(const TStr& text) : TStr(text) {}
    TPath(const char* text) : TStr(text) {}
    ~TPath() override;

    TPath& operator=(const TPath& other) = default;
    TPath& operator=(TPath&& other) noexcept = default;
    TPath& operator=(const TStr& text);

    // Joins `part` with one "\" between: "C:\a" / "b", "C:\a\" / "b", "C:\a" / "\b" and
    // "C:\a\" / "\b" all give "C:\a\b". An empty part changes nothing.
    TPath& operator/=(const char* part);

    // Whether the file or folder exists. A trailing "\" is ignored and a bare drive "C:"
    // is tested as "C:\". Any "/" in the path counts as "\" (the path is not changed).
    bool exists() const;

    // The operations below first turn every "/" of this path into "\" in place.

    bool isFile();              // exists and is a regular file
    bool createDirectories();   // the folder and any missing parents; true if it exists after
    int remove();               // deletes the file: 0 on success, as _wunlink
    TStr fileName();            // after the last "\", or the whole path without one

    // The path less its last component and the "\" before it; empty without a "\".
    TPath directory() const;
    // Removes the last component (and its "\") from this path and returns it; without a
    // "\" the whole path is returned and this path becomes empty.
    TPath takeLastComponent();

private:
    void useBackslashes();
};

KYRO_EXPORT TPath operator/(const TPath& left, const TPath& right);
KYRO_EXPORT TPath operator/(const TPath& left, const char* right);

#endif
