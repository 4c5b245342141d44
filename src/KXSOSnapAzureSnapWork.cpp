// Snapshot and post-snapshot: one Azure snapshot per source device, its
// metadata stored on the record, then the wait until every snapshot has
// finished provisioning.
#include <ctime>
#include <string>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"
#include "platform/KXPlatformInfo.h"
#include "platform/UXSleep.h"

namespace {

constexpr const char* kDisableIncrementalKey = "bAzureEngineDisableIncrSnapshot";
// Code location of the post-snapshot time-out: the driver's own file and signature.
constexpr const char* kDriverFile = "KXSOSnapAzure";
constexpr const char* kPostSnapSignature =
    "KXSO::ResultCode kxso_postSnapDevicesAzureNative(KXSO::SnapInfo**, int16_t, "
    "KXSO::KXOSUtil*)";

bool IncrementalSnapshotsDisabled(ManagedDiskCall& call) {
    bool disabled = false;
    if (!KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, kDisableIncrementalKey, disabled)) {
        return false;
    }
    if (disabled) {
        call.Log(KXSO::LOG_INFO, "User disabled incremental snapshots");
    }
    return disabled;
}

const char* KindOf(const AzureDiskSnapShotInfo& snapshot) {
    return snapshot.incremental ? "incr" : "full";
}

// What a later job needs to find the snapshot and its source disk again.
std::string SnapshotMetadataText(const AzureDiskSnapShotInfo& snapshot, const AzureDiskInfo& disk) {
    AzureSnapMetadata metadata;
    metadata.snapURL = snapshot.id;
    metadata.sourceDiskURL = snapshot.sourceResourceId;
    metadata.sourceDiskName = disk.originalDiskName.empty() ? disk.name : disk.originalDiskName;
    metadata.sourceDiskSku = disk.storageAccountType;
    std::string text;
    FormatAzureSnapMetaData(metadata, text);
    return text;
}

CUxError CreateSnapshotWithFallback(ManagedDiskCall& call, int lun, const std::string& devicePath,
                                    bool incrementalDisabled, AzureDiskSnapShotInfo& snapshot) {
    snapshot.incremental = !incrementalDisabled;
    call.Log(KXSO::LOG_INFO, "Creating %s snapshot for disk lunid [%d] name [%s]", KindOf(snapshot),
             lun, devicePath.c_str());
    CUxError err = call.api().CreateAzureSnapshotForDisk(lun, call.instance(), snapshot);
    // The client clears the incremental flag only when Azure refused an
    // incremental snapshot outright (HTTP 400); a full one may still be offered.
    if (err && !snapshot.incremental && !incrementalDisabled) {
        call.Log(KXSO::LOG_INFO,
                 "Unable to create incr snapshot. Creating %s snapshot for disk lunid [%d] name "
                 "[%s]",
                 "full", lun, devicePath.c_str());
        err = call.api().CreateAzureSnapshotForDisk(lun, call.instance(), snapshot);
    }
    return err;
}

// A snapshot whose metadata the host would not keep can be neither mapped nor
// reverted later: it is no backup. Remove it so nothing unknown stays behind.
void DropUnrecordedSnapshot(ManagedDiskCall& call, const AzureDiskSnapShotInfo& snapshot) {
    if (call.api().DeleteAzureDisk(snapshot.id).IsError()) {
        call.Log(KXSO::LOG_ERROR, "Failed to delete snapshot [%s] whose metadata was not stored",
                 snapshot.id.c_str());
    }
}

bool SnapOneDevice(ManagedDiskCall& call, KXSO::SnapInfo* record, bool incrementalDisabled) {
    std::string devicePath;
    int lun = -1;
    AzureDiskInfo disk;
    if (!FindSourceDiskOfRecord(call, record, devicePath, lun, disk)) {
        return false;
    }
    AzureDiskSnapShotInfo snapshot;
    if (!record->getSnapName(snapshot.name)) {
        call.RecordFailure(record, "Failed to get snapshot name");
        return false;
    }
    const CUxError err =
        CreateSnapshotWithFallback(call, lun, devicePath, incrementalDisabled, snapshot);

    // Name and metadata are stored whatever the outcome, so that a later
    // delete finds a snapshot that Azure may have made after all.
    record->setSnapName(snapshot.name);
    const std::string text = SnapshotMetadataText(snapshot, disk);
    const bool metadataStored = record->setSnapMetadata(KXSO::METADATA_SNAPSHOT, text) == 0;
    call.Log(KXSO::LOG_DETAIL, "Snapshot [%s] metadata [%s] for source device [%s]",
             snapshot.name.c_str(), text.c_str(), devicePath.c_str());
    if (err) {
        call.message() << "Failed to create snapshot for Azure disk at lunid [" << lun << "] name ["
                       << devicePath << "]. error [" << ErrorText(err) << "]";
        call.RecordFailure(record);
        return false;
    }
    if (!metadataStored) {
        DropUnrecordedSnapshot(call, snapshot);
        call.message() << "Failed to store metadata of snapshot [" << snapshot.name
                       << "] for source device [" << devicePath << "]";
        call.RecordFailure(record);
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Created snapshot [%s] for source device [%s]", snapshot.name.c_str(),
             devicePath.c_str());
    record->setStatus(KXSO::SNAP_STATUS_SNAP_CREATED);
    if (!call.api().IsPostCreateSnapPhaseDisabled()) {
        record->setSnapFlags(record->getSnapFlags() | KXSO::SNAP_FLAG_AZURE_DISK_SNAP);
    }
    return true;
}

