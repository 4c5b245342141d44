// Revert: replaces source disks of this VM with disks made from snapshots.
// The source disk named in a snapshot's metadata is detached (and deleted when
// the user asked for it), a disk made from the snapshot is attached, its
// device is reported and the metadata is rewritten to name the new disk.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureRevertLeftovers.h"
#include "KXSOSnapAzureRevertRecovery.h"
#include "KXSOSnapAzureSnapshotReads.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"
#include "platform/KXPlatformInfo.h"

namespace {

constexpr const char* kDeleteSourceKey = "bAzureDeleteOriginalDiskOnRevert";

std::string RevertedOutcome(const std::string& newDiskId, const std::string& deviceName) {
    return "The source disk is replaced by disk [" + newDiskId + "] as device [" + deviceName + "]";
}

bool ReadDeleteFlag(ManagedDiskCall& call) {
    bool deleteSource = false;
    if (!KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, kDeleteSourceKey, deleteSource)) {
        return false;
    }
    if (deleteSource) {
        call.Log(KXSO::LOG_INFO,
                 "User ENABLED the setting [Ferrolink/%s] to delete the source disks",
                 kDeleteSourceKey);
    }
    return deleteSource;
}

// Metadata of a record, fetched and parsed. False after recording the failure.
bool ReadRevertMetadata(ManagedDiskCall& call, KXSO::SnapInfo* record,
                        AzureSnapMetadata& metadata) {
    std::string text;
    if (!FetchSnapMetadata(record, text)) {
        call.RecordFailure(record, "Failed to fetch Azure snapshot URL from metadata");
        return false;
    }
    call.Log(KXSO::LOG_DETAIL, "metadata [%s]", text.c_str());
    if (!ParseAndCheckSnapMetadata(call, text, metadata)) {
        call.RecordFailure(record, "Failed to parse Azure snapshot URL from metadata.");
        return false;
    }
    return true;
}

// Metadata and snapshot check shared by both forms' first phase. The bulk
// form has read the snapshots side by side beforehand (`reads`).
bool DescribeSnapshotToRevert(ManagedDiskCall& call, KXSO::SnapInfo* record,
                              AzureSnapMetadata& metadata, AzureDiskSnapShotInfo& snapshot,
                              const SnapshotReads* reads = nullptr, size_t index = 0) {
    if (!ReadRevertMetadata(call, record, metadata)) {
        return false;
    }
    const CUxError err = reads != nullptr
                             ? reads->Verify(call, index, metadata.snapURL, snapshot)
                             : call.api().VerifyAzureSnapshot(metadata.snapURL, snapshot);
    if (err) {
        call.message() << "Failed to verify Azure  snapshot with url " << metadata.snapURL
                       << "error: " << ErrorText(err);
        call.RecordFailure(record);
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Found snapshot [%s] location [%s] url [%s]", snapshot.name.c_str(),
             snapshot.location.c_str(), metadata.snapURL.c_str());
    GetSnapshotCloneType(metadata, snapshot.storageAccountType, false);
    return true;
}

std::string DataDiskIdAtLun(const AzureInstanceInfo& instance, int lun) {
    for (const AzureDiskInfo& disk : instance.disks) {
        if (disk.lun == lun && lun >= 0) {
            return disk.id;
        }
    }
    return "";
}

// Azure deletes disks asynchronously; a disk of the same name can only be
// created once the old one is gone, so a deleted source disk is waited for.
void WaitForSourceDiskDeletion(ManagedDiskCall& call, const std::string& diskId) {
    if (diskId.empty()) {
        return;
    }
    const CUxError err = call.api().WaitForAzureResourceDeletion(diskId);
    if (err) {
        call.Log(KXSO::LOG_ERROR, "Source disk [%s] is not deleted yet: %s", diskId.c_str(),
                 ErrorText(err).c_str());
    }
}

// The new disk's metadata: the same snapshot, now taken from the new disk.
void RewriteMetadata(ManagedDiskCall& call, KXSO::SnapInfo* record, AzureSnapMetadata metadata,
                     const std::string& newDiskId) {
    metadata.sourceDiskURL = newDiskId;
    std::string text;
    FormatAzureSnapMetaData(metadata, text);
    call.Log(KXSO::LOG_DETAIL, "metadata [%s]", text.c_str());
    if (record->setSnapMetadata(KXSO::METADATA_SNAPSHOT, text) != 0) {
        call.Log(KXSO::LOG_ERROR, "Failed to store metadata [%s]", text.c_str());
    }
}

