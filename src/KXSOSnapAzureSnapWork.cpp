// Snapshot: one Azure snapshot per source device, its metadata stored on the
// record. The requests of all devices go out side by side (the freeze window
// of the host's applications lasts as long as this call).
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureSnapJob.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"
#include "platform/KXPlatformInfo.h"
#include "platform/UXSleep.h"

namespace {

constexpr const char* kDisableIncrementalKey = "bAzureEngineDisableIncrSnapshot";

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

// A snapshot whose metadata the host would not keep can be neither mapped nor
// reverted later: it is no backup. Remove it so nothing unknown stays behind.
void DropUnrecordedSnapshot(ManagedDiskCall& call, const AzureDiskSnapShotInfo& snapshot) {
    if (call.api().DeleteAzureDisk(snapshot.id).IsError()) {
        call.Log(KXSO::LOG_ERROR, "Failed to delete snapshot [%s] whose metadata was not stored",
                 snapshot.id.c_str());
    }
}

bool PlanFails(SnapPlan& plan, const std::string& message, int code = 0) {
    plan.failed = true;
    plan.failure = message;
    plan.failureCode = code;
    return false;
}

// The steps of a record that need no request, in the walk's order. False
// when one fails: the walk stops at this record.
bool PlanRecord(ManagedDiskCall& call, KXSO::SnapInfo* record,
                const std::vector<std::string>& disks, SnapPlan& plan) {
    plan.record = record;
    if (!record->getSourceDevicePath(plan.devicePath)) {
        return PlanFails(plan, "Failed to get Azure vm disk name", KXSO_ERR_SOURCE_DISK_NOT_FOUND);
    }
    std::string detail;
    if (!GetLunidForScsiDiskName(plan.devicePath, plan.lun, detail, disks)) {
        return PlanFails(plan, "Failed to get LUN id for the disk name [" + plan.devicePath +
                                   "]. error [" + detail + "]");
    }
    plan.lines.Add(KXSO::LOG_INFO, "Found scsi lunid [%d] for source device name [%s]", plan.lun,
                   plan.devicePath.c_str());
    if (call.api().FindDataDiskAtLun(plan.lun, call.instance(), plan.disk).IsError()) {
        return PlanFails(plan, "Failed to find Azure disk with lunid [" + std::to_string(plan.lun) +
                                   "] diskname [" + plan.devicePath + "]. error [" + detail + "]");
    }
    if (!record->getSnapName(plan.snapshot.name)) {
        plan.afterDiskRead = true;
        return PlanFails(plan, "Failed to get snapshot name");
    }
    return true;
}

// Writes what the record's job came to, as the walk writes it. False when
// the walk stops here.
bool ApplySnapshot(ManagedDiskCall& call, SnapPlan& plan, const SnapJob& job) {
    KXSO::SnapInfo* record = plan.record;
    const AzureDiskSnapShotInfo& snapshot = plan.snapshot;
    const CUxError& err = job.CreationResult();

    // Name and metadata are stored whatever the outcome, so that a later
    // delete finds a snapshot that Azure may have made after all.
    record->setSnapName(snapshot.name);
    const std::string text = SnapshotMetadataText(snapshot, plan.disk);
    const bool metadataStored = record->setSnapMetadata(KXSO::METADATA_SNAPSHOT, text) == 0;
    call.Log(KXSO::LOG_DETAIL, "Snapshot [%s] metadata [%s] for source device [%s]",
             snapshot.name.c_str(), text.c_str(), plan.devicePath.c_str());
    if (err) {
        call.message() << "Failed to create snapshot for Azure disk at lunid [" << plan.lun
                       << "] name [" << plan.devicePath << "]. error [" << ErrorText(err) << "]";
        call.RecordFailure(record);
        return false;
    }
    if (!metadataStored) {
        DropUnrecordedSnapshot(call, snapshot);
        call.message() << "Failed to store metadata of snapshot [" << snapshot.name
                       << "] for source device [" << plan.devicePath << "]";
        call.RecordFailure(record);
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Created snapshot [%s] for source device [%s]", snapshot.name.c_str(),
             plan.devicePath.c_str());
    record->setStatus(KXSO::SNAP_STATUS_SNAP_CREATED);
    if (!call.api().IsPostCreateSnapPhaseDisabled()) {
        record->setSnapFlags(record->getSnapFlags() | KXSO::SNAP_FLAG_AZURE_DISK_SNAP);
    }
    return true;
}

// The records after the one the walk stopped at stay as the walk leaves
// them; a snapshot Azure made for one of them meanwhile is deleted again. A
// delete that fails leaves the snapshot named on its record.
void UndoSnapshotsAfterStop(ManagedDiskCall& call, std::vector<SnapPlan>& plans,
                            const std::vector<std::unique_ptr<SnapJob>>& jobs, size_t stoppedAt) {
    std::vector<std::unique_ptr<ResourceDeleteJob>> deletes;
    std::vector<SnapPlan*> owners;
    for (size_t i = stoppedAt + 1; i < jobs.size(); ++i) {
        if (jobs[i]->CreationSent()) {
            deletes.push_back(
                std::make_unique<ResourceDeleteJob>(call.api(), plans[i].snapshot.id));
            owners.push_back(&plans[i]);
        }
    }
    if (deletes.empty()) {
        return;
    }
    call.api().RunSideBySide(JobPointers(deletes));
    for (size_t i = 0; i < deletes.size(); ++i) {
        const SnapPlan& plan = *owners[i];
        if (deletes[i]->Result().IsSuccess()) {
            call.Log(KXSO::LOG_INFO,
                     "Deleted snapshot [%s] of source device [%s]: the call stopped at an earlier "
                     "device",
                     plan.snapshot.id.c_str(), plan.devicePath.c_str());
            continue;
        }
        call.RecordFailure(plan.record, "Snapshot [" + plan.snapshot.id +
                                            "] was made for source device [" + plan.devicePath +
                                            "] after the call stopped at an earlier device and "
                                            "could not be deleted. error [" +
                                            ErrorText(deletes[i]->Result()) + "]");
    }
}

}  // namespace

