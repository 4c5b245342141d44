// Snapshot creation and the post-snapshot phase that follows each creation to
// its end and completes the metadata records with the snapshot's identity.
// The records' requests go out side by side (KXSnapAzureNetAppSideBySide.h):
// the host's applications stay frozen while the snapshots are requested.
#include <string>

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapAzureNetAppSideBySide.h"

using AzureNetApp::KxSnapANFSnapObj;

namespace {

constexpr int kSnapshotNameMismatch = 30;
// A snapshot name could not be had: no request was sent.
constexpr int kNoSnapshotName = -1;
constexpr int kRecordDone = 0;
constexpr int kRecordFailed = 1;

}  // namespace

bool KXSnapAzureNetApp::setSnapFlags(uint64_t flags) {
    for (auto& entry : snapObjs) {
        entry.second->snapInfo->setSnapFlags(flags);
    }
    return true;
}

bool KXSnapAzureNetApp::createSnaps() {
    if (!selfValidate() || !api) {
        return false;
    }
    setSnapFlags(KXSO::SNAP_FLAG_AZURE_DISK_SNAP);
    logLine(KXSO::LOG_DETAIL, "Creating snapshots...");
    // The walk stops at the first snapshot that cannot be requested.
    AnfSideBySide sideBySide(
        *this, [this](KxSnapANFSnapObj& snapObj) { return createSnapFor(snapObj); },
        [](int code) { return code != ANF_API_CONST::ANF_RC_SUCCESS; });
    sideBySide.prefetch(workObjects());
    size_t index = 0;
    for (auto& entry : snapObjs) {
        if (sideBySide.run(index, *entry.second) != ANF_API_CONST::ANF_RC_SUCCESS) {
            undoAfterStop(sideBySide, index,
                          [this](KxSnapANFSnapObj& made) { return undoSnapFor(made); });
            return false;
        }
        ++index;
    }
    logLine(KXSO::LOG_DETAIL, "Creating snapshots... - done");
    return true;
}

int KXSnapAzureNetApp::createSnapFor(KxSnapANFSnapObj& snapObj) {
    if (snapObj.snapName.empty() && !generateUUID(snapObj)) {
        logLine(KXSO::LOG_ERROR,
                "Failure when trying to generate snap uuid - failing SnapName[%s] "
                "VolumeName[%s]",
                snapObj.snapName.c_str(), snapObj.snapshotInfo.volumeName.c_str());
        setErrorDetailsForSnapObj(snapObj);
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return kNoSnapshotName;
    }
    resetError();
    const int result = api->rest_createSnap(snapObj);
    if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
        lastError = result;
        copyAPIErrorBuffer();
        setErrorDetailsForSnapObj(snapObj);
        return result;
    }
    snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_SNAP_CREATED);
    return result;
}

int KXSnapAzureNetApp::undoSnapFor(KxSnapANFSnapObj& made) {
    resetError();
    const int result = api->rest_deleteSnaps(made);
    const std::string& name = made.snapName;
    const std::string& volume = made.snapshotInfo.volumeName;
    return settleUndo(made, result, "snapshot [" + name + "] of ANF volume [" + volume + "]",
                      "Snapshot [" + name + "] was made for ANF volume [" + volume + "]");
}

bool KXSnapAzureNetApp::postSnapDevices() {
    if (!selfValidate() || !api) {
        return false;
    }
    AnfSideBySide sideBySide(*this,
                             [this](KxSnapANFSnapObj& snapObj) { return postSnapFor(snapObj); });
    sideBySide.prefetch(workObjects());
    int failures = 0;
    size_t index = 0;
    for (auto& entry : snapObjs) {
        if (sideBySide.run(index++, *entry.second) != kRecordDone) {
            ++failures;
        }
    }
    if (failures == 0) {
        logLine(KXSO::LOG_DETAIL, "Post snap operation completed for [%d] volume(s).",
                static_cast<int>(snapObjs.size()));
        return true;
    }
    logLine(KXSO::LOG_ERROR, "Post snap operation failed for [%d] volume(s) out of [%d].", failures,
            static_cast<int>(snapObjs.size()));
    return false;
}

