// Volume snapshots: create (the operation is followed later, by the
// post-snapshot phase), read by name or by resource id, and delete.
#include <string>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "platform/FXString.h"
#include "src/AzureOperationStatus.h"

namespace {

// Where the post-snapshot phase finds the status link of a snapshot being made.
constexpr int kOperationLinkMetadataId = 155;

bool IsFailedState(const std::string& state) {
    return FXString::EqualsNoCase(state, "Failed") || FXString::EqualsNoCase(state, "Canceled");
}

// An answer without a state gives no reason to doubt the snapshot.
bool IsFinishedState(const std::string& state) {
    return state.empty() || FXString::EqualsNoCase(state, "Succeeded") || IsFailedState(state);
}

}  // namespace

using ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED;
using ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
using ANF_API_CONST::ANF_RC_INVALID_SNAPSHOT_URL;
using ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND;
using ANF_API_CONST::ANF_RC_REST_CALL_FAILED;
using ANF_API_CONST::ANF_RC_SUCCESS;
using AzureNetApp::AzureNetAppSnapshotInfo;
using AzureNetApp::KxSnapANFSnapObj;

std::string KXSnapAzureNetAppAPI::buildJSONForCreateSnapReq(const KxSnapANFSnapObj& snapObj) {
    AnfJson::Value properties = AnfJson::Value::object();
    AnfJson::import(properties, "fileSystemId", snapObj.snapshotInfo.fileSystemId);
    AnfJson::Value body = AnfJson::Value::object();
    AnfJson::import(body, "location", snapObj.snapshotInfo.location);
    AnfJson::import(body, "properties", properties);
    return AnfJson::text(body);
}

int KXSnapAzureNetAppAPI::processCreateSnapResp(int64_t code, const std::string&,
                                                std::string& link) {
    return processCreateAnswer(code, "snapshot", link);
}

int KXSnapAzureNetAppAPI::rest_createSnap(KxSnapANFSnapObj& snapObj) {
    const AzureNetAppSnapshotInfo& volume = snapObj.snapshotInfo;
    const std::string device = deviceLabel(snapObj);
    const std::string body = buildJSONForCreateSnapReq(snapObj);
    logLine(KXSO::LOG_DETAIL, "Created JSON request body : [%s]", body.c_str());

    std::string path;
    if (!volume.rawPath.empty()) {
        path = FXString::Format(ANF_API_CONST::AZURE_REST_CREATE_SNAP_FROM_VOL_ENDPOINT,
                                resourceRequestPath(volume.rawPath).c_str(),
                                snapObj.snapName.c_str(), ANF_API_CONST::AZURE_ANF_REST_API_VER);
    } else {
        path = FXString::Format(ANF_API_CONST::AZURE_REST_CREATE_SNAP_ENDPOINT,
                                volume.subscriptionId.c_str(), volume.resourceGroupName.c_str(),
                                volume.netappAccountName.c_str(), volume.capacityPoolName.c_str(),
                                volume.volumeName.c_str(), snapObj.snapName.c_str(),
                                ANF_API_CONST::AZURE_ANF_REST_API_VER);
    }

    if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_PUT, path, body, false)) {
        // No answer, or only passing errors after the retries: Azure may
        // have made the snapshot all the same.
        if (azureops::IsTransientStatus(lastHttpStatus())) {
            return followUnansweredSnapCreation(snapObj);
        }
        extractErrorMessage(response, false);
        error << "Creating snapshot failed for ANF volume [" << volume.volumeName << "], "
              << "snapshot name [" << snapObj.snapName << "]. "
              << "Error returned from ANF [" << restError.str() << "]. "
              << "Return code [" << ANF_RC_REST_CALL_FAILED << "].";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return ANF_RC_REST_CALL_FAILED;
    }

    std::string link;
    const int64_t status = lastHttpStatus();
    const int handled = processCreateSnapResp(status, response, link);
    if (handled == ANF_RC_ASYNC_OP_ACCEPTED) {
        if (snapObj.snapInfo == nullptr ||
            snapObj.snapInfo->setSnapTransientMetadata(kOperationLinkMetadataId, link) != 0) {
            // Post-snapshot then reads the snapshot by name instead.
            logLine(KXSO::LOG_ERROR,
                    "Failed to keep operation link [%s] of snapshot [%s] on the host record",
                    link.c_str(), snapObj.snapName.c_str());
        }
        logLine(KXSO::LOG_INFO,
                "Initiated create request for snapshot [%s] for ANF device [%s] successfully",
                snapObj.snapName.c_str(), device.c_str());
        logLine(KXSO::LOG_INFO, "Creating snapshot [%s] of ANF device [%s]... - done",
                snapObj.snapName.c_str(), device.c_str());
        return ANF_RC_SUCCESS;
    }
    if (handled == ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_INFO, "Created snapshot [%s] for ANF device [%s] successfully",
                snapObj.snapName.c_str(), device.c_str());
        return ANF_RC_SUCCESS;
    }
    if (status == 200 && !asyncLinkRefused) {
        // The PUT was sent again after its first answer was lost, and Azure
        // answers with the snapshot that first request made.
        return followUnansweredSnapCreation(snapObj);
    }
    logLine(KXSO::LOG_ERROR,
            "Failed to parse response from create snap API Response[%s] Status Code[%d]",
            response.c_str(), static_cast<int>(status));
    noteRejectedAnswer("create snap", status);
    return ANF_RC_REST_CALL_FAILED;
}

