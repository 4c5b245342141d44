// Reverting a volume to one of its snapshots.
#include <string>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "platform/FXString.h"

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

    if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_POST, path, body, false)) {
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
