// How the engine records errors on the host's records.
#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapCloudConstants.h"

void KXSnapAzureNetApp::resetError() {
    lastError = 0;
    error.str("");
    error.clear();
}

void KXSnapAzureNetApp::copyAPIErrorBuffer() {
    error << apiErrorText();
}

void KXSnapAzureNetApp::setErrorDetailsForSnapObj(AzureNetApp::KxSnapANFSnapObj& snapObj, int code,
                                                  const std::string& message) {
    if (snapObj.snapInfo == nullptr) {
        return;
    }
    int existing = 0;
    snapObj.snapInfo->getError(&existing, nullptr, nullptr);
    // The first error on a record is the one that explains it.
    if (existing >= 1) {
        return;
    }
    int chosen = KXSnapCloudConstants::HostErrorCodeForOperation(opType);
    if (chosen == 0) {
        chosen = code > 0 ? code : lastError;
    }
    snapObj.snapInfo->setError(chosen, message.empty() ? error.str() : message);
}

bool KXSnapAzureNetApp::failOnFirstDevice(int result, const char* prefix) {
    resetError();
    lastError = result;
    error << prefix;
    copyAPIErrorBuffer();
    error << apiErrorDetail();
    logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
    if (AzureNetApp::KxSnapANFSnapObj* first = firstSnapObj()) {
        setErrorDetailsForSnapObj(*first);
    }
    return false;
}

void KXSnapAzureNetApp::replaceError(int code, const std::string& text) {
    resetError();
    lastError = code;
    error << text;
}

std::string KXSnapAzureNetApp::apiErrorDetail() const {
    const std::string detail = api ? api->getErrorDetailString() : "";
    return detail.empty() ? "" : " " + detail;
}

std::string KXSnapAzureNetApp::apiErrorText() const {
    if (!api) {
        return "";
    }
    const std::string own = api->getErrorString();
    return own.empty() ? api->getRESTErrorString() : own;
}
