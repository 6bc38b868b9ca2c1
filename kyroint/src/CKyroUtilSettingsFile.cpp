#include "kyro/int/CKyroUtilSettingsFile.h"

#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/library_diagnostics.h"
#include "kyro/platform/filesystem.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/user_identity.h"
#include "kyro/util/KyroMutex.h"
#include "kyro/util/XmlFile.h"

#include <tinyxml.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace {

const char* const kTopElement = "KyroSettings";
const char* const kSectionElement = "Section";
const char* const kSectionName = "Name";
const char* const kDataElement = "Data";
const char* const kDataKey = "Key";
// Entries are held as section + "/" + key; a save splits at the last "/".
const char* const kKeySeparator = "/";

TStr combinedKey(const TStr& section, const TStr& key)
{
    TStr combined(section);
    combined += kKeySeparator;
    combined += key;
    return combined;
}

TStr withBackslashes(const TStr& path)
{
    TStr result(path);
    if (result.indexOf('/') >= 0)
        result.replaceAll("/", "\\");
    return result;
}

TStr attributeOf(const TiXmlElement* element, const char* name)
{
    const char* value = element->Attribute(name);
    return TStr(value != nullptr ? value : "");
}

// The first child element `name` of `parent` whose `attribute` is `value`, or null.
TiXmlElement* childWith(TiXmlElement* parent, const char* name, const char* attribute,
                        const TStr& value)
{
    for (TiXmlElement* child = parent->FirstChildElement(name); child != nullptr;
         child = child->NextSiblingElement(name)) {
        if (attributeOf(child, attribute) == value)
            return child;
    }
    return nullptr;
}

void appendDeclaration(TiXmlDocument* document)
{
    document->LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", "yes"));
}

// Takes the mutex, however long that takes. An owner that ended while holding it makes
// one lock report failure and hands the mutex back, so the next attempt gets it.
bool lockForever(KyroMutex* mutex, const TStr& name)
{
    if (!mutex->create(name))
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (mutex->lock(-1))
            return true;
    }
    mutex->close();
    return false;
}

// The process id in the name of a temporary that a save of the file `fileName` makes
// ("<file>.<pid>.<n>.<m>.tmp"); 0 for any other name.
std::uint32_t temporaryOwner(const std::string& name, const std::string& fileName)
{
    static const char kEnd[] = ".tmp";
    const std::size_t endLength = sizeof kEnd - 1;
    if (name.size() <= fileName.size() + 1 + endLength ||
        name.compare(0, fileName.size(), fileName) != 0 || name[fileName.size()] != '.' ||
        name.compare(name.size() - endLength, endLength, kEnd) != 0)
        return 0;
    // Three numbers apart by dots; the first the process's id.
    std::uint64_t processId = 0;
    int numbers = 0;
    std::size_t digits = 0;
    for (std::size_t i = fileName.size() + 1; i <= name.size() - endLength; ++i) {
        const char c = name[i];   // the last one is the dot of ".tmp"
        if (c == '.') {
            if (digits == 0)
                return 0;
            ++numbers;
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 10) {
            if (numbers == 0)
                processId = processId * 10 + static_cast<std::uint64_t>(c - '0');
            ++digits;
        } else {
            return 0;
        }
    }
    return numbers == 3 && processId <= 0xFFFFFFFFu ? static_cast<std::uint32_t>(processId) : 0;
}

// Takes away what saves of the file that were cut short left beside it: a process killed
// between making its new file and putting it in place leaves the new file behind. Called
// with the file's mutex held, so no save of this user's is between those two steps; a
// temporary of a process still running stays all the same, as do links and other
// accounts' files that merely carry such a name.
void removeLeftTemporaries(const TPath& target)
{
    namespace platform = kyro::platform;
    const TPath folder = target.directory();
    std::vector<std::string> names;
    if (folder.isEmpty() || !platform::listFolder(folder.utf8(), &names))
        return;
    const std::string fileName = TPath(target).fileName().utf8();
    const std::uint32_t self = platform::currentProcessId();
    for (const std::string& name : names) {
        const std::uint32_t owner = temporaryOwner(name, fileName);
        if (owner != 0 && owner != self && !platform::processIsAlive(owner))
            platform::removeOwnPlainFile((folder / name.c_str()).utf8());
    }
}

}  // namespace

struct CKyroUtilSettingsFile::Document {
    TiXmlDocument xml;
    TiXmlElement* top = nullptr;
};

// Holds the mutex of one file for a scope, unless the store already holds it through
// lockFile(). held() tells whether the file is guarded: a load goes on without the mutex
// (it reads a file that is only ever replaced whole), a save never does.
class CKyroUtilSettingsFile::MutexScope {
public:
    MutexScope(const CKyroUtilSettingsFile& store, const TStr& path)
    {
        const TStr name = mutexName(path);
        if (name.isEmpty())
            return;
        if (store.m_heldMutex && name == store.m_heldMutexName) {
            m_held = true;
            return;
        }
        m_mutex.reset(new KyroMutex);
        if (lockForever(m_mutex.get(), name))
            m_held = true;
        else
            m_mutex.reset();
    }
    ~MutexScope()
    {
        if (m_mutex) {
            m_mutex->unlock();
            m_mutex->close();
        }
    }
    MutexScope(const MutexScope&) = delete;
    MutexScope& operator=(const MutexScope&) = delete;

