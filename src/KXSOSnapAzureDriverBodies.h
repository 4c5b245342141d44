// The per-record work of each managed-disk driver. The frame
// (KXSOSnapAzureFrame.h) has already checked the arguments, set the up-front
// status and connected to Azure when a body runs; the body walks the records,
// records failures and returns the driver's result.
#pragma once

#include "KXSOSnapAzureFrame.h"

KXSO::ResultCode PrepareDevicesWork(ManagedDiskCall& call);
KXSO::ResultCode SnapDevicesWork(ManagedDiskCall& call);
KXSO::ResultCode PostSnapDevicesWork(ManagedDiskCall& call);
KXSO::ResultCode DeleteSnapsWork(ManagedDiskCall& call);
KXSO::ResultCode MapSnapsPerDeviceWork(ManagedDiskCall& call);
KXSO::ResultCode MapSnapsBulkWork(ManagedDiskCall& call);
KXSO::ResultCode UnmapSnapsPerDeviceWork(ManagedDiskCall& call);
KXSO::ResultCode UnmapSnapsBulkWork(ManagedDiskCall& call);
KXSO::ResultCode RevertSnapsPerDeviceWork(ManagedDiskCall& call);
KXSO::ResultCode RevertSnapsBulkWork(ManagedDiskCall& call);