// --- per device --------------------------------------------------------------

// One record of a per-device revert: its metadata, its snapshot and the name
// of the disk to create, all settled before any source disk is detached.
struct RevertEntry {
    KXSO::SnapInfo* record = nullptr;
    AzureSnapMetadata metadata;
    AzureDiskSnapShotInfo snapshot;
};

void RecordNameFailure(ManagedDiskCall& call, KXSO::SnapInfo* record, const CUxError& nameErr) {
    call.RecordFailure(
        record, FXString::Format("Failed to generate new disk name. [%s]. Enable client setting "
                                 "to create new disk with same name as current source disk. "
                                 "The setting deletes the current source disk before "
                                 "creating new disk",
                                 ErrorText(nameErr).c_str()));
}

// Everything that can fail before a detach, for one record: metadata present
// and parsable, the snapshot readable, the new disk's name usable. Found out
// after an earlier record's source disk is gone, any of these would leave the
// VM without that disk and without its replacement. The name is generated
// once here and used for the disk created later.
bool PlanRevertEntry(ManagedDiskCall& call, KXSO::SnapInfo* record, bool deleteSource,
                     RevertEntry& entry) {
    entry.record = record;
    if (!DescribeSnapshotToRevert(call, record, entry.metadata, entry.snapshot)) {
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Use disk type [%s] for snapshot [%s]",
             entry.snapshot.storageAccountType.c_str(), entry.snapshot.name.c_str());
    GetRevertedDiskName(entry.metadata, deleteSource, entry.snapshot);
    const CUxError nameErr = ValidateAzureDiskName(entry.snapshot.diskName);
    if (nameErr) {
        RecordNameFailure(call, record, nameErr);
        return false;
    }
    return true;
}

// The LUNs to detach for a record: its source disk's, when attached, and
// those of disks an interrupted revert of the same source left attached.
std::vector<int> SourceLuns(ManagedDiskCall& call, RevertLeftovers& leftovers,
                            const AzureSnapMetadata& metadata,
                            const AzureDiskSnapShotInfo& snapshot) {
    std::vector<int> luns = leftovers.Find(metadata, snapshot);
    int lun = -1;
    std::string detail;
    if (GetLunidForMappedDiskResource(call.instance(), metadata.sourceDiskURL, lun, detail)) {
        call.Log(KXSO::LOG_INFO, "Found scsi lunid [%d] for source device name [%s]", lun,
                 metadata.sourceDiskURL.c_str());
        luns.insert(luns.begin(), lun);
    } else {
        call.Log(KXSO::LOG_INFO,
                 "Unable to find the sourcedisk [%s] attached to the VM. Proceed to create disk "
                 "from snapshot",
                 metadata.sourceDiskURL.c_str());
    }
    return luns;
}

bool DetachSourceDisk(ManagedDiskCall& call, RevertEntry& entry, bool deleteSource,
                      RevertLeftovers& leftovers) {
    const std::vector<int> luns = SourceLuns(call, leftovers, entry.metadata, entry.snapshot);
    if (luns.empty()) {
        return true;
    }
    // The new disk takes the LUN it replaces: no other record's source disk
    // then loses its LUN, should it have to be attached again.
    entry.snapshot.preferredLun = luns.front();
    const std::string sourceName = LastSegment(entry.metadata.sourceDiskURL);
    std::vector<std::string> sourceIds;
    for (int lun : luns) {
        sourceIds.push_back(DataDiskIdAtLun(call.instance(), lun));
    }
    const CUxError err =
        call.api().UnMapAzureDiskFromVM(luns, deleteSource, false, call.instance());
    if (err) {
        call.message() << "Failed to detach Azure source disk " << sourceName
                       << "attached at lunid " << luns.front() << "error: " << ErrorText(err);
        call.RecordFailure(entry.record);
        return false;
    }
    for (size_t i = 0; i < luns.size(); ++i) {
        call.Log(KXSO::LOG_INFO, "%s source disk [%s] from lunid [%d]",
                 deleteSource ? "Deleted" : "Detached", LastSegment(sourceIds[i]).c_str(),
                 luns[i]);
        if (deleteSource) {
            WaitForSourceDiskDeletion(call, sourceIds[i]);
        }
    }
    return true;
}

