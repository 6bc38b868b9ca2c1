#include "kyro/diagnostics/KyroDelimitedFile.h"

#include "kyro/platform/clock.h"
#include "kyro/platform/filesystem.h"
#include "kyro/platform/process_info.h"

#include <algorithm>
#include <cstring>

const char* const KyroDelimitedFile::kTab = "\t";

namespace kyro::diagnostics {

// A line under construction. Lines are built for every write, and most are short: those
// stay in the object's own room, and only longer ones take memory from the heap.
class LineBuffer {
public:
    LineBuffer() = default;
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;

    void append(const char* text, std::size_t size)
    {
        if (m_heap.empty() && m_size + size <= sizeof(m_room)) {
            std::memcpy(m_room + m_size, text, size);
        } else {
            if (m_heap.empty())
                m_heap.assign(m_room, m_size);
            m_heap.append(text, size);
        }
        m_size += size;
    }
    void append(const char* text) { append(text, std::strlen(text)); }
    void append(char c) { append(&c, 1); }

    const char* data() const { return m_heap.empty() ? m_room : m_heap.data(); }
    std::size_t size() const { return m_size; }

private:
    char m_room[256];
    std::size_t m_size = 0;
    std::string m_heap;
};

}  // namespace kyro::diagnostics

using kyro::diagnostics::LineBuffer;

namespace {

void addText(LineBuffer& line, const TStr& text)
{
    line.append(text.utf8(), static_cast<std::size_t>(text.length()));
}

void addPair(LineBuffer& line, const TStr& key, const TStr& value)
{
    addText(line, key);
    line.append('=');
    addText(line, value);
}

void addPairs(LineBuffer& line, const KyroDelimitedFile::PairList& pairs)
{
    bool first = true;
    for (const auto& pair : pairs) {
        if (!first)
            line.append(',');
        first = false;
        addPair(line, pair.first, pair.second);
    }
}

// Writes `value` (not negative) in decimal with at least `digits` digits; returns the end.
char* putNumber(char* out, unsigned long value, int digits)
{
    char reversed[24];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count < digits)
        reversed[count++] = '0';
    while (count > 0)
        *out++ = reversed[--count];
    return out;
}

char* putNumber(char* out, int value, int digits)
{
    return putNumber(out, static_cast<unsigned long>(value < 0 ? 0 : value), digits);
}

// Month, day, hour, minute and second are written with two digits: the values from
// `lowest` to 9 get a leading zero.
TStr twoDigits(int value, int lowest)
{
    const TStr digits(value);
    return value >= lowest && value <= 9 ? TStr("0") + digits : digits;
}

}  // namespace

KyroDelimitedFile::KyroDelimitedFile(TStr fileName)
    : m_fileName(std::move(fileName)),
      m_tabSectionLength(0),
      m_stream(nullptr),
      m_appending(false),
      m_anchor(-1),
      m_written(0),
      m_endsMidLine(false),
      m_inRecord(false),
      m_recordFailed(false),
      m_recordStart(-1),
      m_leftEnd(-1)
{
}

KyroDelimitedFile::~KyroDelimitedFile()
{
    close();
}

TStr KyroDelimitedFile::getFilename() const
{
    return m_fileName;
}

void KyroDelimitedFile::setFilename(const TStr& name)
{
    if (name == m_fileName)
        return;
    close();
    m_fileName = name;
    m_leftEnd = -1;
}

bool KyroDelimitedFile::open(bool truncate)
{
    if (m_fileName.isEmpty())
        return false;
    if (m_stream != nullptr)
        return true;
    m_stream = kyro::platform::openFile(m_fileName.utf8(), truncate ? "w" : "a+");
    m_appending = !truncate;
    if (m_stream == nullptr)
        return false;
    anchorAtEnd();
    return true;
}

void KyroDelimitedFile::close()
{
    if (m_inRecord)
        endRecord();
    if (m_stream == nullptr)
        return;
    // The buffered lines go now, while a line that reaches the file only in part can still
    // be taken back.
    if (std::fflush(m_stream) != 0)
        takeBack(0);
    m_leftEnd = m_anchor < 0 || m_endsMidLine ? -1 : m_anchor + m_written;
    std::fclose(m_stream);
    m_stream = nullptr;
}

bool KyroDelimitedFile::beginRecord()
{
    if (m_inRecord)
        endRecord();
    if (!ensureOpen())
        return false;
    m_inRecord = true;
    m_recordFailed = false;
    m_recordStart = m_anchor < 0 ? -1 : m_anchor + m_written;
    return true;
}

bool KyroDelimitedFile::endRecord()
{
    if (!m_inRecord)
        return false;
    bool whole = !m_recordFailed && m_stream != nullptr;
    // Only once its lines are in the file is the record known to be whole.
    if (whole && std::fflush(m_stream) != 0) {
        takeBack(0);
        whole = false;
    }
    m_inRecord = false;
    m_recordFailed = false;
    return whole;
}

