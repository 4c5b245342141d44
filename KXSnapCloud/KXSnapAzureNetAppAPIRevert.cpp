// Reverting a volume to one of its snapshots.
#include <string>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "platform/FXString.h"
#include "platform/UXSleep.h"
#include "src/AzureOperationStatus.h"

using ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED;
using ANF_API_CONST::ANF_RC_REST_CALL_FAILED;
using ANF_API_CONST::ANF_RC_SUCCESS;
using AzureNetApp::AzureInstanceInfo;
using AzureNetApp::KxSnapANFSnapObj;

std::string KXSnapAzureNetAppAPI::buildJSONForRevertVolumeReq(const KxSnapANFSnapObj& snapObj) {
    const AzureNetApp::AzureNetAppSnapshotInfo& snapshot = snapObj.snapshotInfo;
    std::string snapshotId = snapshot.snapRawPath;
    if (snapshotId.empty()) {
        // Azure wants the snapshot's resource id; when it was never read back,
        // it is the volume's id followed by the snapshot's name.
        snapshotId = "/" + FXString::Format(ANF_API_CONST::AZURE_REST_GET_SNAP_INFO_ENDPOINT,
                                            snapshot.subscriptionId.c_str(),
                                            snapshot.resourceGroupName.c_str(),
                                            snapshot.netappAccountName.c_str(),
                                            snapshot.capacityPoolName.c_str(),
                                            snapshot.volumeName.c_str(), snapObj.snapName.c_str());
    }
    AnfJson::Value body = AnfJson::Value::object();
    AnfJson::import(body, "snapshotId", snapshotId);
    return AnfJson::text(body);
}

int KXSnapAzureNetAppAPI::processRevertVolume(int64_t code, const std::string& revertResponse,
                                              std::string& link) {
    // A revert is a volume operation and is answered like a clone's creation.
    return processCreateClone(code, revertResponse, link);
}

int KXSnapAzureNetAppAPI::rest_revertVolume(KxSnapANFSnapObj& snapObj, AzureInstanceInfo&) {
    const AzureNetApp::AzureNetAppSnapshotInfo& volume = snapObj.snapshotInfo;
    const std::string body = buildJSONForRevertVolumeReq(snapObj);
    logLine(KXSO::LOG_DETAIL, "Created JSON request body : [%s]", body.c_str());
    const std::string path =
        FXString::Format(ANF_API_CONST::AZURE_REST_REVERT_VOL_ENDPOINT,
                         volume.subscriptionId.c_str(), volume.resourceGroupName.c_str(),
                         volume.netappAccountName.c_str(), volume.capacityPoolName.c_str(),
                         volume.volumeName.c_str(), ANF_API_CONST::AZURE_ANF_REST_API_VER);

    bool sent = sendRevertRequest(path, body);
    if (!sent && azureops::IsTransientStatus(lastHttpStatus())) {
        // The answer is lost: the revert may have started. Once the volume
        // is idle it is sent again, deliberately, and that operation is the
        // one followed. Reverting to the same snapshot again, with nothing
        // written in between, changes nothing.
        logLine(KXSO::LOG_INFO,
                "No answer to the revert of volume [%s]; sending it again once the volume is idle",
                volume.volumeName.c_str());
        if (waitForVolumeIdle(path)) {
            sent = sendRevertRequest(path, body);
        }
    }
    if (!sent) {
        extractErrorMessage(response, false);
        error << "Reverting volume failed for ANF snapshot [" << snapObj.snapName << "] "
              << "volume name [" << volume.volumeName << "]. "
              << "Error returned from ANF [" << restError.str() << "]. "
              << "Return code [" << ANF_RC_REST_CALL_FAILED << "].";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return ANF_RC_REST_CALL_FAILED;
    }

    const int64_t status = lastHttpStatus();
    const int result = processRevertVolume(status, response, snapObj.asyncOpLink);
    if (result == ANF_RC_ASYNC_OP_ACCEPTED) {
        logLine(KXSO::LOG_INFO,
                "Initiated revert volume request for volume [%s] to snapshot [%s] successfully",
                volume.volumeName.c_str(), snapObj.snapName.c_str());
        return result;
    }
    if (result == ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_INFO, "Reverted volume [%s] to snapshot [%s] successfully.",
                volume.volumeName.c_str(), snapObj.snapName.c_str());
        return result;
    }
    logLine(KXSO::LOG_ERROR,
            "Failed to parse response from revert volume API Response [%s] Status Code [%d]",
            response.c_str(), static_cast<int>(status));
    noteRejectedAnswer("revert volume", status);
    return ANF_RC_REST_CALL_FAILED;
}

bool KXSnapAzureNetAppAPI::sendRevertRequest(const std::string& path, const std::string& body) {
    // Alone on a connection of its own: libcurl re-sends a request whose
    // answer is lost on a reused connection, and a re-sent revert meets the
    // first one still running (409) while the volume is rolled back.
    if (restClient) {
        restClient->useFreshConnectionForNextRequest();
    }
    return sendRESTRequest(KXSnapRESTAPI_ANF::REQ_POST, path, body, false);
}

bool KXSnapAzureNetAppAPI::waitForVolumeIdle(const std::string& revertPath) {
    // The volume's own path: the revert path without "/revert".
    const size_t at = revertPath.find("/revert?");
    if (at == std::string::npos) {
        return false;
    }
    const std::string volumePath = revertPath.substr(0, at) + revertPath.substr(at + 7);
    const uint64_t intervalMs = retryInterval > 0 ? static_cast<uint64_t>(retryInterval) * 1000 : 0;
    int failures = 0;
    for (int attempt = 1; attempt < retryCount; ++attempt) {
        if (attempt > 1) {
            UXSLEEP_InTeRnAl(azureops::NextPollDelayMs(intervalMs, failures, lastRetryAfterMs()),
                             __FILE__, __LINE__);
        }
        if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_GET, volumePath, "", false)) {
            if (!azureops::IsTransientStatus(lastHttpStatus())) {
                return false;
            }
            ++failures;
            continue;
        }
        failures = 0;
        AnfJson::Value document;
        std::string state;
        if (AnfJson::parse(response, document) &&
            AnfJson::has<AnfJson::Object>(document, "properties")) {
            state = AnfJson::get<AnfJson::String>(*AnfJson::member(document, "properties"),
                                                  "provisioningState", "");
        }
        const azureops::OperationState parsed = azureops::ClassifyStatus(state);
        if (parsed == azureops::OperationState::kSucceeded) {
            return true;
        }
        if (azureops::IsTerminal(parsed)) {
            return false;  // a volume that failed is not reverted
        }
        logLine(KXSO::LOG_DETAIL, "Volume state [%s], waiting for it to be idle", state.c_str());
    }
    return false;
}
