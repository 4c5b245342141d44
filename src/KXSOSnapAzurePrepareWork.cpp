// Prepare: ties each source device to the Azure data disk of this VM behind
// it (by SCSI LUN) and files the record under the snapshot array.
#include <string>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"

namespace {

bool PrepareOneDevice(ManagedDiskCall& call, KXSO::SnapInfo* record) {
    std::string devicePath;
    int lun = -1;
    AzureDiskInfo disk;
    if (!FindSourceDiskOfRecord(call, record, devicePath, lun, disk)) {
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