// Creates and attaches the record's new disk and reports its device. False
// when the record is not reverted; `attached` then tells whether the new disk
// replaced the source disk on the VM all the same (its device not found, or
// the host refusing the outcome), which leaves nothing to undo.
bool AttachNewDisk(ManagedDiskCall& call, const RevertEntry& entry, bool deleteSource,
                   bool& attached) {
    attached = false;
    KXSO::SnapInfo* record = entry.record;
    const AzureSnapMetadata& metadata = entry.metadata;
    std::vector<std::string> before;
    if (!FetchAllDiskNamesList(before)) {
        call.RecordFailure(record, "Failed to fetch device names list");
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Use disk name [%s] for reverted disk",
             entry.snapshot.diskName.c_str());
    AzureDiskInfo disk;
    const CUxError err = call.api().MapAzureDiskToVM(entry.snapshot, call.instance(), disk);
    if (err || disk.lun < 0) {
        call.message() << "Failed to attach Azure disk snapshot with url " << metadata.snapURL
                       << "error: " << ErrorText(err);
        if (deleteSource || call.api().GetLastVMUpdateOutcome() == VMUpdateOutcome::kUnsettled ||
            call.api().IsDiskLeftBehind(entry.snapshot.diskName)) {
            // The disk made from the snapshot is kept; the record names it.
            call.message() << " [" << entry.snapshot.diskName << "]";
        }
        call.RecordFailure(record);
        return false;
    }
    attached = true;
    // A disk of that name was attached already: the client answers only its
    // LUN; its id is in the VM's data-disk list.
    const std::string newDiskId =
        disk.id.empty() ? DataDiskIdAtLun(call.instance(), disk.lun) : disk.id;
    const std::string newDiskTag = " [" + entry.snapshot.diskName + "]";
    // From here on the new disk is the VM's disk: the metadata names it even
    // when its device cannot be found, so that a later revert does not look
    // for the disk it replaced.
    std::vector<std::string> found;
    std::string deviceName;
    std::string detail;
    if (!DiscoverMappedDiskNames(before, found)) {
        RewriteMetadata(call, record, metadata, newDiskId);
        call.RecordFailure(record, "Failed to find newly mapped device names" + newDiskTag);
        return false;
    }
    if (!GetScsiDiskNameForLunid(found, disk.lun, deviceName, detail)) {
        RewriteMetadata(call, record, metadata, newDiskId);
        call.message() << "Failed to get disk name for lunid[" << disk.lun << "]. error [" << detail
                       << "]" << newDiskTag;
        call.RecordFailure(record);
        return false;
    }
    record->setRevertedDevicePath(deviceName);
    RewriteMetadata(call, record, metadata, newDiskId);
    if (!StoreFinalStatus(call, record, KXSO::SNAP_STATUS_REVERTED,
                          RevertedOutcome(newDiskId, deviceName))) {
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Reverted source disk [%s] to snapshot disk [%s]",
             metadata.sourceDiskURL.c_str(), newDiskId.c_str());
    return true;
}

KXSO::ResultCode CloseRevert(ManagedDiskCall& call, int reverted) {
    if (reverted == call.count()) {
        call.Log(KXSO::LOG_INFO, "Successfully discovered all the reverted devices");
        return KXSO::RESULT_SUCCESS;
    }
    call.Log(KXSO::LOG_INFO, "Failed to revert all the devices.");
    return KXSO::RESULT_FAILURE;
}

// --- bulk --------------------------------------------------------------------

struct BulkEntry {
    AzureDiskSnapShotInfo snapshot;
    AzureSnapMetadata metadata;
};