uint64_t NowSecs() {
    return static_cast<uint64_t>(std::time(nullptr));
}

// Polls the snapshot until Azure reports it "Succeeded", it failed for good,
// or the client's maximum wait has passed. Answers the last error.
CUxError WaitForSnapshot(ManagedDiskCall& call, const std::string& snapURL) {
    const uint64_t start = NowSecs();
    const uint64_t maxWait = call.api().GetMaxWaitSecs();
    const uint64_t interval = call.api().GetPollIntervalSecs();
    while (true) {
        AzureDiskSnapShotInfo snapshot;
        CUxError err = call.api().VerifyAzureSnapshot(snapURL, snapshot);
        if (snapshot.provisioningState == "Succeeded") {
            call.Log(KXSO::LOG_INFO, "Found snapshot [%s] location [%s] url [%s]",
                     snapshot.name.c_str(), snapshot.location.c_str(), snapURL.c_str());
            return err;
        }
        // A snapshot Azure reports as failed never turns into a good one;
        // waiting out the whole maximum would only delay the failure.
        if (err.IsSuccess() && FXString::EqualsNoCase(snapshot.provisioningState, "Failed")) {
            return FXErrorUtil::ErrorErrNo(
                FXCodeLocation(kDriverFile, kPostSnapSignature, __LINE__), AZURE_ERR_GENERAL,
                "Snapshot [%s] provisioning failed", snapshot.name.c_str());
        }
        const uint64_t now = NowSecs();
        const uint64_t elapsed = now > start ? now - start : 0;
        if (elapsed > maxWait) {
            err = FXErrorUtil::ErrorErrNo(
                FXCodeLocation(kDriverFile, kPostSnapSignature, __LINE__), AZURE_ERR_TIMEOUT,
                "Timed out while checking on snapshot [%s] status", snapshot.name.c_str());
            call.Log(KXSO::LOG_INFO,
                     "Maximum wait time [%lu secs] reached. Unable to check snapshot status for "
                     "[%s]",
                     static_cast<unsigned long>(maxWait), snapshot.name.c_str());
            return err;
        }
        call.Log(KXSO::LOG_DETAIL, "Check the snapshot [%s] status in  [%lu] seconds ...",
                 snapshot.name.c_str(), static_cast<unsigned long>(interval));
        UXSLEEP(interval * 1000);
    }
}

bool PostSnapOneDevice(ManagedDiskCall& call, KXSO::SnapInfo* record) {
    std::string text;
    if (!FetchSnapMetadata(record, text)) {
        call.RecordFailure(record, "Failed to fetch Azure snapshot URL from metadata.");
        return false;
    }
    call.Log(KXSO::LOG_DETAIL, "metadata [%s]", text.c_str());
    AzureSnapMetadata metadata;
    if (!ParseAndCheckSnapMetadata(call, text, metadata)) {
        call.RecordFailure(record, "Failed to parse Azure snapshot URL from metadata.");
        return false;
    }
    const CUxError err = WaitForSnapshot(call, metadata.snapURL);
    if (err) {
        call.message() << "Failed to verify Azure snapshot " << metadata.snapURL
                       << "error: " << ErrorText(err);
        call.RecordFailure(record);
        return false;
    }
    return true;
}

}  // namespace

KXSO::ResultCode SnapDevicesWork(ManagedDiskCall& call) {
    const bool incrementalDisabled = IncrementalSnapshotsDisabled(call);
    for (int16_t i = 0; i < call.count(); ++i) {
        if (!SnapOneDevice(call, call.devices()[i], incrementalDisabled)) {
            return KXSO::RESULT_FAILURE;
        }
    }
    return KXSO::RESULT_SUCCESS;
}

KXSO::ResultCode PostSnapDevicesWork(ManagedDiskCall& call) {
    for (int16_t i = 0; i < call.count(); ++i) {
        if (!PostSnapOneDevice(call, call.devices()[i])) {
            return KXSO::RESULT_FAILURE;
        }
    }
    return KXSO::RESULT_SUCCESS;
}
