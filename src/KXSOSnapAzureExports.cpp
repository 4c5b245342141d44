// The plug-in's C boundary: each export chooses the path from the first record
// and hands the call on unchanged. Nothing thrown below may cross this line.
#include "KXSOSnapAzure.h"
#include "kxso/kxso_exports.h"
#include "platform/EvDebug.h"

namespace {

using Driver = KXSO::ResultCode (*)(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*);

KXSO::ResultCode Dispatch(short operation, Driver cloud, Driver managedDisk,
                          KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil* util) {
    // The call's log lines share one open of the log file.
    EvDebugCallScope callLog;
    try {
        Driver chosen = isCloudSnapOp(devices, count, util, operation) ? cloud : managedDisk;
        return chosen(devices, count, util);
    } catch (...) {
        // The drivers catch their own exceptions; this only guards the choice
        // itself against a host record that throws.
        return KXSO::RESULT_FAILURE;
    }
}

}  // namespace

extern "C" {

void kxso_version(int16_t* major, int16_t* minor, int16_t* patch) {
    if (major)
        *major = 1;
    if (minor)
        *minor = 0;
    if (patch)
        *patch = 0;
}

int kxso_isSupported(void*, int32_t, void*, void*, int16_t) {
    return 1;
}

KXSO::ResultCode kxso_prepareDevices(KXSO::SnapInfo** devices, int16_t count,
                                     KXSO::KXOSUtil* util) {
    return Dispatch(KXSO_OP_PREPARE, kxso_prepareDevicesCloud, kxso_prepareDevicesAzureNative,
                    devices, count, util);
}

KXSO::ResultCode kxso_snapDevices(KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil* util) {
    return Dispatch(KXSO_OP_SNAP, kxso_snapDevicesCloud, kxso_snapDevicesAzureNative, devices,
                    count, util);
}

KXSO::ResultCode kxso_postSnapDevices(KXSO::SnapInfo** devices, int16_t count,
                                      KXSO::KXOSUtil* util) {
    return Dispatch(KXSO_OP_POST_SNAP, kxso_postSnapDevicesCloud, kxso_postSnapDevicesAzureNative,
                    devices, count, util);
}

KXSO::ResultCode kxso_mapSnaps(KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil* util) {
    return Dispatch(KXSO_OP_MAP, kxso_mapSnapsCloud, kxso_mapSnapsAzureNative, devices, count,
                    util);
}

KXSO::ResultCode kxso_unmapSnaps(KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil* util) {
    return Dispatch(KXSO_OP_UNMAP, kxso_unmapSnapsCloud, kxso_unmapSnapsAzureNative, devices, count,
                    util);
}

KXSO::ResultCode kxso_deleteSnaps(KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil* util) {
    return Dispatch(KXSO_OP_DELETE, kxso_deleteSnapsCloud, kxso_deleteSnapsAzureNative, devices,
                    count, util);
}

KXSO::ResultCode kxso_revertSnaps(KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil* util) {
    return Dispatch(KXSO_OP_REVERT, kxso_revertSnapsCloud, kxso_revertSnapsAzureNative, devices,
                    count, util);
}

KXSO::ResultCode kxso_reconcileSnaps(KXSO::SnapInfo** devices, int16_t count,
                                     KXSO::KXOSUtil* util) {
    return Dispatch(KXSO_OP_RECONCILE, kxso_reconcileSnapsCloud, kxso_reconcileSnapsAzureNative,
                    devices, count, util);
}

// Operations this engine does not offer: they touch nothing and fail.
KXSO::ResultCode kxso_unprepareDevices(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*) {
    return KXSO::RESULT_FAILURE;
}
KXSO::ResultCode kxso_isMapped(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*) {
    return KXSO::RESULT_FAILURE;
}
KXSO::ResultCode kxso_prepareRemoteSnaps(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*) {
    return KXSO::RESULT_FAILURE;
}
KXSO::ResultCode kxso_createRemoteSnaps(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*) {
    return KXSO::RESULT_FAILURE;
}
KXSO::ResultCode kxso_deleteRemoteSnaps(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*) {
    return KXSO::RESULT_FAILURE;
}

}  // extern "C"
