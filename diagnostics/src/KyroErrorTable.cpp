#include "kyro/diagnostics/KyroErrorTable.h"

#include "kyro/util/TPath.h"
#include "kyro/util/XmlFile.h"

#include <climits>
#include <new>

struct KyroErrorTable::Document {
    TiXmlDocument xml;
};

// A TiXmlElement of the document seen through an opaque name; never an object of its own.
class KyroErrorTable::Table {
public:
    static const Table* of(const TiXmlElement* element)
    {
        return reinterpret_cast<const Table*>(element);
    }
    static const TiXmlElement* elementOf(const Table* table)
    {
        return reinterpret_cast<const TiXmlElement*>(table);
    }
};

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The element's integer attribute (rule 3 of the header). False when the element does
// not carry the attribute; *matchable false when its value is not a usable integer.
bool integerAttribute(const TiXmlElement* element, const char* name, bool* matchable, int* value)
{
    const char* text = element->Attribute(name);
    if (text == nullptr)
        return false;
    *matchable = false;
    while (isBlank(*text))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    if (*text < '0' || *text > '9')
        return true;
    // Accumulated as a negative number, which reaches INT_MIN as well.
    long long magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1)
            return true;
    }
    if (!negative && magnitude > INT_MAX)
        return true;
    *value = static_cast<int>(negative ? -magnitude : magnitude);
    *matchable = true;
    return true;
}

// The first "TABLE" under the first "ERRORTABLES", or null.
const TiXmlElement* firstTable(const TiXmlDocument& document)
{
    const TiXmlElement* tables = document.FirstChildElement("ERRORTABLES");
    return tables == nullptr ? nullptr : tables->FirstChildElement("TABLE");
}

}  // namespace

KyroErrorTable::KyroErrorTable(const TStr& path)
    : m_path(path), m_loaded(false), m_document(new (std::nothrow) Document())
{
}

KyroErrorTable::KyroErrorTable(const KyroErrorTable& other)
    : m_path(other.m_path), m_loaded(false), m_document(nullptr)
{
    try {
        if (other.m_document != nullptr) {
            m_document = new Document(*other.m_document);
            m_loaded = other.m_loaded;
        }
    } catch (...) {
        delete m_document;
        m_document = nullptr;
    }
}

KyroErrorTable& KyroErrorTable::operator=(const KyroErrorTable& other)
{
    if (this == &other)
        return *this;
    m_path = other.m_path;
    m_loaded = false;
    try {
        if (other.m_document == nullptr) {
            delete m_document;
            m_document = nullptr;
        } else if (m_document == nullptr) {
            m_document = new Document(*other.m_document);
        } else {
            m_document->xml = other.m_document->xml;
        }
        m_loaded = other.m_loaded;
    } catch (...) {
        delete m_document;
        m_document = nullptr;
    }
    return *this;
}

KyroErrorTable::~KyroErrorTable()
{
    delete m_document;
}

void KyroErrorTable::SetPathName(const TStr& path)
{
    m_path = path;
}

bool KyroErrorTable::Load()
{
    m_loaded = false;
    if (m_path.isEmpty())
        return false;
    try {
        if (m_document == nullptr)
            m_document = new Document();
        m_loaded = kyro::util::readXmlFile(TPath(m_path), &m_document->xml);
    } catch (...) {
        // Out of memory while parsing: what was parsed goes, and the table stays unloaded.
        if (m_document != nullptr)
            m_document->xml.Clear();
        m_loaded = false;
    }
    return m_loaded;
}

bool KyroErrorTable::IsLoaded() const
{
    return m_loaded && m_document != nullptr;
}

TStr KyroErrorTable::GetVendorName(int vendorID) const
{
    if (!m_loaded || m_document == nullptr)
        return TStr("");
    for (const TiXmlElement* table = firstTable(m_document->xml); table != nullptr;
         table = table->NextSiblingElement()) {
        bool matchable = false;
        int id = 0;
        if (!integerAttribute(table, "VENDORID", &matchable, &id))
            return TStr("");
        if (!matchable || id != vendorID)
            continue;
        // A matching table without a name does not end the search.
        if (const TiXmlElement* name = table->FirstChildElement("NAME"))
            return kyro::util::firstTextOf(name);
    }
    return TStr("");
}

TStr KyroErrorTable::GetErrorDescription(int vendorID, int code) const
{
    if (!m_loaded || m_document == nullptr)
        return TStr("");
    for (const TiXmlElement* table = firstTable(m_document->xml); table != nullptr;
         table = table->NextSiblingElement()) {
        bool matchable = false;
        int id = 0;
        if (!integerAttribute(table, "VENDORID", &matchable, &id))
            return TStr("");
        if (matchable && id == vendorID)
            return GetVendorErrorDescription(Table::of(table), code);
    }
    return TStr("");
}

TStr KyroErrorTable::GetVendorErrorDescription(const Table* table, int code) const
{
    if (table == nullptr)
        return TStr("");
    for (const TiXmlElement* error = Table::elementOf(table)->FirstChildElement("ERROR"); error != nullptr;
         error = error->NextSiblingElement()) {
        bool matchable = false;
        int value = 0;
        if (!integerAttribute(error, "CODE", &matchable, &value))
            return TStr("");
        if (matchable && value == code)
            return kyro::util::firstTextOf(error->FirstChildElement("DESCRIPTION"));
    }
    return TStr("");
}
