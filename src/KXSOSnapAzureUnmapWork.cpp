// Unmap: detaches the disks that map made from snapshots and deletes them.
// The disk of a record is found again by the name map gave it.
#include <memory>
#include <string>
#include <vector>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureFanOutJobs.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureOwnershipJob.h"
#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"

namespace {

// Metadata and the name of the record's disk. False with the record's
// message in `failure` (not yet recorded).
bool DescribeDiskToUnmap(ManagedDiskCall& call, KXSO::SnapInfo* record,
                         AzureDiskSnapShotInfo& snapshot, std::string& failure) {
    std::string text;
    if (!FetchSnapMetadata(record, text)) {
        failure = "Failed to fetch Azure snapshot URL from metadata.";
        return false;
    }
    call.Log(KXSO::LOG_DETAIL, "metadata [%s]", text.c_str());
    AzureSnapMetadata metadata;
    if (!ParseAndCheckSnapMetadata(call, text, metadata)) {
        failure = "Failed to parse Azure snapshot URL from metadata";
        return false;
    }
    snapshot.id = metadata.snapURL;
    GetSnapshotCloneName(record, snapshot.diskName);
    return true;
}

void ReportUnmapped(ManagedDiskCall& call, KXSO::SnapInfo* record, const std::string& diskName) {
    call.Log(KXSO::LOG_INFO, "Unmapped snapshot disk [%s]", diskName.c_str());
    record->setStatus(KXSO::SNAP_STATUS_UNMAPPED);
    record->setMappedDevicePath("");
}

bool UnmapOneDevice(ManagedDiskCall& call, KXSO::SnapInfo* record) {
    AzureDiskSnapShotInfo snapshot;
    std::string failure;
    if (!DescribeDiskToUnmap(call, record, snapshot, failure)) {
        call.RecordFailure(record, failure);
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Detaching and deleting snapshot disk [%s]",
             snapshot.diskName.c_str());
    const CUxError err = call.api().CleanupAzureSnapshotDisk(snapshot, call.instance());
    if (err) {
        call.message() << "Failed to unmap Azure snapshot disk [" << snapshot.diskName << "]"
                       << "error: " << ErrorText(err);
        call.RecordFailure(record);
        return false;
    }
    ReportUnmapped(call, record, snapshot.diskName);
    return true;
}

// The attached data disk of that name, found as the detach finds it: the last
// segment of its id, ignoring case. Null when it is not attached.
const AzureDiskInfo* AttachedDiskNamed(const AzureInstanceInfo& instance, const std::string& name) {
    for (const AzureDiskInfo& disk : instance.disks) {
        if (disk.lun >= 0 && FXString::EqualsNoCase(LastSegment(disk.id), name)) {
            return &disk;
        }
    }
    return nullptr;
}

// What one record of a bulk unmap needs before anything is sent.
struct UnmapPlan {
    KXSO::SnapInfo* record = nullptr;
    AzureDiskSnapShotInfo snapshot;
    bool described = false;
    std::string failure;
    // The read of its attached disk's owner; null when the disk is not attached.
    OwnershipReadJob* ownerRead = nullptr;
};

// The detach of the whole list stops at the first disk whose ownership cannot
// be read, leaving every disk attached. Reading each attached disk's owner
// first lets one unreadable disk fail only its own record; the detach then
// reads the owners of the others again. The reads go out side by side and
// never stop the others. False after recording the failure.
bool OwnershipReadable(ManagedDiskCall& call, const UnmapPlan& plan) {
    if (plan.ownerRead == nullptr) {
        return true;
    }
    bool createdByKX = false;
    const CUxError err = plan.ownerRead->TakeVerdict(createdByKX);
    if (err) {
        call.message() << "Failed to unmap Azure snapshot disk [" << plan.snapshot.diskName << "]"
                       << "error: " << ErrorText(err);
        call.RecordFailure(plan.record);
        return false;
    }
    return true;
}

std::vector<UnmapPlan> PlanBulkUnmap(ManagedDiskCall& call,
                                     std::vector<std::unique_ptr<OwnershipReadJob>>& reads) {
    std::vector<UnmapPlan> plans(static_cast<size_t>(call.count()));
    for (size_t i = 0; i < plans.size(); ++i) {
        UnmapPlan& plan = plans[i];
        plan.record = call.devices()[i];
        plan.described = DescribeDiskToUnmap(call, plan.record, plan.snapshot, plan.failure);
        const AzureDiskInfo* disk =
            plan.described ? AttachedDiskNamed(call.instance(), plan.snapshot.diskName) : nullptr;
        if (disk != nullptr) {
            reads.push_back(std::make_unique<OwnershipReadJob>(call.api(), disk->id, false));
            plan.ownerRead = reads.back().get();
        }
    }
    return plans;
}

}  // namespace

