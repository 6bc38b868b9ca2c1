#include "kyro/util/CKyroUtilCustomEnv.h"

#include "kyro/platform/filesystem.h"
#include "kyro/platform/process_launch.h"
#include "kyro/util/XmlFile.h"

#include <cstdio>
#include <string>

namespace {

const char* const kThinClientVariable = "NORVELDT_KYRO_THINCLIENT_ENV";
const char* const kCustomVariable = "NORVELDT_KYRO_CUSTOM_ENV";

// A value whose references keep bringing new ones ("$A" with A set to "x$A") would grow
// for ever; expansion stops after this many substitutions or at this length.
constexpr int kMaxSubstitutions = 256;
constexpr std::size_t kMaxExpandedLength = 64 * 1024;

bool variable(const char* name, std::string* value)
{
    return kyro::platform::environmentVariable(name, value);
}

const TiXmlElement* firstElement(const TiXmlNode* parent, const char* name)
{
    return parent->FirstChildElement(name);
}

}  // namespace

struct CKyroUtilCustomEnv::Document {
    TiXmlDocument xml;
};

CKyroUtilCustomEnv::CKyroUtilCustomEnv()
    : m_platformName("Windows"), m_document(new Document)
{
}

CKyroUtilCustomEnv::~CKyroUtilCustomEnv()
{
    delete m_document;
}

int CKyroUtilCustomEnv::load()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return loadLocked();
}

int CKyroUtilCustomEnv::loadLocked()
{
    m_needsLoad = false;
    if (m_loaded) {
        m_document->xml.Clear();
        m_loaded = false;
        m_status = kNotAttempted;
    }

    std::string path;
    int failure;
    if (variable(kThinClientVariable, &path)) {
        failure = kThinClientFileFailed;
    } else if (variable(kCustomVariable, &path)) {
        failure = kCustomFileFailed;
    } else {
        m_status = kNoVariable;
        return m_status;
    }

    // Only a plain file: a FIFO or a pipe named here would hold start-up for ever.
    std::FILE* file = kyro::platform::openPlainFileForReading(path.c_str());
    if (file == nullptr) {
        m_status = failure;
        return m_status;
    }
    const bool parsed = kyro::util::readXmlFile(file, &m_document->xml);
    std::fclose(file);
    if (parsed) {
        m_loaded = true;
        m_status = kLoaded;
    } else {
        m_document->xml.Clear();
        m_status = failure;
    }
    return m_status;
}

void CKyroUtilCustomEnv::loadOnce()
{
    if (m_needsLoad)
        loadLocked();
}

bool CKyroUtilCustomEnv::isLoaded()
{
    std::lock_guard<std::mutex> guard(m_lock);
    loadOnce();
    return m_loaded;
}

int CKyroUtilCustomEnv::loadStatus()
{
    std::lock_guard<std::mutex> guard(m_lock);
    loadOnce();
    if (m_status == kLoaded || m_status == kThinClientFileFailed ||
        m_status == kCustomFileFailed)
        return m_status;
    return kNoVariable;
}

TStr CKyroUtilCustomEnv::getValue(const TStr& name)
{
    if (name.isEmpty())
        return TStr();
    TStr value;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        loadOnce();
        if (!m_loaded)
            return TStr();
        value = lookUp(name);
    }
    return value.isEmpty() ? value : expandEnvironmentReferences(value);
}

// Every platform element of the root whose OS is ours, in order; in each, the first KEY
// with the name that has a STRING. A later platform element overrides an earlier one.
TStr CKyroUtilCustomEnv::lookUp(const TStr& name) const
{
    TStr value;
    const TiXmlElement* root = firstElement(&m_document->xml, "KYROCUSTOMENV");
    if (root == nullptr)
        return value;
    const TiXmlElement* first = firstElement(root, "PLATFORM");
    for (const TiXmlElement* platform = first; platform != nullptr;
         platform = platform->NextSiblingElement()) {
        const char* os = platform->Attribute("OS");
        if (os == nullptr || m_platformName != os)
            continue;
        for (const TiXmlElement* key = firstElement(platform, "KEY"); key != nullptr;
             key = key->NextSiblingElement()) {
            const char* id = key->Attribute("ID");
            if (id == nullptr || name != id)
                continue;
            const TiXmlElement* text = firstElement(key, "STRING");
            if (text == nullptr)
                continue;
            // A value that is not UTF-8 text cannot name a folder: the key answers empty.
            if (const char* found = text->GetText())
                value = kyro::util::isWellFormedUtf8(found) ? TStr(found) : TStr();
            break;
        }
    }
    return value;
}

// 1. Find the first "$".
// 2. While there is one and it is not the last character: the reference runs from it to
//    the next "\" (or the end); its name is the reference without the "$". When the
//    variable is set, the first occurrence of the reference is replaced by its value;
//    otherwise a message names it and the text stays. The next "$" is looked for from one
//    past this one, so references that arrive with a value are expanded too.
TStr expandEnvironmentReferences(const TStr& input)
{
    std::string value = input.utf8();
    std::size_t i = value.find('$');
    int substitutions = 0;
    while (i != std::string::npos && i + 1 < value.size()) {
        const std::size_t end = value.find('\\', i);
        const std::string reference =
            value.substr(i, end == std::string::npos ? std::string::npos : end - i);
        const std::string name = reference.substr(1);
        std::string setting;
        if (kyro::platform::environmentVariable(name.c_str(), &setting)) {
            if (++substitutions > kMaxSubstitutions ||
                value.size() + setting.size() > kMaxExpandedLength)
                break;
            value.replace(value.find(reference), reference.size(), setting);
        } else {
            std::printf("Environment variable %s cannot be found\n", name.c_str());
            std::fflush(stdout);
        }
        i = i + 1 < value.size() ? value.find('$', i + 1) : std::string::npos;
    }
    return TStr(value.c_str());
}
