// KyroErrorTable: the words for the numbers of error records, read from an XML file
// ("KyroErrorCodes.xml"):
//
//   <ERRORTABLES>
//     <TABLE VENDORID="1">
//       <NAME>Kyro Integration Library</NAME>
//       <ERROR CODE="5"><DESCRIPTION>The companion could not be reached</DESCRIPTION></ERROR>
//     </TABLE>
//   </ERRORTABLES>
//
// Lookup rules:
// 1. The tables are the first "TABLE" element under the first "ERRORTABLES" element and
//    every element after it, whatever its name; the codes of a table are its first "ERROR"
//    element and every element after that. Comments and other nodes between them are
//    skipped.
// 2. An element without the attribute asked for ("VENDORID", "CODE") ends the search: the
//    answer is empty.
// 3. Attributes are read as a decimal integer at the start of the value (leading blanks
//    and a sign allowed, anything after the digits ignored); a value that does not start
//    with one, or does not fit in an int, never matches.
// 4. GetVendorName takes the first matching table that has a "NAME"; GetErrorDescription
//    searches only the first matching table, and only its first matching "ERROR".
// 5. Texts are the element's first text child. Text that is not valid UTF-8 (a file in
//    another encoding) is answered as empty.
//
// The file is read by the library itself: at most 16 MiB and 32 levels of nesting; the
// encoding is taken from a byte-order mark or the XML declaration. Nothing is reported:
// a table that cannot be loaded answers every lookup with empty text.
//
// Lookups may run on several threads at once; Load and SetPathName must not run while
// they do.
#ifndef KYRO_DIAGNOSTICS_KYROERRORTABLE_H
#define KYRO_DIAGNOSTICS_KYROERRORTABLE_H

#include "kyro/export.h"
#include "kyro/util/TStr.h"

class KYRO_EXPORT KyroErrorTable {
public:
    explicit KyroErrorTable(const TStr& path = TStr(""));
    // Copies the path, the state and the whole parsed file.
    KyroErrorTable(const KyroErrorTable& other);
    KyroErrorTable& operator=(const KyroErrorTable& other);
    ~KyroErrorTable();

    // Names another file; neither loads it nor changes what is loaded.
    void SetPathName(const TStr& path);
    // Reads and parses the file; true when it parsed. Every call starts by marking the
    // table unloaded.
    bool Load();
    // Whether the last Load succeeded (and so whether lookups can answer at all).
    bool IsLoaded() const;

    // The "NAME" of the component's table, or empty.
    TStr GetVendorName(int vendorID) const;
    // The "DESCRIPTION" of the code in the component's table, or empty.
    TStr GetErrorDescription(int vendorID, int code) const;

protected:
    // One "TABLE" element of the loaded file (opaque outside the library).
    class Table;
    // The search for `code` within one table.
    TStr GetVendorErrorDescription(const Table* table, int code) const;

private:
    struct Document;

    TStr m_path;
    bool m_loaded;
    Document* m_document;   // null only when memory ran out
};

#endif