    bool held() const { return m_held; }

private:
    std::unique_ptr<KyroMutex> m_mutex;
    bool m_held = false;
};

CKyroUtilSettingsFile::CKyroUtilSettingsFile(bool) : m_document(new Document)
{
}

CKyroUtilSettingsFile::~CKyroUtilSettingsFile()
{
    unlockFile();
}

TStr CKyroUtilSettingsFile::mutexName(const TStr& path)
{
    std::string token;
    if (!kyro::platform::userUniqueToken(&token) || token.empty())
        return TStr();
    TPath file(withBackslashes(path));
    TStr name(token.c_str());
    name += file.fileName();
    return name;
}

bool CKyroUtilSettingsFile::lockFile(const TStr& path)
{
    unlockFile();
    const TStr name = mutexName(path);
    if (name.isEmpty())
        return false;
    m_heldMutex.reset(new KyroMutex);
    if (!lockForever(m_heldMutex.get(), name)) {
        m_heldMutex.reset();
        return false;
    }
    m_heldMutexName = name;
    return true;
}

void CKyroUtilSettingsFile::unlockFile()
{
    if (m_heldMutex) {
        m_heldMutex->unlock();
        m_heldMutex->close();
        m_heldMutex.reset();
    }
    m_heldMutexName.clear();
}

bool CKyroUtilSettingsFile::load(const TStr& path, bool keepPending)
{
    if (path.isEmpty())
        return false;
    MutexScope scope(*this, path);
    return loadHeld(path, keepPending);
}

// load() once the file's mutex is held (or not to be had).
bool CKyroUtilSettingsFile::loadHeld(const TStr& path, bool keepPending)
{
    const TStr wanted(path);   // `path` may be m_filePath itself
    m_document.reset(new Document);
    m_loadedValues.clear();
    m_valid = false;
    if (!keepPending) {
        m_filePath.clear();
        m_pendingValues.clear();
    }

    if (!TPath(wanted).exists()) {
        appendDeclaration(&m_document->xml);
        m_document->top = new TiXmlElement(kTopElement);
        m_document->xml.LinkEndChild(m_document->top);
        m_valid = true;
        if (!keepPending)
            m_filePath = wanted;
        return !m_filePath.isEmpty();
    }

    const bool read =
        kyro::util::readXmlFile(TPath(withBackslashes(wanted)), &m_document->xml) && readContent();
    if (read && !keepPending)
        m_filePath = wanted;
    return read;
}

bool CKyroUtilSettingsFile::readContent()
{
    TiXmlDocument& xml = m_document->xml;
    TiXmlNode* first = xml.FirstChild();
    const TiXmlDeclaration declaration("1.0", "UTF-8", "yes");
    if (first == nullptr) {
        xml.InsertEndChild(declaration);
    } else if (first->ToDeclaration() == nullptr) {
        xml.InsertBeforeChild(first, declaration);
    } else {
        // The file is written back as UTF-8 whatever its declaration said, and a damaged
        // declaration must not be printed into it again.
        xml.ReplaceChild(first, declaration);
    }

    m_document->top = xml.FirstChildElement(kTopElement);
    if (m_document->top == nullptr)
        return false;
    if (m_document->top->FirstChild() == nullptr) {
        m_valid = true;
        return true;
    }

    for (TiXmlElement* section = m_document->top->FirstChildElement(kSectionElement);
         section != nullptr; section = section->NextSiblingElement(kSectionElement)) {
        const TStr sectionName = attributeOf(section, kSectionName);
        if (sectionName.isEmpty())
            continue;
        for (TiXmlElement* data = section->FirstChildElement(kDataElement); data != nullptr;
             data = data->NextSiblingElement(kDataElement)) {
            const TStr key = attributeOf(data, kDataKey);
            if (key.isEmpty())
                continue;
            const char* text = data->GetText();
            // The first of two equal keys stays.
            m_loadedValues.emplace(combinedKey(sectionName, key), TStr(text != nullptr ? text : ""));
        }
    }
    m_valid = !m_loadedValues.empty();
    return m_valid;
}

bool CKyroUtilSettingsFile::getValue(const TStr& section, const TStr& key, TStr& value)
{
    value = TStr("");
    if (section.isEmpty() || key.isEmpty())
        return false;
    const TStr combined = combinedKey(section, key);
    auto found = m_pendingValues.find(combined);
    if (found == m_pendingValues.end()) {
        found = m_loadedValues.find(combined);
        if (found == m_loadedValues.end())
            return false;
    }
    value = found->second;
    return true;
}