bool PrepareBulkEntry(ManagedDiskCall& call, const SnapshotReads& reads, int16_t index,
                      bool deleteSource, RevertLeftovers& leftovers, BulkEntry& entry,
                      std::vector<int>& sourceLuns) {
    KXSO::SnapInfo* record = call.devices()[index];
    if (!DescribeSnapshotToRevert(call, record, entry.metadata, entry.snapshot, &reads, index)) {
        return false;
    }
    GetRevertedDiskName(entry.metadata, deleteSource, entry.snapshot);
    const CUxError nameErr = ValidateAzureDiskName(entry.snapshot.diskName);
    if (nameErr) {
        call.RecordFailure(
            record,
            FXString::Format("Failed to generate new disk name. %s. Enable client setting to "
                             "create new disk with same name as the current source disk. The "
                             "setting deletes the current source disk before creating new disk",
                             ErrorText(nameErr).c_str()));
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Use disk type [%s] name [%s] to create disk from snapshot [%s]",
             entry.snapshot.storageAccountType.c_str(), entry.snapshot.diskName.c_str(),
             entry.snapshot.name.c_str());
    int lun = -1;
    std::string detail;
    if (GetLunidForMappedDiskResource(call.instance(), entry.metadata.sourceDiskURL, lun, detail)) {
        sourceLuns.push_back(lun);
    } else {
        call.Log(KXSO::LOG_INFO,
                 "Unable to find the sourcedisk [%s] attached to the VM. Proceed to create disk "
                 "from snapshot",
                 entry.metadata.sourceDiskURL.c_str());
    }
    for (int leftover : leftovers.Find(entry.metadata, entry.snapshot)) {
        sourceLuns.push_back(leftover);
    }
    return true;
}

bool DetachSourceDisks(ManagedDiskCall& call, bool deleteSource,
                       const std::vector<int>& sourceLuns) {
    if (sourceLuns.empty()) {
        call.Log(KXSO::LOG_INFO,
                 "No source disks found on the VM. Proceed to create new disks from snapshots");
        return true;
    }
    std::vector<std::string> sourceIds;
    for (int lun : sourceLuns) {
        sourceIds.push_back(DataDiskIdAtLun(call.instance(), lun));
    }
    const CUxError err =
        call.api().UnMapAzureDiskFromVM(sourceLuns, deleteSource, false, call.instance());
    if (err) {
        call.message() << "Failed to detach Azure source disks. "
                       << "error: " << ErrorText(err);
        return false;
    }
    if (deleteSource) {
        for (const std::string& id : sourceIds) {
            WaitForSourceDiskDeletion(call, id);
        }
    }
    return true;
}

// A per-device revert that stops part-way gives the VM back the source disks
// of the records whose new disk is not attached.
KXSO::ResultCode AbandonPerDeviceRevert(ManagedDiskCall& call,
                                        const std::vector<AzureDiskInfo>& attachedBefore,
                                        const std::vector<RevertEntry>& entries,
                                        bool deleteSource) {
    std::vector<RevertRecordDisks> records;
    for (const RevertEntry& entry : entries) {
        records.push_back({entry.record, entry.metadata.sourceDiskURL, entry.snapshot.diskName});
    }
    RestoreAfterFailedRevert(call, attachedBefore, records, deleteSource,
                             "Failed to revert all the devices.");
    return CloseRevert(call, -1);
}

}  // namespace

KXSO::ResultCode RevertSnapsPerDeviceWork(ManagedDiskCall& call) {
    const bool deleteSource = ReadDeleteFlag(call);
    call.api().KeepCreatedDisksOnFailure(deleteSource);
    const std::vector<AzureDiskInfo> attachedBefore = AttachedDataDisks(call.instance());
    // Nothing is detached before every record's plan holds.
    std::vector<RevertEntry> entries(call.count());
    for (int16_t i = 0; i < call.count(); ++i) {
        if (!PlanRevertEntry(call, call.devices()[i], deleteSource, entries[i])) {
            return KXSO::RESULT_FAILURE;
        }
    }
    RevertLeftovers leftovers(call);
    for (RevertEntry& entry : entries) {
        if (!DetachSourceDisk(call, entry, deleteSource, leftovers)) {
            return AbandonPerDeviceRevert(call, attachedBefore, entries, deleteSource);
        }
    }
    int reverted = 0;
    for (const RevertEntry& entry : entries) {
        bool attached = false;
        if (AttachNewDisk(call, entry, deleteSource, attached)) {
            ++reverted;
        } else if (!attached) {
            return AbandonPerDeviceRevert(call, attachedBefore, entries, deleteSource);
        }
        // A new disk attached without its device or its final status has
        // replaced its source disk in Azure: the record says what is
        // missing, and the other records are reverted all the same.
    }
    return CloseRevert(call, reverted);
}

