// The managed-disk drivers: what each plugs into the shared frame.
#include "KXSOSnapAzureDriverBodies.h"

#define DRIVER_SIGNATURE(name) \
    "KXSO::ResultCode " #name "(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*)"

namespace {

const ManagedDiskDriverInfo kPrepare{DRIVER_SIGNATURE(kxso_prepareDevicesAzureNative),
                                     KXSO::SNAP_STATUS_PREPARE_FAILED, KXSO_ERR_PREPARE, false};
const ManagedDiskDriverInfo kSnap{DRIVER_SIGNATURE(kxso_snapDevicesAzureNative),
                                  KXSO::SNAP_STATUS_SNAP_FAILED, KXSO_ERR_SNAP, true};
const ManagedDiskDriverInfo kPostSnap{DRIVER_SIGNATURE(kxso_postSnapDevicesAzureNative),
                                      KXSO::SNAP_STATUS_SNAP_FAILED, KXSO_ERR_SNAP, true};
const ManagedDiskDriverInfo kDelete{DRIVER_SIGNATURE(kxso_deleteSnapsAzureNative),
                                    KXSO::SNAP_STATUS_DELETE_FAILED, KXSO_ERR_DELETE, false};
const ManagedDiskDriverInfo kMap{DRIVER_SIGNATURE(kxso_mapSnapsAzureNative),
                                 KXSO::SNAP_STATUS_MAP_FAILED, KXSO_ERR_MAP, false};
const ManagedDiskDriverInfo kMapBulk{DRIVER_SIGNATURE(kxso_mapSnaps2), KXSO::SNAP_STATUS_MAP_FAILED,
                                     KXSO_ERR_MAP, false};
const ManagedDiskDriverInfo kUnmap{DRIVER_SIGNATURE(kxso_unmapSnapsAzureNative),
                                   KXSO::SNAP_STATUS_UNMAP_FAILED, KXSO_ERR_UNMAP, false};
const ManagedDiskDriverInfo kUnmapBulk{DRIVER_SIGNATURE(kxso_unmapSnaps2),
                                       KXSO::SNAP_STATUS_UNMAP_FAILED, KXSO_ERR_UNMAP, false};
const ManagedDiskDriverInfo kRevert{DRIVER_SIGNATURE(kxso_revertSnapsAzureNative),
                                    KXSO::SNAP_STATUS_REVERT_FAILED, KXSO_ERR_REVERT, true};
const ManagedDiskDriverInfo kRevertBulk{DRIVER_SIGNATURE(kxso_revertSnaps2),
                                        KXSO::SNAP_STATUS_REVERT_FAILED, KXSO_ERR_REVERT, true};

}  // namespace

KXSO_DRIVER(kxso_prepareDevicesAzureNative) {
    return RunManagedDiskDriver(kPrepare, devices, count, util, PrepareDevicesWork);
}

KXSO_DRIVER(kxso_snapDevicesAzureNative) {
    return RunManagedDiskDriver(kSnap, devices, count, util, SnapDevicesWork);
}

KXSO_DRIVER(kxso_postSnapDevicesAzureNative) {
    return RunManagedDiskDriver(kPostSnap, devices, count, util, PostSnapDevicesWork);
}

KXSO_DRIVER(kxso_deleteSnapsAzureNative) {
    return RunManagedDiskDriver(kDelete, devices, count, util, DeleteSnapsWork);
}

KXSO_DRIVER(kxso_mapSnapsAzureNative) {
    return RunManagedDiskDriver(kMap, devices, count, util, MapSnapsPerDeviceWork, kxso_mapSnaps2);
}

KXSO_DRIVER(kxso_mapSnaps2) {
    return RunManagedDiskDriver(kMapBulk, devices, count, util, MapSnapsBulkWork);
}

KXSO_DRIVER(kxso_unmapSnapsAzureNative) {
    return RunManagedDiskDriver(kUnmap, devices, count, util, UnmapSnapsPerDeviceWork,
                                kxso_unmapSnaps2);
}

KXSO_DRIVER(kxso_unmapSnaps2) {
    return RunManagedDiskDriver(kUnmapBulk, devices, count, util, UnmapSnapsBulkWork);
}

KXSO_DRIVER(kxso_revertSnapsAzureNative) {
    return RunManagedDiskDriver(kRevert, devices, count, util, RevertSnapsPerDeviceWork,
                                kxso_revertSnaps2);
}

KXSO_DRIVER(kxso_revertSnaps2) {
    return RunManagedDiskDriver(kRevertBulk, devices, count, util, RevertSnapsBulkWork);
}

// Reconciling managed-disk snapshots is not offered: nothing is touched.
KXSO_DRIVER(kxso_reconcileSnapsAzureNative) {
    (void)devices;
    (void)count;
    (void)util;
    return KXSO::RESULT_FAILURE;
}
