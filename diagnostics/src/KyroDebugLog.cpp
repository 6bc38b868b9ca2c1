#include "kyro/diagnostics/KyroDebugLog.h"

#include "kyro/diagnostics/KyroLogger.h"

#include <utility>

namespace {

// Display names of the components; every other identifier (6 among them) is "None".
const char* displayName(Kyro::VendorID id)
{
    switch (id) {
    case Kyro::kVendorKyroInt:
        return "KyroInt";
    case Kyro::kVendorVex:
        return "Vex";
    case Kyro::kVendorHost:
        return "Host";
    case Kyro::kVendorSetup:
        return "Setup";
    case Kyro::kVendorUpdate:
        return "Update";
    case Kyro::kVendorLicense:
        return "License";
    case Kyro::kVendorRender:
        return "Render";
    case Kyro::kVendorNetwork:
        return "Network";
    case Kyro::kVendorPlugin:
        return "Plugin";
    default:
        return "None";
    }
}

}  // namespace

KyroDebugLog::KyroDebugLog()
    : KyroLoggable(TStr("")), debugLogInfo(""), componentID(Kyro::kVendorNone), componentIDStr("None")
{
}

KyroDebugLog::KyroDebugLog(Kyro::VendorID componentID, TStr debugLogInfo)
    : KyroLoggable(TStr("")), debugLogInfo(std::move(debugLogInfo)), componentID(componentID)
{
    setComponentIDStr();
}

KyroDebugLog::KyroDebugLog(const KyroDebugLog& other) = default;
KyroDebugLog& KyroDebugLog::operator=(const KyroDebugLog& other) = default;
KyroDebugLog::~KyroDebugLog() = default;

void KyroDebugLog::setComponentID(Kyro::VendorID id)
{
    componentID = id;
}

Kyro::VendorID KyroDebugLog::getComponentID() const
{
    return componentID;
}

void KyroDebugLog::setDebugLogInfo(const TStr& text)
{
    debugLogInfo = text;
}

TStr KyroDebugLog::getDebugLogInfo() const
{
    return debugLogInfo;
}

void KyroDebugLog::setComponentIDStr()
{
    componentIDStr = displayName(componentID);
}

void KyroDebugLog::clear()
{
    KyroLoggable::clear();
    debugLogInfo = "";
    componentID = Kyro::kVendorNone;
    componentIDStr = "";
}

void KyroDebugLog::dumpTechSupport(KyroLogger* logger) const
{
    if (logger == nullptr)
        return;
    KyroDelimitedFile::ItemList items = {componentIDStr, debugLogInfo};
    logger->logFile().writeDebugLog(items, "\t");
}
