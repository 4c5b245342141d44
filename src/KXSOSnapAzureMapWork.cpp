// Map: turns each snapshot record into a new managed disk attached to this VM
// and reports the Linux device that shows up for it. The per-device form
// works record by record; the bulk form attaches every new disk in one VM
// update.
#include <map>
#include <string>
#include <vector>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureSnapshotReads.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"

namespace {

// Steps shared by both forms: metadata, snapshot check, and the name and type
// of the disk to make from it. False after recording the failure. The bulk
// form has read the snapshots side by side beforehand (`reads`).
bool DescribeDiskToMap(ManagedDiskCall& call, KXSO::SnapInfo* record, AzureSnapMetadata& metadata,
                       AzureDiskSnapShotInfo& snapshot, const SnapshotReads* reads = nullptr,
                       size_t index = 0) {
    std::string text;
    if (!FetchSnapMetadata(record, text)) {
        call.RecordFailure(record, "Failed to fetch Azure snapshot URL from metadata.");
        return false;
    }
    call.Log(KXSO::LOG_DETAIL, "metadata [%s]", text.c_str());
    if (!ParseAndCheckSnapMetadata(call, text, metadata)) {
        call.RecordFailure(record, "Failed to parse Azure snapshot URL from metadata.");
        return false;
    }
    const CUxError err = reads != nullptr
                             ? reads->Verify(call, index, metadata.snapURL, snapshot)
                             : call.api().VerifyAzureSnapshot(metadata.snapURL, snapshot);
    if (err) {
        call.message() << "Failed to verify Azure disk snapshot with url " << metadata.snapURL
                       << "error: " << ErrorText(err);
        call.RecordFailure(record);
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Found snapshot [%s] location [%s] url [%s]", snapshot.name.c_str(),
             snapshot.location.c_str(), metadata.snapURL.c_str());
    GetSnapshotCloneType(metadata, snapshot.storageAccountType, false);
    GetSnapshotCloneName(record, snapshot.diskName);
    call.Log(KXSO::LOG_INFO, "Use disk type [%s] name [%s] to create disk from snapshot [%s]",
             snapshot.storageAccountType.c_str(), snapshot.diskName.c_str(), snapshot.name.c_str());
    return true;
}

bool ReportMapped(ManagedDiskCall& call, KXSO::SnapInfo* record, int lun,
                  const std::string& diskName, const std::string& deviceName) {
    call.Log(KXSO::LOG_INFO, "Mapped snapshot disk at lunid [%d] as device name [%s]", lun,
             deviceName.c_str());
    record->setMappedDevicePath(deviceName);
    return StoreFinalStatus(call, record, KXSO::SNAP_STATUS_MAPPED,
                            "Snapshot disk [" + diskName + "] is attached at lunid [" +
                                std::to_string(lun) + "] as device [" + deviceName + "]");
}

void RecordDeviceNotFound(ManagedDiskCall& call, KXSO::SnapInfo* record, int lun,
                          const std::string& detail) {
    call.message() << "Failed to get disk name for lunid[" << lun << "]. error [" << detail << "]";
    call.RecordFailure(record);
}

bool MapOneDevice(ManagedDiskCall& call, KXSO::SnapInfo* record) {
    AzureSnapMetadata metadata;
    AzureDiskSnapShotInfo snapshot;
    if (!DescribeDiskToMap(call, record, metadata, snapshot)) {
        return false;
    }
    std::vector<std::string> before;
    if (!FetchAllDiskNamesList(before)) {
        call.RecordFailure(record, "Failed to fetch device names list");
        return false;
    }
    int lun = -1;
    const CUxError err = call.api().MapAzureDiskToVM(snapshot, call.instance(), lun);
    if (err) {
        call.message() << "Failed to map Azure disk snapshot with url " << metadata.snapURL
                       << "error: " << ErrorText(err);
        if (call.api().GetLastVMUpdateOutcome() == VMUpdateOutcome::kUnsettled ||
            call.api().IsDiskLeftBehind(snapshot.diskName)) {
            // The disk is kept and may still become attached, or could not
            // be deleted again.
            call.message() << " [" << snapshot.diskName << "]";
        }
        call.RecordFailure(record);
        return false;
    }
    record->setStatus(KXSO::SNAP_STATUS_ATTACHED_NO_DEVICE);
    std::vector<std::string> candidates;
    std::string mappedPath;
    if (record->getMappedDevicePath(mappedPath) && !mappedPath.empty()) {
        candidates.push_back(mappedPath);
    }
    if (!DiscoverMappedDiskNames(before, candidates)) {
        call.RecordFailure(record, "Failed to find newly mapped device names");
        return false;
    }
    std::string deviceName;
    std::string detail;
    if (!GetScsiDiskNameForLunid(candidates, lun, deviceName, detail)) {
        RecordDeviceNotFound(call, record, lun, detail);
        return false;
    }
    return ReportMapped(call, record, lun, snapshot.diskName, deviceName);
}

// The creation or attach of the bulk map's disks failed. Its disks were
// deleted again, unless the VM did not settle: then each record whose disk is
// not attached names its disk, which may still appear on the VM. A disk that
// could not be deleted is named by its record all the same.
void RecordBulkAttachFailure(ManagedDiskCall& call,
                             const std::map<KXSO::SnapInfo*, AzureDiskSnapShotInfo>& byRecord,
                             const std::string& errorText) {
    const std::string text = "Failed to map Azure disk snapshots. error: " + errorText;
    const bool unsettled = call.api().GetLastVMUpdateOutcome() == VMUpdateOutcome::kUnsettled;
    KXSO::SnapInfo* lastRecord = call.devices()[call.count() - 1];
    bool lastRecordNamed = false;
    for (const auto& entry : byRecord) {
        const std::string& diskName = entry.second.diskName;
        const bool kept = unsettled ? FindDataDiskByName(call.instance(), diskName) == nullptr
                                    : call.api().IsDiskLeftBehind(diskName);
        if (kept) {
            call.RecordFailure(entry.first, text + " [" + diskName + "]");
            lastRecordNamed = lastRecordNamed || entry.first == lastRecord;
        }
    }
    if (!unsettled && !lastRecordNamed) {
        call.RecordFailure(lastRecord, text);
    }
}

void SettleIfAnyAttached(ManagedDiskCall& call,
                         const std::map<KXSO::SnapInfo*, AzureDiskSnapShotInfo>& byRecord) {
    for (const auto& entry : byRecord) {
        if (FindDataDiskByName(call.instance(), entry.second.diskName) != nullptr) {
            WaitForDevicesToSettle();
            return;
        }
    }
}

}  // namespace

