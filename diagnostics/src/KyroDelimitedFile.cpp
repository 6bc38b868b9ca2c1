#include "kyro/diagnostics/KyroDelimitedFile.h"

#include "kyro/platform/clock.h"
#include "kyro/platform/filesystem.h"
#include "kyro/platform/process_info.h"

const char* const KyroDelimitedFile::kTab = "\t";

namespace {

void addText(std::string& line, const TStr& text)
{
    line.append(text.utf8(), static_cast<std::size_t>(text.length()));
}

void addPair(std::string& line, const TStr& key, const TStr& value)
{
    addText(line, key);
    line += '=';
    addText(line, value);
}

void addPairs(std::string& line, const KyroDelimitedFile::PairList& pairs)
{
    bool first = true;
    for (const auto& pair : pairs) {
        if (!first)
            line += ',';
        first = false;
        addPair(line, pair.first, pair.second);
    }
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
    : m_fileName(std::move(fileName)), m_stream(nullptr), m_appending(false)
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
}

bool KyroDelimitedFile::open(bool truncate)
{
    if (m_fileName.isEmpty())
        return false;
    if (m_stream != nullptr)
        return true;
    m_stream = kyro::platform::openFile(m_fileName.utf8(), truncate ? "w" : "a+");
    m_appending = !truncate;
    return m_stream != nullptr;
}

void KyroDelimitedFile::close()
{
    if (m_stream != nullptr) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
}

void KyroDelimitedFile::refresh()
{
    close();
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
    // Every record is stamped, so the texts are printed directly; they read exactly as
    // formatDate, formatTime and formatTimeWMilliSecs give them for the clock's values
    // (month and day 1 to 12 and 1 to 31, milliseconds 0 to 999).
    const kyro::platform::LocalTime now = kyro::platform::localTime();
    char text[64];
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(kyro::platform::currentProcessId()));
    m_processId = text;
    std::snprintf(text, sizeof text, "%d/%02d/%02d", now.year, now.month, now.day);
    m_date = text;
    if (withMilliseconds)
        std::snprintf(text, sizeof text, "%02d:%02d:%02d:%d", now.hour, now.minute, now.second,
                      now.milliseconds);
    else
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", now.hour, now.minute, now.second);
    m_time = text;
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

bool KyroDelimitedFile::addSection(std::string& line, const char* separator) const
{
    if (!isCurrentSectionSet())
        return false;
    addText(line, m_processId);
    line += separator;
    addText(line, m_date);
    line += separator;
    addText(line, m_time);
    return true;
}

bool KyroDelimitedFile::putLine(const std::string& line)
{
    if (m_stream == nullptr)
        return false;
    if (!m_appending && std::fseek(m_stream, 0, SEEK_END) != 0)
        return false;
    return std::fwrite(line.data(), 1, line.size(), m_stream) == line.size();
}

// Room for a typical line at once, so that building it costs one allocation.
constexpr std::size_t kLineRoom = 160;

bool KyroDelimitedFile::append(PairList& pairs, bool closeAfter)
{
    if (!ensureOpen())
        return false;
    std::string line;
    line.reserve(kLineRoom);
    bool written = false;
    if (!pairs.empty() && addSection(line, kTab)) {
        line += '\t';
        addPairs(line, pairs);
        line += '\n';
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
    std::string line;
    line.reserve(kLineRoom);
    bool written = false;
    if (addSection(line, kTab)) {
        line += '\t';
        addPair(line, key, value);
        line += '\n';
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
    std::string line;
    line.reserve(kLineRoom);
    if (items.empty() || !addSection(line, separator.utf8()))
        return false;
    line += separator.utf8();
    for (const TStr& item : items) {
        addText(line, item);
        line += separator.utf8();
    }
    line += '\n';
    return putLine(line);
}

bool KyroDelimitedFile::append(const TStr& section, const TStr& key, const TStr& value)
{
    if (section.isEmpty())
        return false;
    std::string line(section.utf8());
    line += '\t';
    addPair(line, key, value);
    line += '\n';
    return putLine(line);
}

bool KyroDelimitedFile::append(const TStr& section, PairList& pairs)
{
    if (section.isEmpty() || pairs.empty())
        return false;
    std::string line(section.utf8());
    line += '\t';
    addPairs(line, pairs);
    line += '\n';
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
