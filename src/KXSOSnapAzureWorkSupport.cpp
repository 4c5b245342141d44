#include "KXSOSnapAzureWorkSupport.h"

#include <vector>

#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"

namespace {

std::vector<std::string> IdSegments(const std::string& id) {
    return FXString::Split(FXString::Trim(id, "/"), "/", FXString::SPLIT_KEEP_EMPTY);
}

// subscriptions/S/resourceGroups/G/providers/Microsoft.Compute/<kind>/N, in
// any subscription: a snapshot copied or moved to another subscription is
// still ours to delete, map and revert from.
bool IsComputeResourceOfKind(const std::string& id, const char* kind) {
    const std::vector<std::string> segments = IdSegments(id);
    return segments.size() == 8 && FXString::EqualsNoCase(segments[0], "subscriptions") &&
           !segments[1].empty() && FXString::EqualsNoCase(segments[2], "resourceGroups") &&
           !segments[3].empty() && FXString::EqualsNoCase(segments[4], "providers") &&
           FXString::EqualsNoCase(segments[5], "Microsoft.Compute") &&
           FXString::EqualsNoCase(segments[6], kind) && !segments[7].empty();
}

}  // namespace

void AssociateRecordWithArray(ManagedDiskCall& call, KXSO::SnapInfo* record) {
    if (record->getArrayId() == 0) {
        record->setArrayName(call.api().GetArrayToAssociateWithSnaps());
    }
}

bool FindSourceDiskOfRecord(ManagedDiskCall& call, KXSO::SnapInfo* record, std::string& devicePath,
                            int& lun, AzureDiskInfo& disk) {
    AssociateRecordWithArray(call, record);
    if (!record->getSourceDevicePath(devicePath)) {
        call.RecordFailure(record, "Failed to get Azure vm disk name",
                           KXSO_ERR_SOURCE_DISK_NOT_FOUND);
        return false;
    }
    lun = -1;
    std::string detail;
    if (!GetLunidForScsiDiskName(devicePath, lun, detail)) {
        call.message() << "Failed to get LUN id for the disk name [" << devicePath << "]. error ["
                       << detail << "]";
        call.RecordFailure(record);
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Found scsi lunid [%d] for source device name [%s]", lun,
             devicePath.c_str());
    if (call.api().VerifyAzureDisk(lun, call.instance(), disk).IsError()) {
        call.message() << "Failed to find Azure disk with lunid [" << lun << "] diskname ["
                       << devicePath << "]. error [" << detail << "]";
        call.RecordFailure(record);
        return false;
    }
    return true;
}

bool FetchSnapMetadata(KXSO::SnapInfo* record, std::string& text) {
    text.clear();
    return record->getSnapMetadataString(KXSO::METADATA_SNAPSHOT, text);
}

bool ParseAndCheckSnapMetadata(ManagedDiskCall& call, const std::string& text,
                               AzureSnapMetadata& metadata) {
    metadata = AzureSnapMetadata();
    if (!ParseAzureSnapMetaData(text, metadata)) {
        return false;
    }
    if (!IsComputeResourceOfKind(metadata.snapURL, "snapshots")) {
        call.Log(KXSO::LOG_ERROR, "Snapshot metadata names [%s], not a Compute snapshot",
                 metadata.snapURL.c_str());
        return false;
    }
    if (!metadata.sourceDiskURL.empty() &&
        !IsComputeResourceOfKind(metadata.sourceDiskURL, "disks")) {
        call.Log(KXSO::LOG_ERROR, "Snapshot metadata names source disk [%s], not a Compute disk",
                 metadata.sourceDiskURL.c_str());
        return false;
    }
    return true;
}

bool IsSnapMetadataSound(const AzureSnapMetadata& metadata) {
    return IsComputeResourceOfKind(metadata.snapURL, "snapshots") &&
           (metadata.sourceDiskURL.empty() ||
            IsComputeResourceOfKind(metadata.sourceDiskURL, "disks"));
}

std::string ErrorText(const CUxError& error) {
    return error.AsString(EErrorOutputFormat(2));
}

std::string LastSegment(const std::string& id) {
    const size_t slash = id.rfind('/');
    return slash == std::string::npos ? id : id.substr(slash + 1);
}

const AzureDiskInfo* FindDataDiskByName(const AzureInstanceInfo& instance,
                                        const std::string& name) {
    for (const AzureDiskInfo& disk : instance.disks) {
        if (disk.lun >= 0 && disk.name == name) {
            return &disk;
        }
    }
    return nullptr;
}

bool StoreFinalStatus(ManagedDiskCall& call, KXSO::SnapInfo* record, int status,
                      const std::string& outcome) {
    if (record->setStatus(status) == 0) {
        return true;
    }
    call.RecordFailure(record, "The host refused to store status [" + std::to_string(status) +
                                   "] on the record. " + outcome);
    return false;
}