KXSO::ResultCode UnmapSnapsPerDeviceWork(ManagedDiskCall& call) {
    int unmapped = 0;
    for (int16_t i = 0; i < call.count(); ++i) {
        if (UnmapOneDevice(call, call.devices()[i])) {
            ++unmapped;
        }
    }
    if (unmapped < call.count()) {
        call.Log(KXSO::LOG_INFO, "Failed to unmap the snapshot disks");
        return KXSO::RESULT_FAILURE;
    }
    call.Log(KXSO::LOG_INFO, "Successfully unmapped all the snapshot disks");
    return KXSO::RESULT_SUCCESS;
}

KXSO::ResultCode UnmapSnapsBulkWork(ManagedDiskCall& call) {
    std::vector<std::unique_ptr<OwnershipReadJob>> reads;
    const std::vector<UnmapPlan> plans = PlanBulkUnmap(call, reads);
    call.api().RunSideBySide(JobPointers(reads));
    std::vector<AzureDiskSnapShotInfo> disks;
    std::vector<KXSO::SnapInfo*> owners;
    // A record whose disk cannot even be named, or whose disk's owner cannot
    // be read, was not unmapped: it counts against the result like a disk
    // that stayed attached.
    int unusable = 0;
    for (const UnmapPlan& plan : plans) {
        if (!plan.described) {
            call.RecordFailure(plan.record, plan.failure);
        }
        if (!plan.described || !OwnershipReadable(call, plan)) {
            ++unusable;
            continue;
        }
        call.Log(KXSO::LOG_DETAIL, "Use snapshot disk name [%s]", plan.snapshot.diskName.c_str());
        disks.push_back(plan.snapshot);
        owners.push_back(plan.record);
    }
    const CUxError err = call.api().CleanupAzureSnapshotDisk(disks, call.instance());
    if (err) {
        call.message() << "Failed to unmap Azure snapshot disks from the VM"
                       << "error: " << ErrorText(err);
        call.RecordFailure(call.devices()[call.count() - 1]);
    }
    int remaining = unusable;
    for (size_t i = 0; i < disks.size(); ++i) {
        bool attached = false;
        for (const AzureDiskInfo& dataDisk : call.instance().disks) {
            call.Log(KXSO::LOG_DETAIL, "[%s] [%s]", dataDisk.name.c_str(),
                     disks[i].diskName.c_str());
            if (dataDisk.name == disks[i].diskName) {
                attached = true;
            }
        }
        if (attached) {
            ++remaining;
            continue;
        }
        ReportUnmapped(call, owners[i], disks[i].diskName);
    }
    if (remaining == 0) {
        call.Log(KXSO::LOG_INFO, "Successfully unmapped all the snapshot disks");
        return KXSO::RESULT_SUCCESS;
    }
    if (remaining < call.count()) {
        call.Log(KXSO::LOG_INFO, "Failed to unmap some of the snapshot disks");
        return KXSO::RESULT_PARTIAL;
    }
    call.Log(KXSO::LOG_INFO, "Failed to unmap the snapshot disks");
    return KXSO::RESULT_FAILURE;
}
