// Following long-running Azure operations to their end: the operation-status
// URL that Azure returns for VM updates, and the resource's own
// provisioningState for disks and snapshots. Time is measured in whole seconds.
#include <ctime>
#include <string>

#include "AzureOperationStatus.h"
#include "KxSnapAzureAPI.h"
#include "platform/FXString.h"
#include "platform/KXLibCurl.h"
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
    lastOperationError = AzureOperationError();
    const uint64_t start = NowSecs();
    int failures = 0;
    while (true) {
        // A poll is never retried inside the request: this loop is the retry.
        const CUxError fetchErr =
            SendGetRequest(statusUrl, AZURE_OP_GET_ASYNC_STATUS, response, false);
        std::string status;
        if (fetchErr && azureops::IsTransientStatus(GetLastHttpStatus())) {
            // Says nothing about the operation: it is still running for all
            // we know, and is asked about again after a wait.
            ++failures;
            Log(1, "Operation status not available for [%s], asking again", statusUrl.c_str());
        } else if (fetchErr || !ReadStatusText(response, nullptr, "status", status)) {
            // A status document that cannot be read counts as a failed fetch.
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL,
                                           "Failed to fetch operation status for [%s]",
                                           statusUrl.c_str());
        } else {
            failures = 0;
            const azureops::OperationState state = azureops::ClassifyStatus(status);
            if (state == azureops::OperationState::kInProgress) {
                Log(0, "Operation in progress for [%s]", statusUrl.c_str());
            } else if (state == azureops::OperationState::kSucceeded) {
                Log(0, "Operation success for [%s]", statusUrl.c_str());
                return CUxError::Success();
            } else if (state == azureops::OperationState::kFailed) {
                ReadOperationError(response, lastOperationError);
                Log(0, "Operation failed for [%s]", statusUrl.c_str());
                return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                               "Operation failed for the resource");
            } else if (state == azureops::OperationState::kCanceled) {
                // A cancelled operation never ends otherwise: waiting for it
                // would only run into the time-out.
                ReadOperationError(response, lastOperationError);
                lastOperationError.canceled = true;
                Log(1, "Operation canceled for [%s]", statusUrl.c_str());
                return FXErrorUtil::ErrorErrNo(
                    FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                    ("Operation failed for the resource" + lastOperationError.Describe()).c_str());
            }
        }
        if (ElapsedSecs(start) > maxWaitSecs) {
            Log(1,
                "Maximum wait time [%lu secs] for aync operation exceeded. Unable to fetch "
                "operation status for [%s]",
                static_cast<unsigned long>(maxWaitSecs), statusUrl.c_str());
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_TIMEOUT, "%s",
                                           "Timed out while fetching operation status");
        }
        UXSLEEP(azureops::NextPollDelayMs(pollIntervalSecs * 1000, failures, RetryAfterMs()));
    }
}

void KxSnapAzureAPI::BeginProvisioningWait(AzureOperation operation, const std::string& resourceUrl,
                                           ProvisioningWait& wait) {
    wait = ProvisioningWait();
    wait.url = resourceUrl;
    GetPollingInputsForOptype(operation, wait.intervalMs, wait.maxWaitSecs);
    wait.start = NowSecs();
}

bool KxSnapAzureAPI::ProvisioningWaitStep(ProvisioningWait& wait, const CUxError& fetchErr,
                                          long httpStatus, const std::string& response,
                                          int64_t retryAfterMs, CUxError& result,
                                          uint64_t& delayMs) {
    const std::string& resourceUrl = wait.url;
    if (fetchErr && azureops::IsTransientStatus(httpStatus)) {
        ++wait.failures;
        Log(1, "Resource state not available for [%s], asking again", resourceUrl.c_str());
    } else if (fetchErr) {
        result = FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL,
                                         "Failed to fetch resource info for [%s]",
                                         resourceUrl.c_str());
        return true;
    } else {
        wait.failures = 0;
        std::string state;
        if (!ReadStatusText(response, "properties", "provisioningState", state)) {
            result = FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_PARSE, "%s",
                                             "Failed to find properties section in json reponse");
            return true;
        }
        const azureops::OperationState parsed = azureops::ClassifyStatus(state);
        if (parsed == azureops::OperationState::kSucceeded) {
            Log(0, "Resource provisioning succeeded for [%s]", resourceUrl.c_str());
            result = CUxError::Success();
            return true;
        }
        if (parsed == azureops::OperationState::kFailed ||
            parsed == azureops::OperationState::kCanceled) {
            Log(1, "Resource provisioning failed for [%s]", resourceUrl.c_str());
            result = FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                             "Provisioning failed for the resource");
            return true;
        }
        Log(0, "Resource provisioning in progress for [%s]", resourceUrl.c_str());
    }
    if (ElapsedSecs(wait.start) > wait.maxWaitSecs) {
        Log(1,
            "Maximum wait time [%lu secs] for resource provisioning exceeded. Unable to "
            "fetch provisioning state for the resource [%s]",
            static_cast<unsigned long>(wait.maxWaitSecs), resourceUrl.c_str());
        result = FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_TIMEOUT, "%s",
                                         "Timed out while fetching operation status");
        return true;
    }
    delayMs = azureops::NextPollDelayMs(wait.intervalMs, wait.failures, retryAfterMs);
    return false;
}

CUxError KxSnapAzureAPI::PollForResourceProvisioningState(AzureOperation operation,
                                                          const std::string& resourceUrl,
                                                          std::string& response) {
    ProvisioningWait wait;
    BeginProvisioningWait(operation, resourceUrl, wait);
    while (true) {
        const CUxError fetchErr =
            SendGetRequest(resourceUrl, AZURE_OP_GET_RESOURCE_INFO, response, false);
        CUxError result;
        uint64_t delayMs = 0;
        if (ProvisioningWaitStep(wait, fetchErr, GetLastHttpStatus(), response, RetryAfterMs(),
                                 result, delayMs)) {
            return result;
        }
        UXSLEEP(delayMs);
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

void KxSnapAzureAPI::ReadOperationError(const std::string& statusDocument,
                                        AzureOperationError& error) {
    KxJson::Value document;
    KxJson::Value inner;
    if (!KxJson::TryUnserialize(statusDocument, document) || !document.is_object() ||
        !KxJson::FindObjectValue(document, "error", inner)) {
        return;
    }
    try {
        error.code = KxJson::GetStringValue(inner, "code");
    } catch (const std::exception&) {
    }
    try {
        error.message = KxJson::GetStringValue(inner, "message");
    } catch (const std::exception&) {
    }
}

int64_t KxSnapAzureAPI::RetryAfterMs() const {
    return azureops::RetryAfterMs([this](const char* name) {
        const char* line = curl ? curl->GetHttpResponseHeader(name) : nullptr;
        return line == nullptr ? std::string() : std::string(line);
    });
}

std::string AzureOperationError::Describe() const {
    if (code.empty() && message.empty()) {
        return " [the operation was canceled without an error code or message]";
    }
    return " [" + code + "] [" + message + "]";
}
