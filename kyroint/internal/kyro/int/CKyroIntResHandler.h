// CKyroIntResHandler: the library's user-visible texts (dialog captions, titles, messages,
// button labels), looked up by identifier in "KyroIntRes.xml", a file the host installs
// in a folder of its choice (one per language) so that the texts can be translated without
// rebuilding the library:
//
//   <KYROSTRINGTABLE>
//     <STRING ID="IDS_BUTTON_OK"><CAPTION>OK</CAPTION></STRING>
//   </KYROSTRINGTABLE>
//
// Loading (load):
// 1. A table that is loaded stays loaded: the first successful load wins, and later calls,
//    with any folder, answer true and change nothing.
// 2. An empty folder fails. Otherwise the file is the folder joined with "KyroIntRes.xml"
//    (a trailing "\" or "/" on the folder or not); "/" counts as "\".
// 3. The path must name a regular file. It is read by the library itself (wide path on
//    Windows; at most 16 MiB and 32 levels of nesting) and parsed as UTF-8 whatever its
//    declaration says.
// 4. A missing, unreadable or malformed file leaves the table unloaded; a later load, of
//    the same or another folder, may still succeed.
//
// Lookup rules (getString):
// 1. Before a successful load every answer is empty.
// 2. The entries are the first "STRING" element under the top-level "KYROSTRINGTABLE" and
//    every element after it, whatever its name; comments and other nodes between them are
//    skipped.
// 3. Identifiers ("ID" attribute; a missing one counts as empty) are compared byte for
//    byte, so letter case matters.
// 4. The first entry with the identifier that has a "CAPTION" element answers with that
//    caption's first text (entities decoded); an entry without "CAPTION" is passed over.
//    A caption without text, or whose text is not valid UTF-8, answers empty.
//
// Nothing throws and nothing is reported here: failures are a false load or an empty text.
// Loads and lookups may come from several threads; they take turns on the handler's lock.
//
// The process-wide handler is CKyroUtilSingleton<CKyroIntResHandler>::instance(), which the
// host loads through kyrointutil::setResourceFolder below.
#ifndef KYRO_INT_CKYROINTRESHANDLER_H
#define KYRO_INT_CKYROINTRESHANDLER_H

#include "kyro/util/CKyroUtilCleanup.h"
#include "kyro/util/TStr.h"

class CKyroIntResHandler {
public:
    static constexpr const char* DEFAULT_FILE_NAME = "KyroIntRes.xml";

    // Unloaded; load() reads "KyroIntRes.xml".
    CKyroIntResHandler();
    // Unloaded; load() reads `fileName` (a table of the same shape under another name, such
    // as the companion's own).
    explicit CKyroIntResHandler(const char* fileName);
    virtual ~CKyroIntResHandler();
    CKyroIntResHandler(const CKyroIntResHandler&) = delete;
    CKyroIntResHandler& operator=(const CKyroIntResHandler&) = delete;

    // Loads "KyroIntRes.xml" from `folder` (see above); true when the table is loaded.
    bool load(const TStr& folder);

    // The caption for `id`, or empty text.
    TStr getString(const TStr& id) const;

private:
    struct Document;

    Document* m_document;   // the parsed file and its lock; null only when memory ran out
    const char* m_fileName;
    bool m_loaded;          // guarded by the document's lock
};

namespace kyrointutil {

// The host names the folder of its "KyroIntRes.xml". The folder is kept process-wide (with
// a trailing "\" added when it ends with no separator) and the process-wide handler loads
// from it. When the handler cannot be had or the load fails, a CKyroIntError with status
// kStringTableNotLoaded is written to the error log and the answer is false; texts then
// come back empty (unless an earlier call loaded them: the first loaded table stays).
bool setResourceFolder(const TStr& folder);

// The folder last named by setResourceFolder, as kept; empty before.
TStr resourceFolder();

// The process-wide handler's text for `id`; empty for a null `id` or when there is no
// handler.
TStr resourceString(const char* id);

}  // namespace kyrointutil

#endif