// The snapshot's PUT names it: reading the snapshot by name tells whether the
// request whose answer was lost made it, and follows it to its end. The
// record then either has its snapshot or an error that names it.
int KXSnapAzureNetAppAPI::followUnansweredSnapCreation(KxSnapANFSnapObj& snapObj) {
    const AzureNetAppSnapshotInfo& volume = snapObj.snapshotInfo;
    const std::string device = deviceLabel(snapObj);
    logLine(KXSO::LOG_INFO,
            "No usable answer to the creation of snapshot [%s] for ANF device [%s]; reading the "
            "snapshot by name",
            snapObj.snapName.c_str(), device.c_str());
    AzureNetAppSnapshotInfo found;
    const int result = rest_waitForSnapshot(snapObj, found);
    if (result == ANF_RC_SUCCESS && found.snapshotName == snapObj.snapName) {
        logLine(KXSO::LOG_INFO, "Created snapshot [%s] for ANF device [%s] successfully",
                snapObj.snapName.c_str(), device.c_str());
        return ANF_RC_SUCCESS;
    }
    const std::string reason = restError.str();
    resetRESTErr();
    error << "Creating snapshot failed for ANF volume [" << volume.volumeName << "], "
          << "snapshot name [" << snapObj.snapName << "]. "
          << "The answer to the request was lost and the snapshot could not be read back"
          << (found.provisioningState.empty()
                  ? ""
                  : " (provisioning state [" + found.provisioningState + "])")
          << (reason.empty() ? "" : " [" + reason + "]") << ". "
          << "Return code [" << ANF_RC_REST_CALL_FAILED << "].";
    logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
    return ANF_RC_REST_CALL_FAILED;
}

int KXSnapAzureNetAppAPI::processdeleteSnapResp(int64_t code, const std::string&,
                                                std::string& link) {
    return processDeleteAnswer(code, "snapshot", link);
}