void KyroDelimitedFile::dropRecord()
{
    if (!m_inRecord)
        return;
    if (m_stream != nullptr && !m_recordFailed)
        takeBack(0);
    m_inRecord = false;
    m_recordFailed = false;
}

void KyroDelimitedFile::refresh()
{
    close();
    m_leftEnd = -1;
}

void KyroDelimitedFile::clearContents()
{
    if (m_fileName.isEmpty())
        return;
    close();
    if (open(true))
        close();
}

void KyroDelimitedFile::updateCurrentSection(bool withMilliseconds)
{
    // Every record is stamped, so the texts are put together digit by digit; they read
    // exactly as formatDate, formatTime and formatTimeWMilliSecs give them for the clock's
    // values (month 1 to 12, day 1 to 31, milliseconds 0 to 999).
    const kyro::platform::LocalTime now = kyro::platform::localTime();
    char joined[96];
    char* const processId = joined;
    char* end = putNumber(processId, static_cast<unsigned long>(kyro::platform::currentProcessId()), 1);
    *end = '\0';
    m_processId = processId;

    char* const date = end + 1;
    end = putNumber(date, now.year, 1);
    *end++ = '/';
    end = putNumber(end, now.month, 2);
    *end++ = '/';
    end = putNumber(end, now.day, 2);
    *end = '\0';
    m_date = date;

    char* const time = end + 1;
    end = putNumber(time, now.hour, 2);
    *end++ = ':';
    end = putNumber(end, now.minute, 2);
    *end++ = ':';
    end = putNumber(end, now.second, 2);
    if (withMilliseconds) {
        *end++ = ':';
        if (now.milliseconds >= 0)
            end = putNumber(end, now.milliseconds, 1);
    }
    *end = '\0';
    m_time = time;

    // The section as key/value and debug lines begin, joined once for all of them: the
    // terminators between the three texts become tabs.
    date[-1] = '\t';
    time[-1] = '\t';
    m_tabSection = joined;
    m_tabSectionLength = static_cast<std::size_t>(end - joined);
}

bool KyroDelimitedFile::isCurrentSectionSet() const
{
    return !m_processId.isEmpty() && !m_date.isEmpty() && !m_time.isEmpty();
}

TStr KyroDelimitedFile::getCurrentSection(const TStr& separator) const
{
    return formatSection(m_date, m_time, m_processId, separator);
}

bool KyroDelimitedFile::ensureOpen()
{
    if (m_fileName.isEmpty())
        return false;
    return m_stream != nullptr || open(false);
}

bool KyroDelimitedFile::addSection(LineBuffer& line, const char* separator, bool joined) const
{
    if (!isCurrentSectionSet())
        return false;
    if (joined && separator[0] == '\t' && separator[1] == '\0') {
        line.append(m_tabSection.utf8(), m_tabSectionLength);
        return true;
    }
    addText(line, m_processId);
    line.append(separator);
    addText(line, m_date);
    line.append(separator);
    addText(line, m_time);
    return true;
}

void KyroDelimitedFile::anchorAtEnd()
{
    m_anchor = kyro::platform::fileLength(m_stream);
    m_written = 0;
    // A file just as long as we left it ends as we left it, with a whole line: the loggers
    // open the file for every record, and a read costs as much as a tenth of one.
    char last = '\n';
    m_endsMidLine = m_anchor > 0 && m_anchor != m_leftEnd &&
                    kyro::platform::readFileAt(m_stream, m_anchor - 1, &last, 1) == 1 && last != '\n';
}

long long KyroDelimitedFile::lineEndWithin(long long from, long long to) const
{
    char chunk[512];
    while (to > from) {
        const long long start = std::max(from, to - static_cast<long long>(sizeof chunk));
        const std::size_t size = static_cast<std::size_t>(to - start);
        if (kyro::platform::readFileAt(m_stream, start, chunk, size) != size)
            return -1;
        for (std::size_t i = size; i > 0; --i) {
            if (chunk[i - 1] == '\n')
                return start + static_cast<long long>(i);
        }
        to = start;
    }
    return from;
}

void KyroDelimitedFile::takeBack(long long partial)
{
    // What is buffered goes now, or is dropped by the runtime when that fails.
    std::fflush(m_stream);
    const long long length = kyro::platform::fileLength(m_stream);
    const long long lastLineEnd = m_anchor < 0 ? -1 : m_anchor + m_written;
    const long long target = m_inRecord ? m_recordStart : lastLineEnd;
    // Beyond what we put there lie another writer's lines (one that did not wait for the
    // mutex): then the file is left as it is.
    long long cut = -1;
    if (target >= 0 && length >= 0 && length <= lastLineEnd + partial) {
        if (length >= target)
            cut = target;
        else if (length >= m_anchor)   // the system took only a part of the lines before
            cut = lineEndWithin(m_anchor, length);
    }
    if (cut >= 0 && cut < length)
        kyro::platform::truncateFile(m_stream, cut);
    if (m_inRecord)
        m_recordFailed = true;
    m_leftEnd = -1;
    anchorAtEnd();
}

