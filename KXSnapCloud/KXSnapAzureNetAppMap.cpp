// Mapping a snapshot: a clone volume made from it, reported to the host by
// its export path; unmapping deletes that clone.
#include <string>

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapAzureNetAppSideBySide.h"
#include "KXSnapCloud/KXSnapCloudConstants.h"
#include "platform/FXString.h"

using AzureNetApp::KxSnapANFSnapObj;

namespace {

constexpr int kCloneInfoMissing = 18;
constexpr int kCloneWithoutMountTarget = 27;
constexpr int kNoSnapshotNameForClone = 28;
constexpr int kCloneReady = 0;
constexpr int kCloneFailed = 1;

// A clone refused for want of an export rule was never asked for: each
// record is refused on its own. Any other refusal stops the map's requests.
bool StopsTheMap(int result) {
    return result != ANF_API_CONST::ANF_RC_SUCCESS &&
           result != ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED &&
           result != ANF_API_CONST::ANF_RC_NO_EXPORT_RULE;
}

}  // namespace

bool KXSnapAzureNetApp::generateCloneVolDetails(KxSnapANFSnapObj& snapObj) {
    AzureNetApp::AzureNetAppSnapshotInfo& source = snapObj.snapshotInfo;
    // The clone takes the source volume's quota and subnet, which the
    // metadata records do not carry.
    if (opType == KXSnapCloudConstants::KXSnapCloud_Op_Map &&
        (source.subnetId.empty() || source.usageThreshold.empty())) {
        const std::string volumeName = source.volumeName;
        const int result = api->rest_getVolumeInfo(source, true);
        if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
            lastError = result;
            error << "Error when trying to fetch source volume details from Azure [" << volumeName
                  << "]"
                  << " when trying to generate clone name.";
            logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
            setErrorDetailsForSnapObj(snapObj);
            return false;
        }
    }
    AzureNetApp::AzureNetAppVolumeInfo& clone = snapObj.cloneVolumeInfo;
    clone = static_cast<const AzureNetApp::AzureNetAppVolumeInfo&>(source);
    clone.rawName.clear();
    clone.rawPath.clear();
    clone.fileSystemId.clear();
    clone.sharePath.clear();
    clone.volumeName.clear();
    if (snapObj.snapName.empty()) {
        lastError = kNoSnapshotNameForClone;
        error << "Failed to fetch source snap name for snap id [" << snapObj.snapNum << "]"
              << " when trying to generate clone name.";
        logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
        setErrorDetailsForSnapObj(snapObj);
        return false;
    }
    std::string cloneName = KX_ANF_SNAP_CLONE_NAME_PREFIX + snapObj.snapName;
    // Several clones of one snapshot are told apart by the host's clone index.
    if (snapObj.snapInfo->isSnapOptionSet(KXSO::SNAP_OPTION_CLONE_INDEX)) {
        cloneName += "-" + std::to_string(snapObj.snapInfo->getCloneIndex());
    }
    clone.volumeName = cloneName;
    clone.sharePath = cloneName;
    logLine(KXSO::LOG_DETAIL, "Generated clone details for snap id [%ld] : [%s]",
            static_cast<long>(snapObj.snapNum), clone.dump().c_str());
    return true;
}

bool KXSnapAzureNetApp::validateForMap() {
    if (!selfValidate() || !api) {
        return false;
    }
    for (auto& entry : snapObjs) {
        KxSnapANFSnapObj& snapObj = *entry.second;
        resetError();
        if (!generateCloneVolDetails(snapObj)) {
            logLine(KXSO::LOG_ERROR, "Failed to generate clone volume details for snap [%ld]",
                    static_cast<long>(snapObj.snapNum));
            return false;
        }
        AzureNetApp::AzureNetAppVolumeInfo existing = snapObj.cloneVolumeInfo;
        int result = api->rest_getCloneInfo(existing);
        if (result == ANF_API_CONST::ANF_RC_SUCCESS) {
            const ExistingClone settled = settleExistingClone(snapObj);
            if (settled == ExistingClone::kUnusable) {
                logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
                setErrorDetailsForSnapObj(snapObj);
                return false;
            }
            if (settled == ExistingClone::kReady) {
                logLine(KXSO::LOG_INFO, "Clone [%s] already exists - marking as mapped",
                        snapObj.cloneVolumeInfo.volumeName.c_str());
                snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_ATTACHED_NO_DEVICE);
            }
        } else if (result == ANF_API_CONST::ANF_RC_REST_CALL_FAILED) {
            logLine(KXSO::LOG_INFO,
                    "Warning - Failed to check if clone volume with same name exists [%s] - "
                    "continuing",
                    snapObj.cloneVolumeInfo.volumeName.c_str());
        }
        AzureNetApp::AzureNetAppSnapshotInfo found;
        result = api->rest_getSnapshotInfo(snapObj, found);
        if (result == ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND) {
            replaceError(kCloneInfoMissing,
                         "Source snapshot [" + snapObj.snapName + "] not found.");
            logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
            setErrorDetailsForSnapObj(snapObj);
            return false;
        }
        if (result == ANF_API_CONST::ANF_RC_REST_CALL_FAILED) {
            logLine(KXSO::LOG_INFO,
                    "Warning - Failed to check if source snapshot exists [%s] - continuing",
                    snapObj.snapName.c_str());
        }
    }
    return true;
}