int KXSnapAzureNetAppAPI::rest_deleteSnaps(KxSnapANFSnapObj& snapObj) {
    const AzureNetAppSnapshotInfo& volume = snapObj.snapshotInfo;
    const std::string device = deviceLabel(snapObj);
    const char* name = snapObj.snapName.c_str();
    logLine(KXSO::LOG_DETAIL, "Deleting snapshot [%s] of ANF device [%s]...", name, device.c_str());
    if (volume.subscriptionId.empty() || volume.resourceGroupName.empty() ||
        volume.netappAccountName.empty() || volume.capacityPoolName.empty() ||
        volume.volumeName.empty() || snapObj.snapName.empty()) {
        // An empty segment would make the request name something other than
        // the snapshot meant; a delete is never sent on a guess.
        resetRESTErr();
        error << "Refusing to delete snapshot [" << snapObj.snapName << "] of ANF device ["
              << device << "]: its resource name is incomplete [" << volume.dump() << "]";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return ANF_RC_REST_CALL_FAILED;
    }
    const std::string path =
        FXString::Format(ANF_API_CONST::AZURE_REST_DELETE_SNAP_ENDPOINT,
                         volume.subscriptionId.c_str(), volume.resourceGroupName.c_str(),
                         volume.netappAccountName.c_str(), volume.capacityPoolName.c_str(),
                         volume.volumeName.c_str(), name, ANF_API_CONST::AZURE_ANF_REST_API_VER);

    const int result = deleteAndFollow(
        path, &KXSnapAzureNetAppAPI::processdeleteSnapResp,
        FXString::Format("Request sent for deleting snapshot [%s] of ANF device [%s]", name,
                         device.c_str()),
        ANF_API_CONST::ANF_OP_DELETE_SNAP);
    if (result != ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_INFO, "Failed to delete snapshot [%s] of ANF device [%s]", name,
                device.c_str());
    } else {
        logLine(KXSO::LOG_INFO, "Deleted snapshot [%s] of ANF device [%s] successfully", name,
                device.c_str());
    }
    logLine(KXSO::LOG_DETAIL, "Deleting snapshot [%s] of ANF device [%s] status [%d]... - done",
            name, device.c_str(), result);
    return result;
}

int KXSnapAzureNetAppAPI::rest_getSnapshotInfo(KxSnapANFSnapObj& snapObj,
                                               AzureNetAppSnapshotInfo& snapshotInfo) {
    const AzureNetAppSnapshotInfo& volume = snapObj.snapshotInfo;
    const std::string path = FXString::Format(
        ANF_API_CONST::AZURE_REST_GET_SNAP_INFO_ENDPOINT, volume.subscriptionId.c_str(),
        volume.resourceGroupName.c_str(), volume.netappAccountName.c_str(),
        volume.capacityPoolName.c_str(), volume.volumeName.c_str(), snapObj.snapName.c_str());
    return rest_getSnapshotInfoFromURL(path, snapshotInfo);
}

int KXSnapAzureNetAppAPI::rest_waitForSnapshot(KxSnapANFSnapObj& snapObj,
                                               AzureNetAppSnapshotInfo& snapshotInfo) {
    int result = rest_getSnapshotInfo(snapObj, snapshotInfo);
    for (int attempt = 1; result == ANF_RC_SUCCESS && attempt < retryCount &&
                          !IsFinishedState(snapshotInfo.provisioningState);
         ++attempt) {
        logLine(KXSO::LOG_INFO, "Snapshot [%s] is in provisioning state [%s] - try [%d/%d]",
                snapObj.snapName.c_str(), snapshotInfo.provisioningState.c_str(), attempt,
                retryCount);
        const uint64_t seconds = retryInterval > 0 ? static_cast<uint64_t>(retryInterval) : 0;
        pauseBeforeNextPoll(seconds * 1000);
        result = rest_getSnapshotInfo(snapObj, snapshotInfo);
    }
    if (result != ANF_RC_SUCCESS) {
        return result;
    }
    if (IsFailedState(snapshotInfo.provisioningState)) {
        return ANF_API_CONST::ANF_RC_ASYNC_OP_FAILED;
    }
    if (!IsFinishedState(snapshotInfo.provisioningState)) {
        return ANF_API_CONST::ANF_RC_ASYNC_OP_TIMED_OUT;
    }
    return ANF_RC_SUCCESS;
}