KXSO::ResultCode RevertSnapsBulkWork(ManagedDiskCall& call) {
    const bool deleteSource = ReadDeleteFlag(call);
    call.api().KeepCreatedDisksOnFailure(deleteSource);
    std::vector<AzureDiskSnapShotInfo> snapshots;
    std::vector<int> sourceLuns;
    // Ordered by the record's address, as the last pass walks them.
    std::map<KXSO::SnapInfo*, BulkEntry> byRecord;
    RevertLeftovers leftovers(call);
    SnapshotReads reads;
    // The walk stops after the read of a record whose new disk name is unusable.
    reads.Fetch(call, [deleteSource](const AzureSnapMetadata& metadata) {
        AzureDiskSnapShotInfo snapshot;
        GetRevertedDiskName(metadata, deleteSource, snapshot);
        return ValidateAzureDiskName(snapshot.diskName).IsSuccess();
    });
    for (int16_t i = 0; i < call.count(); ++i) {
        BulkEntry entry;
        if (!PrepareBulkEntry(call, reads, i, deleteSource, leftovers, entry, sourceLuns)) {
            return KXSO::RESULT_FAILURE;
        }
        snapshots.push_back(entry.snapshot);
        byRecord[call.devices()[i]] = entry;
    }
    KXSO::SnapInfo* lastRecord = call.devices()[call.count() - 1];
    std::vector<RevertRecordDisks> records;
    for (const auto& item : byRecord) {
        records.push_back(
            {item.first, item.second.metadata.sourceDiskURL, item.second.snapshot.diskName});
    }
    const std::vector<AzureDiskInfo> attachedBefore = AttachedDataDisks(call.instance());
    if (!DetachSourceDisks(call, deleteSource, sourceLuns)) {
        const std::string text = call.message().str();
        call.RecordFailure(lastRecord);
        RestoreAfterFailedRevert(call, attachedBefore, records, deleteSource, text);
        return KXSO::RESULT_FAILURE;
    }
    std::vector<std::string> before;
    if (!FetchAllDiskNamesList(before)) {
        call.RecordFailure(lastRecord, "Failed to fetch device names list");
        return KXSO::RESULT_FAILURE;
    }
    const CUxError err = call.api().MapAzureDiskToVM(snapshots, call.instance());
    if (err) {
        const std::string text =
            "Failed to attach Azure disks created from snapshots. error: " + ErrorText(err);
        call.RecordFailure(lastRecord, text);
        RestoreAfterFailedRevert(call, attachedBefore, records, deleteSource, text);
        return KXSO::RESULT_FAILURE;
    }
    // The new disks are attached from here on. When no new device shows up
    // the call fails, but each record still learns that its disk replaced the
    // source disk.
    std::vector<std::string> found;
    const bool devicesFound = DiscoverMappedDiskNames(before, found);
    // The last record's own reason, which the call-level text must not hide.
    std::string lastRecordReason;
    std::string lastRecordTag;
    int reverted = 0;
    for (const auto& item : byRecord) {
        KXSO::SnapInfo* record = item.first;
        const BulkEntry& entry = item.second;
        const AzureDiskInfo* disk = FindDataDiskByName(call.instance(), entry.snapshot.diskName);
        if (disk == nullptr) {
            continue;
        }
        std::string deviceName;
        std::string detail;
        if (!GetScsiDiskNameForLunid(found, disk->lun, deviceName, detail)) {
            RewriteMetadata(call, record, entry.metadata, disk->id);
            // The new disk replaced the source disk: the record names it.
            const std::string reason = "Failed to get disk name for lunid[" +
                                       std::to_string(disk->lun) + "]. error [" + detail + "]";
            const std::string tag = " [" + entry.snapshot.diskName + "]";
            call.RecordFailure(record, reason + tag);
            if (record == lastRecord) {
                lastRecordReason = reason;
                lastRecordTag = tag;
            }
            continue;
        }
        record->setRevertedDevicePath(deviceName);
        RewriteMetadata(call, record, entry.metadata, disk->id);
        if (!StoreFinalStatus(call, record, KXSO::SNAP_STATUS_REVERTED,
                              RevertedOutcome(disk->id, deviceName))) {
            continue;
        }
        call.Log(KXSO::LOG_INFO, "Reverted source  disk [%s]", disk->id.c_str());
        ++reverted;
    }
    if (!devicesFound) {
        const std::string callFailure = "Failed to find newly mapped device names";
        call.RecordFailure(
            lastRecord,
            (lastRecordReason.empty() ? callFailure : lastRecordReason + " " + callFailure) +
                lastRecordTag);
        return KXSO::RESULT_FAILURE;
    }
    return CloseRevert(call, reverted);
}
