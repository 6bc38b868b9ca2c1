#include "kyro/int/CKyroIntResHandler.h"

#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/library_diagnostics.h"
#include "kyro/util/TPath.h"
#include "kyro/util/XmlFile.h"

#include <cstring>
#include <mutex>
#include <new>

struct CKyroIntResHandler::Document {
    std::mutex lock;
    TiXmlDocument xml;
};

CKyroIntResHandler::CKyroIntResHandler() : CKyroIntResHandler(DEFAULT_FILE_NAME) {}

CKyroIntResHandler::CKyroIntResHandler(const char* fileName)
    : m_document(new (std::nothrow) Document()), m_fileName(fileName), m_loaded(false)
{
}

CKyroIntResHandler::~CKyroIntResHandler()
{
    delete m_document;
}

bool CKyroIntResHandler::load(const TStr& folder)
{
    if (m_document == nullptr)
        return false;
    try {
        std::lock_guard<std::mutex> guard(m_document->lock);
        if (m_loaded)
            return true;
        if (folder.isEmpty())
            return false;
        TPath path(folder);
        path.replaceAll("/", "\\");
        path /= m_fileName;
        if (!path.isFile())
            return false;
        m_loaded = kyro::util::readXmlFile(path, &m_document->xml);
        return m_loaded;
    } catch (...) {
        // Out of memory while reading or parsing: the table stays unloaded, and what was
        // parsed goes (m_loaded is set only after a parse that returned).
        try {
            m_document->xml.Clear();
        } catch (...) {
        }
        return false;
    }
}

TStr CKyroIntResHandler::getString(const TStr& id) const
{
    if (m_document == nullptr)
        return TStr("");
    try {
        std::lock_guard<std::mutex> guard(m_document->lock);
        if (!m_loaded)
            return TStr("");
        const TiXmlElement* table = m_document->xml.FirstChildElement("KYROSTRINGTABLE");
        if (table == nullptr)
            return TStr("");
        const char* wanted = id.utf8();
        for (const TiXmlNode* node = table->FirstChildElement("STRING"); node != nullptr;
             node = node->NextSibling()) {
            const TiXmlElement* entry = node->ToElement();
            if (entry == nullptr)
                continue;
            const char* entryID = entry->Attribute("ID");
            if (std::strcmp(entryID != nullptr ? entryID : "", wanted) != 0)
                continue;
            if (const TiXmlElement* caption = entry->FirstChildElement("CAPTION"))
                return kyro::util::firstTextOf(caption);
        }
        return TStr("");
    } catch (...) {
        return TStr("");
    }
}

namespace kyrointutil {

namespace {

// The folder the host named, kept for the life of the process.
struct ResourceFolder {
    std::mutex lock;
    TStr folder;
};

ResourceFolder& resourceFolderState()
{
    static ResourceFolder state;
    return state;
}

}  // namespace

bool setResourceFolder(const TStr& folder)
{
    bool loaded = false;
    try {
        TStr kept(folder);
        const int length = kept.length();
        if (length > 0) {
            const char last = kept.utf8()[length - 1];
            if (last != '\\' && last != '/')
                kept += "\\";
        }
        ResourceFolder& state = resourceFolderState();
        {
            std::lock_guard<std::mutex> guard(state.lock);
            state.folder = kept;
        }
        loaded = CKyroUtilSingleton<CKyroIntResHandler>::instance().load(kept);
    } catch (...) {
        // No handler (memory ran out making it): the same as a table that did not load.
        loaded = false;
    }
    if (!loaded) {
        try {
            kyro::diagnostics::recordLibraryError(CKyroIntError::kStringTableNotLoaded, __FILE__,
                                                  __LINE__);
        } catch (...) {
            // A record that cannot be written is lost; the answer stands.
        }
    }
    return loaded;
}

TStr resourceFolder()
{
    try {
        ResourceFolder& state = resourceFolderState();
        std::lock_guard<std::mutex> guard(state.lock);
        return state.folder.isNull() ? TStr("") : state.folder;
    } catch (...) {
        return TStr("");
    }
}

TStr resourceString(const char* id)
{
    if (id == nullptr)
        return TStr("");
    try {
        return CKyroUtilSingleton<CKyroIntResHandler>::instance().getString(TStr(id));
    } catch (...) {
        return TStr("");
    }
}

}  // namespace kyrointutil