bool CKyroUtilSettingsFile::setValue(const TStr& section, const TStr& key, const TStr& value)
{
    if (section.isEmpty() || key.isEmpty() || value.isEmpty())
        return false;
    m_pendingValues[combinedKey(section, key)] = value;
    return true;
}

bool CKyroUtilSettingsFile::save(const TStr& path)
{
    if (!m_valid || path.isEmpty())
        return false;
    const TStr remembered(m_filePath);
    // The re-read and the write happen under one hold of the file's mutex, so nothing
    // another process writes can fall between them. A store loaded from a file of another
    // name re-reads that one under its own mutex first.
    const bool sameMutex = remembered.isEmpty() || mutexName(remembered) == mutexName(path);
    if (!remembered.isEmpty() && !sameMutex && !load(remembered, true))
        return false;
    MutexScope scope(*this, path);
    if (!scope.held()) {
        // Without the mutex another process's save could fall between our re-read and our
        // write and be lost: no save then.
        kyro::diagnostics::recordLibraryError(CKyroIntError::kSettingsNotLocked, __FILE__,
                                              __LINE__);
        return false;
    }
    if (!remembered.isEmpty() && sameMutex && !loadHeld(remembered, true))
        return false;
    if (!m_valid)
        return false;

    applyPending();
    // An empty store is never written.
    if (m_document->top->FirstChild() == nullptr)
        return false;
    return writeFile(path);
}

void CKyroUtilSettingsFile::applyPending()
{
    TiXmlElement* top = m_document->top;
    for (const auto& entry : m_pendingValues) {
        TStr sectionName(entry.first);
        const TStr key = sectionName.cutLast(kKeySeparator);
        TiXmlElement* section = childWith(top, kSectionElement, kSectionName, sectionName);
        if (section == nullptr) {
            section = new TiXmlElement(kSectionElement);
            section->SetAttribute(kSectionName, sectionName.utf8());
            top->LinkEndChild(section);
        }
        TiXmlElement* data = childWith(section, kDataElement, kDataKey, key);
        if (data != nullptr && data->FirstChild() != nullptr) {
            // A value held in some other kind of node is not ours to replace.
            if (TiXmlText* text = data->FirstChild()->ToText())
                text->SetValue(entry.second.utf8());
            continue;
        }
        if (data == nullptr) {
            data = new TiXmlElement(kDataElement);
            data->SetAttribute(kDataKey, key.utf8());
            section->LinkEndChild(data);
        }
        // An existing but empty element takes the value itself: a second element of the
        // same key behind it would never be read, as the first of two equal keys wins.
        data->LinkEndChild(new TiXmlText(entry.second.utf8()));
    }
}

bool CKyroUtilSettingsFile::writeFile(const TStr& path)
{
    namespace platform = kyro::platform;
    const TPath target(withBackslashes(path));
    const TPath folder = target.directory();
    if (!folder.isEmpty() && !folder.exists() && !TPath(folder).createDirectories())
        return false;
    removeLeftTemporaries(target);

    // What is written must read back: TinyXML prints some damaged input it accepted (bytes
    // that are not UTF-8 in names, for one) in a form it then refuses. Such a store is not
    // saved, and the old file stays.
    TiXmlPrinter printer;
    m_document->xml.Accept(&printer);
    TiXmlDocument check;
    if (!kyro::util::parseXmlText(printer.CStr(), printer.Size(), &check) ||
        check.FirstChildElement(kTopElement) == nullptr)
        return false;

    // A new file beside the old one, with a name nobody has used: made exclusively, never
    // through a link, readable and writable by this user only. It takes the old file's
    // place, access included. A name that is taken (by a file another user planted in a
    // folder open to others, say) is passed over.
    static std::atomic<unsigned long> counter{0};
    const long long ticks = static_cast<long long>(
        std::chrono::steady_clock::now().time_since_epoch().count() & 0xffffff);
    TStr temporary;
    std::FILE* file = nullptr;
    for (int attempt = 0; attempt < 8 && file == nullptr; ++attempt) {
        temporary = target;
        temporary += ".";
        temporary += TStr(static_cast<long>(platform::currentProcessId()));
        temporary += ".";
        temporary += TStr(static_cast<long>(++counter % 1000000));
        temporary += ".";
        temporary += TStr(static_cast<long>((ticks + attempt * 7919) % 1000000));
        temporary += ".tmp";
        file = platform::createNewFile(temporary.utf8());
        if (file == nullptr && errno != EEXIST)
            break;   // not a name taken: another name would fare no better
    }
    if (file == nullptr)
        return false;
    bool written = platform::writeFile(file, printer.CStr(), printer.Size()) == printer.Size();
    written = platform::flushToDisk(file) && written;
    written = std::fclose(file) == 0 && written;
    if (written)
        written = platform::replaceFile(temporary.utf8(), target.utf8());
    if (!written)
        platform::removeFile(temporary.utf8());
    return written;
}
