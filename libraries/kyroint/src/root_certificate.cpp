#include "kyro/int/root_certificate.h"

#include "kyro/platform/debug_output.h"
#include "kyro/platform/trust_store.h"
#include "kyro/platform/web_request.h"

namespace kyrointutil {

const char* const kCertificateStore = "AuthRoot";
const char* const kCertificateName = "GTE CyberTrust Global Root";
const char* const kIdentityServiceAddress = "https://signin.norveldt.com/";
const char* const kIdentityServiceAgent = "KyroInt/15.0";

using kyro::platform::writeDebugOutput;

bool checkC7Certificate()
{
    using kyro::platform::TrustStoreLookup;
    switch (kyro::platform::findCertificateByDisplayName(kCertificateStore, kCertificateName)) {
    case TrustStoreLookup::StoreNotOpened:
        writeDebugOutput("KyRO: checkC7Certificate - Unable to open certificate store !!!");
        return false;
    case TrustStoreLookup::Found:
        writeDebugOutput("KyRO: checkC7Certificate - Found required certificate in the store.");
        return true;
    case TrustStoreLookup::NotFound:
        writeDebugOutput(
            "KyRO: checkC7Certificate - Unable to find required certiface in the store.");
        return false;
    case TrustStoreLookup::Failed:
        break;
    }
    writeDebugOutput("KyRO: checkC7Certificate - Exception caught while performing operation !!!");
    return false;
}

bool updateRootCertificate()
{
    using kyro::platform::WebRequestResult;
    writeDebugOutput("KyRO: updateRootCertificate - Updating certificate for Corvel 'PRODUCTION'...");
    switch (kyro::platform::openWebAddress(kIdentityServiceAgent, kIdentityServiceAddress)) {
    case WebRequestResult::SessionFailed:
        writeDebugOutput("KyRO: updateRootCertificate - Connection Failed or Syntax error");
        return false;
    case WebRequestResult::AddressFailed:
        writeDebugOutput("KyRO: updateRootCertificate - Failed to open URL !!!");
        return false;
    case WebRequestResult::Opened:
        break;
    }
    writeDebugOutput("KyRO: updateRootCertificate - Done updating Corvel certificate.");
    return true;
}

}  // namespace kyrointutil
