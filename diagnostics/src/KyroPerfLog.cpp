#include "kyro/diagnostics/KyroPerfLog.h"

#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/library_diagnostics.h"

namespace {

const char kNotAvailable[] = "NA";

TStr orNotAvailable(const TStr& text)
{
    return text.isEmpty() ? TStr(kNotAvailable) : text;
}

}  // namespace

KyroPerfLog::KyroPerfLog(Kyro::VendorID componentID, const KyroPerfLogData& data)
    : KyroDebugLog(componentID, TStr("")),
      field1(orNotAvailable(data.field1)),
      field2(orNotAvailable(data.field2)),
      field3(orNotAvailable(data.field3)),
      field4(orNotAvailable(data.field4)),
      marker(orNotAvailable(data.marker))
{
}

KyroPerfLog::KyroPerfLog(const KyroPerfLog& other) = default;
KyroPerfLog& KyroPerfLog::operator=(const KyroPerfLog& other) = default;
KyroPerfLog::~KyroPerfLog() = default;

void KyroPerfLog::clear()
{
    KyroLoggable::clear();
    field1 = "";
    field2 = "";
    field3 = "";
    field4 = "";
    marker = "";
    componentID = Kyro::kVendorNone;
}

void KyroPerfLog::dumpTechSupport(KyroLogger* logger) const
{
    if (logger == nullptr)
        return;
    TStr hostName;
    TStr platformOS;
    systemInformation(&hostName, &platformOS);
    KyroDelimitedFile::ItemList items = {orNotAvailable(platformOS),
                                         orNotAvailable(hostName),
                                         orNotAvailable(TStr(kyro::diagnostics::libraryVersion())),
                                         field1 + ":" + field2,
                                         field3 + ":" + field4,
                                         orNotAvailable(componentIDStr),
                                         marker};
    logger->logFile().writeDebugLog(items, ",");
}
