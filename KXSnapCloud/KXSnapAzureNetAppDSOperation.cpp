// Records of the work in progress: Azure errors, asynchronous operations,
// array tunables and the per-device work object.
#include "KXSnapCloud/KXSnapAzureNetAppDS.h"
#include "platform/FXString.h"

namespace AzureNetApp {

void AzureError::clear() {
    code.clear();
    message.clear();
}

bool AzureError::fromJsonObj(const AnfJson::Value& object, bool isMetadata) {
    clear();
    const char* codeKey = isMetadata ? "error" : "code";
    const char* messageKey = isMetadata ? "error_description" : "message";
    code = AnfJson::get<AnfJson::String>(object, codeKey, "");
    message = AnfJson::get<AnfJson::String>(object, messageKey, "");
    return !code.empty() || !message.empty();
}

std::string AzureError::toString() const {
    return "Azure error code : \"" + code + "\", Azure error message : \"" + message + "\"";
}

void AzureAsyncOpInfo::clear() {
    asyncOpUrl.clear();
}

void ANFArrayConfigs::init() {
    retryCount = ANF_API_CONST::ANF_CONFIG_DEFAULT_RETRY_COUNT;
    retryInterval = ANF_API_CONST::ANF_CONFIG_DEFAULT_RETRY_INTERVAL;
    diagnosticLogging = ANF_API_CONST::ANF_CONFIG_DEFAULT_DIAG_LOGGING != 0;
}

std::string ANFArrayConfigs::dump() const {
    return FXString::Format("{ Retry count [%d], Retry interval [%d], Diagnostic logging [%s] }",
                            retryCount, retryInterval, diagnosticLogging ? "enabled" : "disabled");
}

KxSnapANFSnapObj::KxSnapANFSnapObj() {
    reset();
}

KxSnapANFSnapObj::KxSnapANFSnapObj(KXSO::SnapInfo* record) {
    reset();
    snapInfo = record;
    if (record != nullptr) {
        snapNum = record->getSnapId();
    }
}

void KxSnapANFSnapObj::reset() {
    snapInfo = nullptr;
    deviceName.clear();
}

}  // namespace AzureNetApp