int KXSnapAzureNetAppAPI::rest_getSnapshotInfoFromURL(const std::string& path,
                                                      AzureNetAppSnapshotInfo& snapshotInfo) {
    const size_t start = path.find(ANF_API_CONST::AZURE_REST_VOL_URL_START_VALIDATION);
    // The path may come from an operation's status document: it must name a
    // resource under the management endpoint and nothing else.
    if (start == std::string::npos || !isSafeResourceId("/" + path.substr(start))) {
        resetRESTErr();
        errorDetail << "Got invalid snapshot URL [" << path << "]. Failing.";
        logLine(KXSO::LOG_ERROR, "Got invalid snapshot URL [%s]. Failing.", path.c_str());
        return ANF_RC_INVALID_SNAPSHOT_URL;
    }
    const std::string requestUrl =
        FXString::Format(ANF_API_CONST::AZURE_REST_GET_SNAP_INFO_FROM_URL_ENDPOINT,
                         path.substr(start).c_str(), ANF_API_CONST::AZURE_ANF_REST_API_VER);
    if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_GET, requestUrl, "", false)) {
        extractErrorMessage(response, false);
        const int result =
            isNotFoundAnswer(true) ? ANF_RC_RESOURCE_NOT_FOUND : ANF_RC_REST_CALL_FAILED;
        logLine(KXSO::LOG_ERROR, "%d-{%s}-url-[%s]", result, restError.str().c_str(),
                requestPath.c_str());
        return result;
    }
    if (processGetSnapshotInfo(response, snapshotInfo) != ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_ERROR, "Failed to parse response from get snapshot info API Response[%s]",
                response.c_str());
        return ANF_RC_REST_CALL_FAILED;
    }
    return ANF_RC_SUCCESS;
}

int KXSnapAzureNetAppAPI::processGetSnapshotInfo(const std::string& snapshotResponse,
                                                 AzureNetAppSnapshotInfo& snapshotInfo) {
    AnfJson::Value document;
    if (!AnfJson::parse(snapshotResponse, document)) {
        errorDetail << "Failed to parse response as JSON. Response [" << snapshotResponse << "]";
        logLine(KXSO::LOG_ERROR, "Failed to parse response as JSON. Response [%s]",
                snapshotResponse.c_str());
        return ANF_RC_INVALID_RESPONSE;
    }
    auto missingKey = [&](const char* key) {
        errorDetail << "Failed to parse response as JSON. Could not find JSON key [" << key
                    << "]. Response [" << snapshotResponse << "]";
        logLine(KXSO::LOG_ERROR,
                "Failed to parse response as JSON. Could not find JSON key [%s]. Response [%s]",
                key, snapshotResponse.c_str());
        return ANF_RC_INVALID_RESPONSE;
    };
    if (!AnfJson::has<AnfJson::String>(document, "id")) {
        return missingKey("id");
    }
    if (!AnfJson::has<AnfJson::Object>(document, "properties")) {
        return missingKey("properties");
    }
    const AnfJson::Value& properties = *AnfJson::member(document, "properties");
    snapshotInfo.snapRawPath = AnfJson::get<AnfJson::String>(document, "id", "");
    snapshotInfo.snapshotId = AnfJson::get<AnfJson::String>(properties, "snapshotId", "");
    snapshotInfo.snapshotName = AnfJson::get<AnfJson::String>(properties, "name", "");
    snapshotInfo.provisioningState =
        AnfJson::get<AnfJson::String>(properties, "provisioningState", "");
    snapshotInfo.fileSystemId = AnfJson::get<AnfJson::String>(properties, "fileSystemId", "");
    snapshotInfo.snapRawName = AnfJson::get<AnfJson::String>(document, "name", "");
    if (snapshotInfo.snapshotId.empty()) {
        errorDetail << "Snapshot id not found in response [" << snapshotResponse << "]";
        logLine(KXSO::LOG_ERROR, "%s", errorDetail.str().c_str());
        return ANF_RC_INVALID_RESPONSE;
    }
    if (snapshotInfo.snapshotName.empty() && !snapshotInfo.parseRawPath()) {
        errorDetail << "Failed to parse snapshot name from response [" << snapshotResponse << "]";
        logLine(KXSO::LOG_ERROR, "Failed to parse snapshot name from response [%s]",
                snapshotResponse.c_str());
        return ANF_RC_INVALID_RESPONSE;
    }
    return ANF_RC_SUCCESS;
}
