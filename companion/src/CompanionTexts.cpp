#include "CompanionTexts.h"

#include "kyro/int/CKyroIntResHandler.h"
#include "kyro/util/locations.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace kyro::companion {

const char* const kCompanionTextFile = "VexRes.xml";

namespace {

const char* const kFallbackLocale = "en_US";

// The last resort, when not even the en_US table can be read.
const struct {
    const char* id;
    const char* text;
} kBuiltIn[] = {
    {"IDS_VEX_OK", "OK"},
    {"IDS_VEX_DETAILS", "Details"},
    {"IDS_VEX_MEMORY_CAPTION", "Kyro"},
    {"IDS_VEX_MEMORY_TITLE", "There is not enough memory"},
    {"IDS_VEX_MEMORY_TEXT", "Close some programs and documents, then try again."},
    {"IDS_VEX_PRIVACY_CAPTION", "Privacy policy"},
    {"IDS_VEX_PRIVACY_HEADING", "Help us improve Kyro"},
    {"IDS_VEX_PRIVACY_TEXT",
     "Kyro can send anonymous usage data, such as which features you use and how long they "
     "take, to help us improve the product. No documents, names or file contents are sent. "
     "Do you agree that usage data is collected under this privacy policy?"},
    {"IDS_VEX_PRIVACY_AGREE", "Agree"},
    {"IDS_VEX_PRIVACY_DECLINE", "Decline"},
    {"IDS_VEX_WAIT_CAPTION", "Please wait"},
    {"IDS_VEX_WAIT_TEXT", "Please wait\xE2\x80\xA6"},
};

std::string builtIn(const char* id)
{
    for (const auto& entry : kBuiltIn) {
        if (std::strcmp(entry.id, id) == 0)
            return entry.text;
    }
    return std::string();
}

// One table per folder, read on first use; a folder whose table cannot be read keeps an
// unloaded handler, so it is not read again for every text.
class Tables {
public:
    std::string lookUp(const TStr& folder, const char* id)
    {
        if (folder.isEmpty())
            return std::string();
        std::lock_guard<std::mutex> guard(m_lock);
        std::unique_ptr<CKyroIntResHandler>& table = m_tables[std::string(folder.utf8())];
        if (!table) {
            table.reset(new CKyroIntResHandler(kCompanionTextFile));
            table->load(folder);
        }
        const TStr text = table->getString(TStr(id));
        return text.isEmpty() ? std::string() : std::string(text.utf8());
    }

private:
    std::mutex m_lock;
    std::map<std::string, std::unique_ptr<CKyroIntResHandler>> m_tables;
};

Tables& tables()
{
    static Tables* const all = new Tables;
    return *all;
}

}  // namespace

std::string companionText(const TStr& locale, const char* id)
{
    try {
        std::string text;
        if (!locale.isEmpty())
            text = tables().lookUp(getLocation(kLocationLocalizedData, locale), id);
        if (text.empty())
            text = tables().lookUp(getLocation(kLocationLocalizedData, TStr(kFallbackLocale)), id);
        return text.empty() ? builtIn(id) : text;
    } catch (...) {
        return builtIn(id);
    }
}

}  // namespace kyro::companion
