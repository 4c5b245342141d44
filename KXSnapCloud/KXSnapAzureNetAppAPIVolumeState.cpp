// Waiting for a volume to settle: a clone still being created (or changed)
// is read again with the monitor's interval and count until its
// provisioning state is final or it is gone.
#include <string>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "src/AzureOperationStatus.h"

using ANF_API_CONST::ANF_RC_ASYNC_OP_TIMED_OUT;
using ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND;
using ANF_API_CONST::ANF_RC_REST_CALL_FAILED;
using ANF_API_CONST::ANF_RC_SUCCESS;

namespace {

std::string ProvisioningStateOf(const std::string& volumeJson) {
    AnfJson::Value document;
    if (!AnfJson::parse(volumeJson, document) ||
        !AnfJson::has<AnfJson::Object>(document, "properties")) {
        return "";
    }
    return AnfJson::get<AnfJson::String>(*AnfJson::member(document, "properties"),
                                         "provisioningState", "");
}

}  // namespace

int KXSnapAzureNetAppAPI::rest_waitForVolumeState(const AzureNetApp::AzureNetAppVolumeInfo& volume,
                                                  std::string& state) {
    const uint64_t intervalMs = retryInterval > 0 ? static_cast<uint64_t>(retryInterval) * 1000 : 0;
    int failures = 0;
    int result = ANF_RC_REST_CALL_FAILED;
    state.clear();
    for (int attempt = 1; attempt < retryCount; ++attempt) {
        if (attempt > 1) {
            pauseBeforeNextPoll(
                azureops::NextPollDelayMs(intervalMs, failures, lastRetryAfterMs()));
        }
        AzureNetApp::AzureNetAppVolumeInfo read = volume;
        result = rest_getVolumeInfo(read, false);
        if (result == ANF_RC_RESOURCE_NOT_FOUND) {
            return result;
        }
        if (result != ANF_RC_SUCCESS) {
            if (!azureops::IsTransientStatus(lastHttpStatus())) {
                return result;
            }
            ++failures;
            continue;
        }
        failures = 0;
        state = ProvisioningStateOf(response);
        if (azureops::IsTerminal(azureops::ClassifyStatus(state))) {
            return ANF_RC_SUCCESS;
        }
        logLine(KXSO::LOG_INFO, "Volume [%s] is in state [%s] - waiting", volume.volumeName.c_str(),
                state.c_str());
        result = ANF_RC_ASYNC_OP_TIMED_OUT;
    }
    return result;
}
