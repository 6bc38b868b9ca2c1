// KyroDelimitedFile: the writer behind every diagnostic file (error, debug and performance
// logs). It owns one text file by path and a current section, the process id, date and
// time a logger stamps when it starts a record; every line it writes opens with that
// section, so lines of several processes sharing one file can be told apart.
//
// Two shapes of line, both ending in the platform's text line end (CR LF on Windows):
//   key/value:  pid TAB date TAB time TAB key=value,key=value
//   item:       pid SEP date SEP time SEP item SEP item SEP
// Text is written as UTF-8 bytes and never escaped. The file is opened lazily in append
// mode, may stay open across the lines of one record, and is closed on request.
//
// A line that cannot be written (a full disk) costs that line only: what of it reached the
// file is cut off again, back to the end of the last whole line, and the next write goes
// on as usual. Lines between beginRecord() and endRecord() make one record, which the file
// holds whole or not at all: once a line of it fails, the rest is not written and what the
// record had put in the file is taken back. (The loggers' writers of one file take turns
// on a named mutex from before the open until after the close, so nothing of anyone else's
// lies behind a record's start.) A file that ends in a line cut short (its writer was
// killed in the middle of it) gets its line end before the next line, so that line starts
// on a line of its own.
#ifndef KYRO_DIAGNOSTICS_KYRODELIMITEDFILE_H
#define KYRO_DIAGNOSTICS_KYRODELIMITEDFILE_H

#include "kyro/export.h"
#include "kyro/util/TStr.h"

#include <cstdio>
#include <list>
#include <string>
#include <utility>

namespace kyro::diagnostics {
class LineBuffer;   // a line under construction (internal)
}  // namespace kyro::diagnostics

class KYRO_EXPORT KyroDelimitedFile {
public:
    using PairList = std::list<std::pair<TStr, TStr>>;
    using ItemList = std::list<TStr>;

    explicit KyroDelimitedFile(TStr fileName);
    ~KyroDelimitedFile();
    KyroDelimitedFile(const KyroDelimitedFile&) = delete;
    KyroDelimitedFile& operator=(const KyroDelimitedFile&) = delete;

    TStr getFilename() const;
    // Another name closes the open stream; the same name changes nothing.
    void setFilename(const TStr& name);

    // Opens the file: "w" when truncate, else "a+". True when a stream is open afterwards;
    // an open stream is kept as it is (the mode is then ignored).
    bool open(bool truncate);
    void close();
    // Closes, so the next write opens the file afresh (it may have been removed or replaced).
    void refresh();
    // Cuts the file to zero length (creating it when missing); no stream stays open.
    void clearContents();

    // Stamps the section from the current process id and local time.
    void updateCurrentSection(bool withMilliseconds);
    bool isCurrentSectionSet() const;
    // The section joined with `separator`; empty unless all three parts are set.
    TStr getCurrentSection(const TStr& separator) const;

    // One key/value line. The file is opened ("a+") when needed, even when nothing can be
    // written. False for: no file name, the file cannot be opened, no section, no pairs,
    // a failed write. closeAfter closes the stream afterwards.
    bool append(PairList& pairs, bool closeAfter);
    bool append(const TStr& key, const TStr& value, bool closeAfter);
    bool write(PairList& pairs);
    bool write(const TStr& key, const TStr& value);
    bool write(const TStr& key, int value);

    // One item line with the caller's separator; the stream stays open.
    bool writeDebugLog(ItemList& items, const TStr& separator);

    // The lines from beginRecord() to endRecord() are one record. beginRecord() opens the
    // file ("a+") when needed and is false when it cannot; it ends a record under way.
    bool beginRecord();
    // True when the record is in the file whole (its lines are handed to the file now);
    // false when a line of it failed, and then nothing of it stays. close() ends a record
    // as endRecord() does.
    bool endRecord();
    // Takes back what the record under way has put in the file.
    void dropRecord();

protected:
    // The separator of key/value lines and of the error and debug logs' sections.
    static const char* const kTab;

    // The line writers under the public operations: the given section, a tab, the pairs.
    bool append(const TStr& section, const TStr& key, const TStr& value);
    bool append(const TStr& section, PairList& pairs);

    TStr formatDate(int year, int month, int day) const;
    TStr formatTime(int hour, int minute, int second) const;
    TStr formatTimeWMilliSecs(int hour, int minute, int second, int milliseconds) const;
    TStr formatSection(const TStr& date, const TStr& time, const TStr& processId,
                       const TStr& separator) const;

private:
    bool ensureOpen();
    // Adds the section (joined with `separator`) to `line`; false when it is not set.
    // `joined`: the tab-joined section may be taken as it was put together at the stamp.
    bool addSection(kyro::diagnostics::LineBuffer& line, const char* separator,
                    bool joined = true) const;
    // Writes a line; after a failure takes back what it put in the file (see takeBack).
    bool putLine(const kyro::diagnostics::LineBuffer& line);
    // The same, with a line end in front (the file ends in a line cut short).
    bool putEndedLine(const kyro::diagnostics::LineBuffer& line);
    // Hands the buffered lines to the file and cuts it back to the end of the last whole
    // line, or, in a record, to the record's start; `partial` is what the failed line put
    // there. Lines written from there on are counted from the file's end again.
    void takeBack(long long partial);
    // Takes the file's present end as the place counted from (the stream's buffer empty),
    // and finds whether it ends in a line cut short.
    void anchorAtEnd();
    // The place behind the last line end in [from, to) of the file; `from` when there is
    // none, -1 when it cannot be read.
    long long lineEndWithin(long long from, long long to) const;

    TStr m_fileName;
    TStr m_processId;
    TStr m_date;
    TStr m_time;
    TStr m_tabSection;   // the three texts joined by tabs, as lines begin
    std::size_t m_tabSectionLength;
    std::FILE* m_stream;
    // Opened for appending: the runtime then puts every write at the end of the file, so
    // no seek (which would also flush the record's buffered lines one by one) is needed.
    bool m_appending;
    // Where the lines go: the file's length when it was last known with nothing buffered
    // (-1 when unknown), the bytes of whole lines written since (line ends as stored), and
    // whether the file then ended in a line cut short.
    long long m_anchor;
    long long m_written;
    bool m_endsMidLine;
    // The record under way: whether a line of it failed, and the end of the last whole
    // line when it began (-1 when unknown).
    bool m_inRecord;
    bool m_recordFailed;
    long long m_recordStart;
    // The file's length when this object last closed it, ending with a whole line (-1 when
    // unknown): reopened at that length, it need not be read to tell how it ends.
    long long m_leftEnd;
};

#endif
