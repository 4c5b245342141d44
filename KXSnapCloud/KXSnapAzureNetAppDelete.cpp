// Deleting snapshots. A snapshot that is already gone, or that prepare never
// got as far as taking, is retired as deleted so that the host's catalogue
// can drop it. The deletes of all records go out side by side.
#include <string>

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapAzureNetAppSideBySide.h"

using AzureNetApp::KxSnapANFSnapObj;

namespace {

constexpr int kDeleted = 0;
constexpr int kDeleteFailed = 1;

}  // namespace

bool KXSnapAzureNetApp::deleteSnaps() {
    if (!selfValidate() || !api) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Deleting snapshots...");
    AnfSideBySide sideBySide(*this,
                             [this](KxSnapANFSnapObj& snapObj) { return deleteSnapFor(snapObj); });
    sideBySide.prefetch(workObjects());
    int deleted = 0;
    int failed = 0;
    size_t index = 0;
    for (auto& entry : snapObjs) {
        if (sideBySide.run(index++, *entry.second) == kDeleted) {
            ++deleted;
        } else {
            ++failed;
        }
    }
    logLine(KXSO::LOG_INFO, "Snapshot delete stats -- total [%zu] deleted [%d] failed [%d]",
            snapObjs.size(), deleted, failed);
    logLine(KXSO::LOG_DETAIL, "Deleting snapshots ... - done");
    return failed == 0;
}

int KXSnapAzureNetApp::deleteSnapFor(KxSnapANFSnapObj& snapObj) {
    KXSO::SnapInfo* record = snapObj.snapInfo;
    const long snapNum = static_cast<long>(snapObj.snapNum);
    const std::string device = displayName(snapObj);
    logLine(KXSO::LOG_DETAIL,
            "Trying to delete snapshot [%s], num [%ld] of ANF device [%s] - snapshot id "
            "[%s]...",
            snapObj.snapName.c_str(), snapNum, device.c_str(),
            snapObj.snapshotInfo.snapshotId.c_str());
    // Reading empty metadata marked it deleted already.
    if (record->getStatus() == KXSO::SNAP_STATUS_DELETED) {
        logLine(KXSO::LOG_INFO,
                "Snapshot [%s], num [%ld] of ANF device [%s] has empty metadata - probably "
                "failed in prepare with no physical snapshot and hence marking it as deleted "
                "successfully",
                snapObj.snapName.c_str(), snapNum, device.c_str());
        record->setStatus(KXSO::SNAP_STATUS_DELETED);
        return kDeleted;
    }
    if (snapObj.snapName.empty()) {
        if (!generateUUID(snapObj)) {
            logLine(KXSO::LOG_INFO, "Failed to generate UUID as fallback for snap num [%ld]",
                    snapNum);
            setErrorDetailsForSnapObj(snapObj);
            return kDeleteFailed;
        }
        logLine(KXSO::LOG_INFO, "Generated UUID [%s] as fallback for snap num [%ld]",
                snapObj.snapName.c_str(), snapNum);
    }
    resetError();
    const int result = api->rest_deleteSnaps(snapObj);
    if (result == ANF_API_CONST::ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_INFO, "Snapshot [%s] num [%ld] of ANF device [%s] is deleted successfully",
                snapObj.snapName.c_str(), snapNum, device.c_str());
    } else if (result == ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND) {
        logLine(KXSO::LOG_INFO,
                "Snapshot [%s] num [%ld] of ANF device [%s] is not found and hence marking it "
                "as deleted successfully",
                snapObj.snapName.c_str(), snapNum, device.c_str());
    } else {
        lastError = result;
        error << "Failed to delete snapshot [" << snapObj.snapName << "] of source volume ["
              << snapObj.snapshotInfo.volumeName << "] "
              << "Error Details : " << apiErrorText();
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        setErrorDetailsForSnapObj(snapObj);
        record->setStatus(KXSO::SNAP_STATUS_DELETE_FAILED);
        return kDeleteFailed;
    }
    record->setStatus(KXSO::SNAP_STATUS_DELETED);
    return kDeleted;
}
