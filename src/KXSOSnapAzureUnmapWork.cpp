// Unmap: detaches the disks that map made from snapshots and deletes them.
// The disk of a record is found again by the name map gave it.
#include <string>
#include <vector>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"

namespace {

// Metadata and the name of the record's disk. False after recording the failure.
bool DescribeDiskToUnmap(ManagedDiskCall& call, KXSO::SnapInfo* record,
                         AzureDiskSnapShotInfo& snapshot) {
    std::string text;
    if (!FetchSnapMetadata(record, text)) {
        call.RecordFailure(record, "Failed to fetch Azure snapshot URL from metadata.");
        return false;
    }
    call.Log(KXSO::LOG_DETAIL, "metadata [%s]", text.c_str());
    AzureSnapMetadata metadata;
    if (!ParseAndCheckSnapMetadata(call, text, metadata)) {
        call.RecordFailure(record, "Failed to parse Azure snapshot URL from metadata");
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
    if (!DescribeDiskToUnmap(call, record, snapshot)) {
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

// The detach of the whole list stops at the first disk whose ownership cannot
// be read, leaving every disk attached. Reading each attached disk's owner
// first lets one unreadable disk fail only its own record; the detach then
// reads the owners of the others again. False after recording the failure.
bool OwnershipReadable(ManagedDiskCall& call, KXSO::SnapInfo* record,
                       const AzureDiskSnapShotInfo& snapshot) {
    const AzureDiskInfo* disk = AttachedDiskNamed(call.instance(), snapshot.diskName);
    if (disk == nullptr) {
        return true;
    }
    bool createdByKX = false;
    const CUxError err = call.api().CheckAzureResourceCreatedByKX(disk->id, createdByKX);
    if (err) {
        call.message() << "Failed to unmap Azure snapshot disk [" << snapshot.diskName << "]"
                       << "error: " << ErrorText(err);
        call.RecordFailure(record);
        return false;
    }
    return true;
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
    std::vector<AzureDiskSnapShotInfo> disks;
    std::vector<KXSO::SnapInfo*> owners;
    // A record whose disk cannot even be named, or whose disk's owner cannot
    // be read, was not unmapped: it counts against the result like a disk
    // that stayed attached.
    int unusable = 0;
    for (int16_t i = 0; i < call.count(); ++i) {
        KXSO::SnapInfo* record = call.devices()[i];
        AzureDiskSnapShotInfo snapshot;
        if (!DescribeDiskToUnmap(call, record, snapshot) ||
            !OwnershipReadable(call, record, snapshot)) {
            ++unusable;
            continue;
        }
        call.Log(KXSO::LOG_DETAIL, "Use snapshot disk name [%s]", snapshot.diskName.c_str());
        disks.push_back(snapshot);
        owners.push_back(record);
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