bool KyroDelimitedFile::putLine(const LineBuffer& line)
{
    // After a failed line the record is lost: nothing more of it is written.
    if (m_stream == nullptr || (m_inRecord && m_recordFailed))
        return false;
    if (m_endsMidLine)
        return putEndedLine(line);
    std::size_t taken = 0;
    bool whole = m_appending || std::fseek(m_stream, 0, SEEK_END) == 0;
    if (whole) {
        taken = kyro::platform::writeFile(m_stream, line.data(), line.size());
        whole = taken == line.size();
    }
    // What reaches the file: in text mode every "\n" becomes the platform's line end.
    static const std::size_t lineEndGrowth = std::strlen(kyro::platform::kTextLineEnd) - 1;
    long long stored = static_cast<long long>(taken);
    if (lineEndGrowth != 0) {
        stored += static_cast<long long>(
            lineEndGrowth * static_cast<std::size_t>(std::count(line.data(), line.data() + taken, '\n')));
    }
    if (!whole) {
        takeBack(stored);
        return false;
    }
    m_written += stored;
    return true;
}

bool KyroDelimitedFile::putEndedLine(const LineBuffer& line)
{
    // The file ends in a line cut short (its writer was killed in the middle of it): that
    // one is ended first, so this one starts on a line of its own. A failure finds the
    // file's end as it is again.
    LineBuffer ended;
    ended.append('\n');
    ended.append(line.data(), line.size());
    m_endsMidLine = false;
    return putLine(ended);
}

bool KyroDelimitedFile::append(PairList& pairs, bool closeAfter)
{
    if (!ensureOpen())
        return false;
    LineBuffer line;
    bool written = false;
    if (!pairs.empty() && addSection(line, kTab)) {
        line.append('\t');
        addPairs(line, pairs);
        line.append('\n');
        written = putLine(line);
    }
    if (closeAfter)
        close();
    return written;
}

bool KyroDelimitedFile::append(const TStr& key, const TStr& value, bool closeAfter)
{
    if (!ensureOpen())
        return false;
    LineBuffer line;
    bool written = false;
    if (addSection(line, kTab)) {
        line.append('\t');
        addPair(line, key, value);
        line.append('\n');
        written = putLine(line);
    }
    if (closeAfter)
        close();
    return written;
}

bool KyroDelimitedFile::write(PairList& pairs)
{
    return append(pairs, false);
}

bool KyroDelimitedFile::write(const TStr& key, const TStr& value)
{
    return append(key, value, false);
}

bool KyroDelimitedFile::write(const TStr& key, int value)
{
    return write(key, TStr("%1").arg(value));
}

bool KyroDelimitedFile::writeDebugLog(ItemList& items, const TStr& separator)
{
    if (!ensureOpen())
        return false;
    LineBuffer line;
    if (items.empty() || !addSection(line, separator.utf8()))
        return false;
    line.append(separator.utf8());
    for (const TStr& item : items) {
        addText(line, item);
        line.append(separator.utf8());
    }
    line.append('\n');
    return putLine(line);
}

bool KyroDelimitedFile::append(const TStr& section, const TStr& key, const TStr& value)
{
    if (section.isEmpty())
        return false;
    LineBuffer line;
    addText(line, section);
    line.append('\t');
    addPair(line, key, value);
    line.append('\n');
    return putLine(line);
}

bool KyroDelimitedFile::append(const TStr& section, PairList& pairs)
{
    if (section.isEmpty() || pairs.empty())
        return false;
    LineBuffer line;
    addText(line, section);
    line.append('\t');
    addPairs(line, pairs);
    line.append('\n');
    return putLine(line);
}

TStr KyroDelimitedFile::formatDate(int year, int month, int day) const
{
    return TStr("%1/%2/%3").arg(year).arg(twoDigits(month, 1)).arg(twoDigits(day, 1));
}

TStr KyroDelimitedFile::formatTime(int hour, int minute, int second) const
{
    return TStr("%1:%2:%3").arg(twoDigits(hour, 0)).arg(twoDigits(minute, 0)).arg(twoDigits(second, 0));
}

TStr KyroDelimitedFile::formatTimeWMilliSecs(int hour, int minute, int second, int milliseconds) const
{
    return TStr("%1:%2:%3:%4")
        .arg(twoDigits(hour, 0))
        .arg(twoDigits(minute, 0))
        .arg(twoDigits(second, 0))
        .arg(milliseconds < 0 ? TStr("") : TStr(milliseconds));
}

TStr KyroDelimitedFile::formatSection(const TStr& date, const TStr& time, const TStr& processId,
                                      const TStr& separator) const
{
    if (processId.isEmpty() || date.isEmpty() || time.isEmpty())
        return TStr("");
    return processId + separator + date + separator + time;
}