KXSO::ResultCode SnapDevicesWork(ManagedDiskCall& call) {
    const bool incrementalDisabled = IncrementalSnapshotsDisabled(call);
    const size_t count = static_cast<size_t>(call.count());
    std::vector<SnapPlan> plans(count);
    // The devices settle once for the whole call: nothing attaches or
    // detaches a disk between the records of one snapshot call, and a
    // settle per record would stretch the freeze window by a process run
    // per device.
    std::vector<std::string> disks;
    FetchAllDiskNamesList(disks);
    size_t planned = 0;
    while (planned < count && PlanRecord(call, call.devices()[planned], disks, plans[planned])) {
        ++planned;
    }
    // A record that fails after its disk was read still has the disk read.
    const size_t jobCount = planned + (planned < count && plans[planned].afterDiskRead ? 1 : 0);
    std::vector<std::unique_ptr<SnapJob>> jobs;
    for (size_t i = 0; i < jobCount; ++i) {
        jobs.push_back(std::make_unique<SnapJob>(call, plans[i], incrementalDisabled));
    }
    call.api().RunSideBySide(JobPointers(jobs));

    size_t i = 0;
    for (; i < count; ++i) {
        SnapPlan& plan = plans[i];
        AssociateRecordWithArray(call, call.devices()[i]);
        plan.lines.WriteTo(call);
        if (plan.failed) {
            call.RecordFailure(call.devices()[i], plan.failure, plan.failureCode);
            break;
        }
        if (!ApplySnapshot(call, plan, *jobs[i])) {
            break;
        }
    }
    UndoSnapshotsAfterStop(call, plans, jobs, i);
    return i == count ? KXSO::RESULT_SUCCESS : KXSO::RESULT_FAILURE;
}
