// Prepare: ties each source device to the Azure data disk of this VM behind
// it (by SCSI LUN) and files the record under the snapshot array.
#include <string>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"

namespace {

bool PrepareOneDevice(ManagedDiskCall& call, KXSO::SnapInfo* record) {
    AssociateRecordWithArray(call, record);
    std::string devicePath;
    if (!record->getSourceDevicePath(devicePath)) {
        call.RecordFailure(record, "Failed to get Azure vm disk name",
                           KXSO_ERR_SOURCE_DISK_NOT_FOUND);
        return false;
    }
    int lun = -1;
    std::string detail;
    if (!GetLunidForScsiDiskName(devicePath, lun, detail)) {
        call.message() << "Failed to get LUN id for the disk name [" << devicePath << "]. error ["
                       << detail << "]";
        call.RecordFailure(record);
        return false;
    }
    call.Log(KXSO::LOG_INFO, "Found scsi lunid [%d] for source device name [%s]", lun,
             devicePath.c_str());
    AzureDiskInfo disk;
    if (call.api().VerifyAzureDisk(lun, call.instance(), disk).IsError()) {
        call.message() << "Failed to find Azure disk with lunid [" << lun << "] diskname ["
                       << devicePath << "]. error [" << detail << "]";
        call.RecordFailure(record);
        return false;
    }
    std::string snapName;
    if (!record->getSnapName(snapName)) {
        call.RecordFailure(record, "Failed to initialize snapshot name");
        return false;
    }
    record->setSnapTransientMetadata(KXSO::METADATA_TRANSIENT, std::to_string(lun));
    call.Log(KXSO::LOG_INFO, "Identified source device [%s] as Azure disk", devicePath.c_str());
    record->setStatus(KXSO::SNAP_STATUS_PREPARED);
    return true;
}

}  // namespace

KXSO::ResultCode PrepareDevicesWork(ManagedDiskCall& call) {
    for (int16_t i = 0; i < call.count(); ++i) {
        if (!PrepareOneDevice(call, call.devices()[i])) {
            return KXSO::RESULT_FAILURE;
        }
    }
    return KXSO::RESULT_SUCCESS;
}
