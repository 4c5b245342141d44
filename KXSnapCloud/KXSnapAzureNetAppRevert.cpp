// Reverting volumes to their snapshots. Each work object moves through its
// revert states (opState): 80 validated, then 85 accepted and running or 89
// reverted at once, 88 failed, or 87 when an earlier request failed and this
// one was never sent; a revert stops sending requests at the first failure.
#include <string>

#include "KXSnapCloud/KXSnapAzureNetApp.h"

using AzureNetApp::KxSnapANFSnapObj;

namespace {

constexpr int32_t kRevertValidated = 80;
constexpr int32_t kRevertRunning = 85;
constexpr int32_t kRevertNotAttempted = 87;
constexpr int32_t kRevertFailed = 88;
constexpr int32_t kRevertDone = 89;

constexpr int kSourceSnapshotMissing = 18;
constexpr int kRevertNotInitiated = 35;

}  // namespace

bool KXSnapAzureNetApp::validateForRevert() {
    if (!selfValidate() || !api) {
        return false;
    }
    for (auto& entry : snapObjs) {
        KxSnapANFSnapObj& snapObj = *entry.second;
        AzureNetApp::AzureNetAppSnapshotInfo found;
        const int result = api->rest_getSnapshotInfo(snapObj, found);
        if (result == ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND ||
            result == ANF_API_CONST::ANF_RC_REST_CALL_FAILED) {
            if (result == ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND) {
                replaceError(kSourceSnapshotMissing,
                             "Source snapshot [" + snapObj.snapName + "] not found.");
            } else {
                replaceError(result, "Failed to check if source snapshot exists [" +
                                         snapObj.snapName + "] - failing");
            }
            logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
            setErrorDetailsForSnapObj(snapObj);
            snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_REVERT_FAILED);
            return false;
        }
        // The revert request names the snapshot by its resource id, which
        // the metadata records do not carry.
        snapObj.snapshotInfo.snapRawPath =
            !found.snapRawPath.empty() ? found.snapRawPath : snapshotResourceId(snapObj);
        snapObj.opState = kRevertValidated;
    }
    return true;
}

bool KXSnapAzureNetApp::revertSnaps() {
    if (!selfValidate() || !api) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Reverting [%zu] volumes...", snapObjs.size());
    bool requestFailed = false;
    for (auto& entry : snapObjs) {
        KxSnapANFSnapObj& snapObj = *entry.second;
        if (requestFailed) {
            snapObj.opState = kRevertNotAttempted;
            continue;
        }
        if (snapObj.snapInfo->getStatus() == KXSO::SNAP_STATUS_REVERTED) {
            continue;
        }
        resetError();
        const int result = api->rest_revertVolume(snapObj, instance);
        if (result == ANF_API_CONST::ANF_RC_SUCCESS) {
            snapObj.opState = kRevertDone;
        } else if (result == ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED) {
            snapObj.opState = kRevertRunning;
        } else {
            lastError = ANF_API_CONST::ANF_RC_ASYNC_OP_FAILED;
            snapObj.opState = kRevertFailed;
            copyAPIErrorBuffer();
            setErrorDetailsForSnapObj(snapObj);
            requestFailed = true;
        }
    }
    if (!processRevertedVolumeDetails()) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Reverting volumes... - done");
    return true;
}

bool KXSnapAzureNetApp::processRevertedVolumeDetails() {
    int failures = 0;
    for (auto& entry : snapObjs) {
        KxSnapANFSnapObj& snapObj = *entry.second;
        KXSO::SnapInfo* record = snapObj.snapInfo;
        const std::string& volume = snapObj.snapshotInfo.volumeName;
        const std::string& snapName = snapObj.snapName;
        auto fail = [&]() {
            record->setStatus(KXSO::SNAP_STATUS_REVERT_FAILED);
            ++failures;
        };
        switch (snapObj.opState) {
            case kRevertFailed:
                logLine(KXSO::LOG_DETAIL, "Revert failed for volume [%s].", volume.c_str());
                fail();
                continue;
            case kRevertNotAttempted:
                logLine(KXSO::LOG_DETAIL, "Revert aborted for volume [%s].", volume.c_str());
                // The host sees why this volume was not touched.
                setErrorDetailsForSnapObj(snapObj, 0,
                                          "Revert aborted for volume [" + volume + "].");
                fail();
                continue;
            case kRevertRunning:
            case kRevertDone:
                break;
            default:
                logLine(KXSO::LOG_DETAIL,
                        "Invalid operation state found - revert not initiated for volume [%s]",
                        volume.c_str());
                if (lastError == 0) {
                    replaceError(kRevertNotInitiated,
                                 "Invalid operation state found - revert not initiated for "
                                 "volume [" +
                                     volume + "]. ");
                    setErrorDetailsForSnapObj(snapObj);
                }
                fail();
                continue;
        }

        logLine(KXSO::LOG_DETAIL, "Processing revert volume [%s].", volume.c_str());
        if (snapObj.asyncOpLink.empty()) {
            if (snapObj.opState == kRevertRunning) {
                replaceError(ANF_API_CONST::ANF_RC_REST_CALL_FAILED,
                             "Failed to get snap operation link for revert volume operation [" +
                                 volume + "], source snapshot [" + snapName + "].");
                logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
                logLine(KXSO::LOG_ERROR, "Continuing with next snap.");
                setErrorDetailsForSnapObj(snapObj);
                snapObj.opState = kRevertFailed;
                fail();
                continue;
            }
        } else {
            logLine(KXSO::LOG_INFO, "Got operation link [%s] for revert volume [%s] successfully.",
                    snapObj.asyncOpLink.c_str(), volume.c_str());
            AzureNetApp::AzureAsyncOpInfo operation;
            operation.asyncOpUrl = snapObj.asyncOpLink;
            const int result =
                api->monitorSnapOpProgress(operation, ANF_API_CONST::ANF_OP_REVERT_VOL);
            if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
                replaceError(ANF_API_CONST::ANF_RC_ASYNC_OP_FAILED,
                             "Failed to revert volume [" + volume + "] to snapshot [" + snapName +
                                 "]. " + apiErrorText());
                logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
                setErrorDetailsForSnapObj(snapObj);
                snapObj.opState = kRevertFailed;
                fail();
                continue;
            }
        }
        record->setStatus(KXSO::SNAP_STATUS_REVERTED);
        logLine(KXSO::LOG_INFO, "Reverted volume [%s] to snapshot [%s] successfully.",
                volume.c_str(), snapName.c_str());
    }
    if (failures == 0) {
        logLine(KXSO::LOG_INFO, "Successfully reverted [%zu] volumes.", snapObjs.size());
        return true;
    }
    logLine(KXSO::LOG_ERROR, "[%d] volumes failed to revert out of [%zu].", failures,
            snapObjs.size());
    return false;
}