bool KXSnapAzureNetApp::mapSnaps() {
    if (!selfValidate() || !api) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Mapping [%zu] snapshots...", snapObjs.size());
    AnfSideBySide sideBySide(
        *this, [this](KxSnapANFSnapObj& snapObj) { return requestCloneFor(snapObj); },
        StopsTheMap);
    sideBySide.prefetch(workObjects());
    size_t index = 0;
    bool requestFailed = false;
    for (auto& entry : snapObjs) {
        if (StopsTheMap(sideBySide.run(index, *entry.second))) {
            requestFailed = true;
            undoAfterStop(sideBySide, index,
                          [this](KxSnapANFSnapObj& made) { return undoCloneFor(made); });
            break;
        }
        ++index;
    }
    // A request that failed leaves its error on the record even when the
    // clone turns up after all (its answer was lost): the map failed.
    if (!processCloneDetails() || requestFailed) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Mapping snapshots... - done");
    return true;
}

int KXSnapAzureNetApp::requestCloneFor(KxSnapANFSnapObj& snapObj) {
    if (snapObj.snapInfo->getStatus() == KXSO::SNAP_STATUS_ATTACHED_NO_DEVICE) {
        return ANF_API_CONST::ANF_RC_SUCCESS;  // the clone exists already
    }
    resetError();
    const int result = api->rest_createClone(snapObj, instance);
    if (result != ANF_API_CONST::ANF_RC_SUCCESS &&
        result != ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED) {
        lastError = result;
        copyAPIErrorBuffer();
        setErrorDetailsForSnapObj(snapObj);
    }
    return result;
}

int KXSnapAzureNetApp::undoCloneFor(KxSnapANFSnapObj& made) {
    resetError();
    AzureNetApp::AzureNetAppVolumeInfo clone = made.cloneVolumeInfo;
    const int result = api->rest_deleteClone(clone);
    const std::string& name = made.cloneVolumeInfo.volumeName;
    return settleUndo(made, result,
                      "clone volume [" + name + "] of snapshot [" + made.snapName + "]",
                      "Clone volume [" + name + "] was made from snapshot [" + made.snapName + "]");
}

bool KXSnapAzureNetApp::processCloneDetails() {
    AnfSideBySide sideBySide(*this,
                             [this](KxSnapANFSnapObj& snapObj) { return processCloneFor(snapObj); });
    sideBySide.prefetch(workObjects());
    int failures = 0;
    size_t index = 0;
    for (auto& entry : snapObjs) {
        if (sideBySide.run(index++, *entry.second) != kCloneReady) {
            ++failures;
        }
    }
    if (failures == 0) {
        logLine(KXSO::LOG_INFO, "Successfully created and processed [%zu] clones.",
                snapObjs.size());
        return true;
    }
    logLine(KXSO::LOG_ERROR, "[%d] volumes failed to clone.", failures);
    return false;
}

