// Reconciling the host's catalogue with Azure: a snapshot deleted outside
// this system is reported as such. Reconcile never fails the call: what it
// cannot check it only counts.
#include "KXSnapCloud/KXSnapAzureNetApp.h"

using AzureNetApp::KxSnapANFSnapObj;

bool KXSnapAzureNetApp::reconSnaps() {
    if (!selfValidate() || !api) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Reconciling snapshots...");
    int externallyDeleted = 0;
    int skipped = 0;
    int failed = 0;
    for (auto& entry : snapObjs) {
        KxSnapANFSnapObj& snapObj = *entry.second;
        if (snapObj.snapName.empty()) {
            logLine(KXSO::LOG_INFO,
                    "Snapshot num [%ld] has no snapshot name - its prepare phase probably failed, "
                    "skipping",
                    static_cast<long>(snapObj.snapNum));
            ++skipped;
            continue;
        }
        AzureNetApp::AzureNetAppSnapshotInfo found;
        const int result = api->rest_getSnapshotInfo(snapObj, found);
        if (result == ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND) {
            logLine(KXSO::LOG_INFO,
                    "Snapshot not found. May be deleted externally or not created, hence marking "
                    "snap [%s] as externally deleted.",
                    snapObj.snapName.c_str());
            snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_DELETED_EXTERNALLY);
            ++externallyDeleted;
        } else if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
            logLine(KXSO::LOG_ERROR, "Failed to check if source snapshot exists [%s] - continuing",
                    snapObj.snapName.c_str());
            // The call still succeeds, but the record must show that its
            // snapshot went unchecked, and why.
            replaceError(result, "Failed to check if source snapshot exists [" + snapObj.snapName +
                                     "] - continuing" + " REST API error [" + apiErrorText() +
                                     "]." + apiErrorDetail());
            setErrorDetailsForSnapObj(snapObj);
            ++failed;
        } else {
            logLine(KXSO::LOG_DETAIL, "Snapshot [%s] exists - snap id [%s]",
                    snapObj.snapName.c_str(), found.snapshotId.c_str());
        }
        resetError();
    }
    logLine(KXSO::LOG_INFO,
            "Snapshot Recon stats: Total-[%zu] Externally Deleted-[%d] Skipped-[%d] Failed-[%d]",
            snapObjs.size(), externallyDeleted, skipped, failed);
    logLine(KXSO::LOG_DETAIL, "Reconciling snapshots... done");
    return true;
}
