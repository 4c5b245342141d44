// The managed-disk side of the plug-in boundary: how a call chooses its path,
// the argument check, error recording, the bulk switch and the internal
// drivers behind the exported operations.
#pragma once

#include <cstdint>
#include <string>

#include "kxso/KXSOSnapInfo.h"

// Tag of every log line on the managed-disk path.
#define AZUREAPI_TAG "AZUREAPI >>>>>"
// Tag of the path-choice log lines.
#define AZURE_SNAP_CLOUD_SWITCH_TAG "AzureSnapCloudSwitch"
// Marks a NetApp Files source device path ("lunuuid:\/", a backslash before the slash).
#define CLOUD_SNAP_IDENTIFIER "lunuuid:\\/"

// Operation numbers passed to isCloudSnapOp; they equal the cloud operation codes.
enum KxsoOperation : short {
    KXSO_OP_DELETE = 1,
    KXSO_OP_MAP = 2,
    KXSO_OP_UNMAP = 3,
    KXSO_OP_REVERT = 4,
    KXSO_OP_PREPARE = 5,
    KXSO_OP_SNAP = 6,
    KXSO_OP_RECONCILE = 7,
    KXSO_OP_POST_SNAP = 15,
};

// Error codes the managed-disk drivers record on a failing record.
enum ManagedDiskErrorCode : int {
    KXSO_ERR_SNAP = 60001,
    KXSO_ERR_DELETE = 60004,
    KXSO_ERR_REVERT = 60005,
    KXSO_ERR_SOURCE_DISK_NOT_FOUND = 62001,
    KXSO_ERR_PREPARE = 62008,
    KXSO_ERR_MAP = 62009,
    KXSO_ERR_UNMAP = 62010,
};

// True when the call belongs to the cloud snap framework. Only the first
// record decides, for the whole array.
bool isCloudSnapOp(KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil* util, short operation);

// True when the user disabled the bulk variants of map, unmap and revert.
bool ShouldDisableBulkRequests(KXSO::SnapInfo* record);

// Checks the arguments and sets `status` on every record up to the first null
// entry. False after any problem, each logged through the platform logger.
bool ValidateInputDeviceArguments(KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil* util,
                                  KXSO::SnapStatus status);

// Logs the message on the record at level 2, stores it as the record's error
// and sets `status` when it is above 0. Nothing when the record is null.
void SetErrorMessage(KXSO::SnapInfo* record, const int& code, const std::string& tag,
                     const std::string& message, KXSO::SnapStatus status);

#define KXSO_DRIVER(name) \
    KXSO::ResultCode name(KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil* util)

// The managed-disk drivers.
KXSO_DRIVER(kxso_prepareDevicesAzureNative);
KXSO_DRIVER(kxso_snapDevicesAzureNative);
KXSO_DRIVER(kxso_postSnapDevicesAzureNative);
KXSO_DRIVER(kxso_mapSnapsAzureNative);
KXSO_DRIVER(kxso_unmapSnapsAzureNative);
KXSO_DRIVER(kxso_deleteSnapsAzureNative);
KXSO_DRIVER(kxso_revertSnapsAzureNative);
KXSO_DRIVER(kxso_reconcileSnapsAzureNative);
KXSO_DRIVER(kxso_mapSnaps2);
KXSO_DRIVER(kxso_unmapSnaps2);
KXSO_DRIVER(kxso_revertSnaps2);

// The cloud wrappers: each hands the call to a cloud controller.
KXSO_DRIVER(kxso_prepareDevicesCloud);
KXSO_DRIVER(kxso_snapDevicesCloud);
KXSO_DRIVER(kxso_postSnapDevicesCloud);
KXSO_DRIVER(kxso_mapSnapsCloud);
KXSO_DRIVER(kxso_unmapSnapsCloud);
KXSO_DRIVER(kxso_deleteSnapsCloud);
KXSO_DRIVER(kxso_revertSnapsCloud);
KXSO_DRIVER(kxso_reconcileSnapsCloud);