int KXSnapAzureNetApp::processCloneFor(KxSnapANFSnapObj& snapObj) {
    AzureNetApp::AzureNetAppVolumeInfo& clone = snapObj.cloneVolumeInfo;
    const std::string cloneName = clone.volumeName;
    const std::string& snapName = snapObj.snapName;
    logLine(KXSO::LOG_DETAIL, "Processing clone details [%s].", cloneName.c_str());
    auto fail = [&](int code, const std::string& text) {
        replaceError(code, text);
        logLine(KXSO::LOG_ERROR, "%d:%s", lastError, error.str().c_str());
        setErrorDetailsForSnapObj(snapObj);
    };

    if (snapObj.asyncOpLink.empty()) {
        // Without a link the clone was made synchronously or existed already.
        if (cloneName.empty()) {
            fail(ANF_API_CONST::ANF_RC_REST_CALL_FAILED,
                 "Failed to get snap operation link and cloned volume info for clone volume [" +
                     cloneName + "], source snapshot [" + snapName + "].");
            logLine(KXSO::LOG_ERROR, "Continuing with next snap.");
            return kCloneFailed;
        }
    } else {
        logLine(KXSO::LOG_INFO, "Got operation link [%s] for clone volume [%s] successfully.",
                snapObj.asyncOpLink.c_str(), cloneName.c_str());
        AzureNetApp::AzureAsyncOpInfo operation;
        operation.asyncOpUrl = snapObj.asyncOpLink;
        const int result =
            api->monitorSnapOpProgress(operation, ANF_API_CONST::ANF_OP_CREATE_CLONE);
        if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
            fail(result, "Failed to create clone volume [" + cloneName + "] from snapshot [" +
                             snapName + "]. " + apiErrorText());
            snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_MAP_FAILED);
            return kCloneFailed;
        }
    }
    if (api->rest_getCloneInfo(clone) != ANF_API_CONST::ANF_RC_SUCCESS) {
        fail(kCloneInfoMissing, "Failed to get cloned volume info for clone [" + cloneName +
                                    "], " + "source snapshot [" + snapName + "]. REST Error [" +
                                    apiErrorText() + "].");
        return kCloneFailed;
    }
    if (clone.mountTargets.empty()) {
        fail(kCloneWithoutMountTarget, "Failed to get mount targets for newly cloned volume [" +
                                           cloneName + "], " + "source snapshot [" + snapName +
                                           "].");
        return kCloneFailed;
    }
    const std::string exportPath =
        FXString::Format(ANF_API_CONST::ANF_NFS_EXPORT_PATH_TEMPLATE,
                         clone.mountTargets.front().ipAddress.c_str(), clone.sharePath.c_str());
    if (snapObj.snapInfo->setMappedDevicePath(exportPath) != 0) {
        // A clone the host cannot be told about is of no use to it.
        fail(ANF_API_CONST::ANF_RC_REST_CALL_FAILED,
             "Failed to set export path [" + exportPath + "] for clone [" + cloneName + "].");
        return kCloneFailed;
    }
    snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_MAPPED);
    logLine(KXSO::LOG_DETAIL, "Export path set as [%s].", exportPath.c_str());
    logLine(KXSO::LOG_INFO, "Created clone [%s] of snapshot [%s] successfully.",
            cloneName.c_str(), snapName.c_str());
    return kCloneReady;
}

bool KXSnapAzureNetApp::unmapSnaps() {
    if (!selfValidate() || !api) {
        return false;
    }
    logLine(KXSO::LOG_DETAIL, "Unmapping [%zu] snapshots...", snapObjs.size());
    AnfSideBySide sideBySide(*this,
                             [this](KxSnapANFSnapObj& snapObj) { return unmapSnapFor(snapObj); });
    sideBySide.prefetch(workObjects());
    size_t index = 0;
    for (auto& entry : snapObjs) {
        sideBySide.run(index++, *entry.second);
    }
    logLine(KXSO::LOG_DETAIL, "Unmapping snapshots... - done");
    return true;
}

int KXSnapAzureNetApp::unmapSnapFor(KxSnapANFSnapObj& snapObj) {
    resetError();
    if (!generateCloneVolDetails(snapObj)) {
        logLine(KXSO::LOG_ERROR, "Failed to get clone volume details for snap [%ld]",
                static_cast<long>(snapObj.snapNum));
        return kCloneFailed;
    }
    const std::string cloneName = snapObj.cloneVolumeInfo.volumeName;
    const int result = api->rest_deleteClone(snapObj.cloneVolumeInfo);
    // A clone that is already gone is as unmapped as one deleted now.
    if (result != ANF_API_CONST::ANF_RC_SUCCESS &&
        result != ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND) {
        lastError = result;
        error << "Failed to delete clone [" << cloneName << "] of snapshot [" << snapObj.snapName
              << "] "
              << "Error Details : " << apiErrorText();
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        setErrorDetailsForSnapObj(snapObj);
        return result;
    }
    logLine(KXSO::LOG_INFO, "Deleted clone [%s] of snapshot [%s]", cloneName.c_str(),
            snapObj.snapName.c_str());
    // The host learns from the status which clones are gone, and must not
    // keep offering an export path that no longer exists.
    snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_UNMAPPED);
    snapObj.snapInfo->setMappedDevicePath("");
    return ANF_API_CONST::ANF_RC_SUCCESS;
}