KXSO::ResultCode MapSnapsPerDeviceWork(ManagedDiskCall& call) {
    for (int16_t i = 0; i < call.count(); ++i) {
        if (!MapOneDevice(call, call.devices()[i])) {
            return KXSO::RESULT_FAILURE;
        }
    }
    call.Log(KXSO::LOG_INFO, "Successfully discovered all the mapped devices");
    return KXSO::RESULT_SUCCESS;
}

KXSO::ResultCode MapSnapsBulkWork(ManagedDiskCall& call) {
    std::vector<AzureDiskSnapShotInfo> toAttach;
    // Ordered by the record's address, as the second pass walks them.
    std::map<KXSO::SnapInfo*, AzureDiskSnapShotInfo> byRecord;
    SnapshotReads reads;
    reads.Fetch(call, nullptr);
    for (int16_t i = 0; i < call.count(); ++i) {
        KXSO::SnapInfo* record = call.devices()[i];
        AzureSnapMetadata metadata;
        AzureDiskSnapShotInfo snapshot;
        if (!DescribeDiskToMap(call, record, metadata, snapshot, &reads, i)) {
            return KXSO::RESULT_FAILURE;
        }
        int lun = -1;
        if (!call.api().IsAzureSnapshotMappedToVM(snapshot, lun, call.instance())) {
            toAttach.push_back(snapshot);
        }
        byRecord[record] = snapshot;
    }
    bool recordFailed = false;
    if (!toAttach.empty()) {
        const CUxError err = call.api().MapAzureDiskToVM(toAttach, call.instance());
        if (err) {
            RecordBulkAttachFailure(call, byRecord, ErrorText(err));
            recordFailed = true;
        }
    }
    // Each record whose disk is attached learns its device, or that its disk
    // is attached without one, even when an earlier record's device was not
    // found or the VM update reported a failure after attaching the disks,
    // so that no attached disk goes unreported. The devices settle once for
    // all records: the one VM update is over, and a settle per record would
    // add a process run per disk.
    SettleIfAnyAttached(call, byRecord);
    int mapped = 0;
    for (const auto& entry : byRecord) {
        KXSO::SnapInfo* record = entry.first;
        const AzureDiskInfo* disk = FindDataDiskByName(call.instance(), entry.second.diskName);
        if (disk == nullptr) {
            continue;
        }
        record->setStatus(KXSO::SNAP_STATUS_ATTACHED_NO_DEVICE);
        std::string deviceName;
        std::string detail;
        if (!FindSettledDiskNameForLunid(disk->lun, deviceName)) {
            RecordDeviceNotFound(call, record, disk->lun, detail);
            recordFailed = true;
            continue;
        }
        if (!ReportMapped(call, record, disk->lun, entry.second.diskName, deviceName)) {
            recordFailed = true;
            continue;
        }
        ++mapped;
    }
    if (recordFailed) {
        return KXSO::RESULT_FAILURE;
    }
    if (mapped == call.count()) {
        call.Log(KXSO::LOG_INFO, "Successfully discovered all the mapped devices");
        return KXSO::RESULT_SUCCESS;
    }
    call.Log(KXSO::LOG_INFO, "Failed to map all the devices.");
    return KXSO::RESULT_FAILURE;
}