int KXSnapAzureNetApp::postSnapFor(KxSnapANFSnapObj& snapObj) {
    if (snapObj.snapName.empty() && !generateUUID(snapObj)) {
        logLine(KXSO::LOG_INFO,
                "Failure when trying to generate snap uuid [%s] for ANF volume [%s] - "
                "continuing",
                snapObj.snapName.c_str(), snapObj.snapshotInfo.volumeName.c_str());
    }
    const std::string& name = snapObj.snapName;
    const std::string& volume = snapObj.snapshotInfo.volumeName;
    auto fail = [&](int code, const std::string& text) {
        replaceError(code, text);
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_SNAP_FAILED);
        setErrorDetailsForSnapObj(snapObj);
    };

    logLine(KXSO::LOG_DETAIL,
            "Trying to get the operation progress link for snapshot [%s] of ANF volume [%s]",
            name.c_str(), volume.c_str());
    AzureNetApp::AzureAsyncOpInfo operation;
    AzureNetApp::AzureNetAppSnapshotInfo found;
    int result = ANF_API_CONST::ANF_RC_SUCCESS;
    if (!snapObj.snapInfo->getSnapMetadata(KXSO::METADATA_OPERATION_LINK,
                                           operation.asyncOpUrl) ||
        operation.asyncOpUrl.empty()) {
        logLine(KXSO::LOG_INFO,
                "Failed to get operation link for snapshot [%s] of ANF volume [%s], snap "
                "might have been created synchronously or failed to create. Trying to fetch "
                "snapshot details using snapshot name",
                name.c_str(), volume.c_str());
        // Without the operation only the snapshot's own state tells
        // whether it was made: a failed one must not complete the records.
        result = api->rest_waitForSnapshot(snapObj, found);
        if ((result == ANF_API_CONST::ANF_RC_ASYNC_OP_FAILED ||
             result == ANF_API_CONST::ANF_RC_ASYNC_OP_TIMED_OUT) &&
            !found.provisioningState.empty()) {
            fail(result,
                 "Snapshot [" + name + "] of ANF volume [" + volume + "] is " +
                     (result == ANF_API_CONST::ANF_RC_ASYNC_OP_TIMED_OUT ? "still " : "") +
                     "in provisioning state [" + found.provisioningState + "].");
            return kRecordFailed;
        }
    } else {
        logLine(KXSO::LOG_INFO,
                "Got snap operation link [%s] for snapshot [%s] of ANF volume [%s] "
                "successfully",
                operation.asyncOpUrl.c_str(), name.c_str(), volume.c_str());
        result = api->monitorSnapOpProgress(operation, ANF_API_CONST::ANF_OP_CREATE_SNAP);
        if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
            fail(result, "Failed to create snapshot[" + name + "] of ANF volume[" + volume +
                             "]" + "REST API error [" + apiErrorText() + "].");
            return kRecordFailed;
        }
        // The operation names the snapshot it created.
        result = api->rest_getSnapshotInfoFromURL(operation.resourceName, found);
    }
    if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
        fail(result, "Failed to get details for snapshot [" + name + "] of ANF volume[" +
                         volume + "]" + "REST API error [" + apiErrorText() + "]." +
                         apiErrorDetail());
        return kRecordFailed;
    }
    if (found.snapshotName != name) {
        fail(kSnapshotNameMismatch, "Error : Mismatch on snapshot name, tried to create [" +
                                        name + "] - created [" + found.snapshotName + "]" +
                                        " for ANF volume[" + volume + "]");
        return kRecordFailed;
    }
    snapObj.snapshotInfo.snapshotId = found.snapshotId;
    if (!updateSnapMetadataWithSnapInfo(snapObj)) {
        logLine(KXSO::LOG_ERROR, "Failed to update snap metadata with snap name [%s].",
                name.c_str());
        snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_SNAP_FAILED);
        setErrorDetailsForSnapObj(snapObj);
        return kRecordFailed;
    }
    logLine(KXSO::LOG_INFO, "Created snapshot [%s] of ANF volume [%s] successfully",
            name.c_str(), volume.c_str());
    return kRecordDone;
}
