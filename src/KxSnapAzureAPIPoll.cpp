// Following long-running Azure operations to their end: the operation-status
// URL that Azure returns for VM updates, and the resource's own
// provisioningState for disks and snapshots. Time is measured in whole seconds.
#include <ctime>
#include <string>

#include "KxSnapAzureAPI.h"
#include "platform/FXString.h"
#include "platform/UXSleep.h"

namespace {

uint64_t NowSecs() {
    return static_cast<uint64_t>(std::time(nullptr));
}

uint64_t ElapsedSecs(uint64_t start) {
    const uint64_t now = NowSecs();
    return now > start ? now - start : 0;
}

// The text of `key` in the object `section` of a JSON document; false when the
// document cannot be read or lacks the section.
bool ReadStatusText(const std::string& json, const char* section, const char* key,
                    std::string& value) {
    KxJson::Value document;
    if (!KxJson::TryUnserialize(json, document) || !document.is_object()) {
        return false;
    }
    KxJson::Value inner;
    if (section != nullptr && !KxJson::FindObjectValue(document, section, inner)) {
        return false;
    }
    try {
        value = KxJson::GetStringValue(section == nullptr ? document : inner, key);
    } catch (const std::exception&) {
        return false;  // a status that is not text is no status we know
    }
    return true;
}

}  // namespace

void KxSnapAzureAPI::GetPollingInputsForOptype(AzureOperation /*operation*/,
                                               uint64_t& pollIntervalMs, uint64_t& maxWaitSeconds) {
    pollIntervalMs = pollIntervalSecs * 1000;
    maxWaitSeconds = maxWaitSecs;
    Log(0, "Using status poll interval [%lu millisec] max waitime [%lu sec]",
        static_cast<unsigned long>(pollIntervalMs), static_cast<unsigned long>(maxWaitSeconds));
}

CUxError KxSnapAzureAPI::PollForAsyncOperation(const std::string& statusUrl,
                                               std::string& response) {
    const uint64_t start = NowSecs();
    while (true) {
        std::string status;
        // A status document that cannot be read counts as a failed fetch.
        if (SendGetRequest(statusUrl, AZURE_OP_GET_ASYNC_STATUS, response, false).IsError() ||
            !ReadStatusText(response, nullptr, "status", status)) {
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL,
                                           "Failed to fetch operation status for [%s]",
                                           statusUrl.c_str());
        }
        if (FXString::EqualsNoCase(status, "InProgress")) {
            Log(0, "Operation in progress for [%s]", statusUrl.c_str());
        } else if (FXString::EqualsNoCase(status, "Failed")) {
            Log(0, "Operation failed for [%s]", statusUrl.c_str());
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                           "Operation failed for the resource");
        } else if (FXString::EqualsNoCase(status, "Succeeded")) {
            Log(0, "Operation success for [%s]", statusUrl.c_str());
            return CUxError::Success();
        }
        if (ElapsedSecs(start) > maxWaitSecs) {
            Log(1,
                "Maximum wait time [%lu secs] for aync operation exceeded. Unable to fetch "
                "operation status for [%s]",
                static_cast<unsigned long>(maxWaitSecs), statusUrl.c_str());
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_TIMEOUT, "%s",
                                           "Timed out while fetching operation status");
        }
        UXSLEEP(pollIntervalSecs * 1000);
    }
}

CUxError KxSnapAzureAPI::PollForResourceProvisioningState(AzureOperation operation,
                                                          const std::string& resourceUrl,
                                                          std::string& response) {
    uint64_t intervalMs = 0;
    uint64_t maxWait = 0;
    GetPollingInputsForOptype(operation, intervalMs, maxWait);
    const uint64_t start = NowSecs();
    while (true) {
        if (SendGetRequest(resourceUrl, AZURE_OP_GET_RESOURCE_INFO, response, false).IsError()) {
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL,
                                           "Failed to fetch resource info for [%s]",
                                           resourceUrl.c_str());
        }
        std::string state;
        if (!ReadStatusText(response, "properties", "provisioningState", state)) {
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_PARSE, "%s",
                                           "Failed to find properties section in json reponse");
        }
        if (FXString::EqualsNoCase(state, "Succeeded")) {
            Log(0, "Resource provisioning succeeded for [%s]", resourceUrl.c_str());
            return CUxError::Success();
        }
        if (FXString::EqualsNoCase(state, "Failed")) {
            Log(1, "Resource provisioning failed for [%s]", resourceUrl.c_str());
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                           "Provisioning failed for the resource");
        }
        Log(0, "Resource provisioning in progress for [%s]", resourceUrl.c_str());
        if (ElapsedSecs(start) > maxWait) {
            Log(1,
                "Maximum wait time [%lu secs] for resource provisioning exceeded. Unable to "
                "fetch provisioning state for the resource [%s]",
                static_cast<unsigned long>(maxWait), resourceUrl.c_str());
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_TIMEOUT, "%s",
                                           "Timed out while fetching operation status");
        }
        UXSLEEP(intervalMs);
    }
}

CUxError KxSnapAzureAPI::WaitForAzureResourceDeletion(const std::string& resourcePath) {
    const std::string path = FXString::Trim(resourcePath, "/");
    const std::string url =
        managementEndpoint + path + "?api-version=" + std::string(AZURE_API_VERSION);
    const uint64_t start = NowSecs();
    while (true) {
        std::string response;
        const CUxError err = SendGetRequest(url, AZURE_OP_GET_RESOURCE_INFO, response, false);
        if (err && GetLastHttpStatus() == 404) {
            Log(0, "Resource deleted [%s]", path.c_str());
            return CUxError::Success();
        }
        std::string state;
        if (!err && ReadStatusText(response, "properties", "provisioningState", state) &&
            !FXString::EqualsNoCase(state, "Deleting")) {
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL,
                                           "Resource [%s] still exists in state [%s]", path.c_str(),
                                           state.c_str());
        }
        if (ElapsedSecs(start) > maxWaitSecs) {
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_TIMEOUT,
                                           "Timed out while waiting for [%s] to be deleted",
                                           path.c_str());
        }
        Log(0, "Resource deletion in progress for [%s]", path.c_str());
        UXSLEEP(pollIntervalSecs * 1000);
    }
}
