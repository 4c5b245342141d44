// Per-record work of the managed-disk drivers that this build does not carry
// yet. Each fails honestly on the first record, so that no host ever mistakes
// an operation that did nothing for a success.
#include "KXSOSnapAzureDriverBodies.h"

namespace {

KXSO::ResultCode NotAvailable(ManagedDiskCall& call) {
    call.RecordFailure(call.logRecord(),
                       "This operation is not available for Azure managed disks in this build");
    return KXSO::RESULT_FAILURE;
}

}  // namespace

KXSO::ResultCode PrepareDevicesWork(ManagedDiskCall& call) {
    return NotAvailable(call);
}
KXSO::ResultCode SnapDevicesWork(ManagedDiskCall& call) {
    return NotAvailable(call);
}
KXSO::ResultCode PostSnapDevicesWork(ManagedDiskCall& call) {
    return NotAvailable(call);
}
KXSO::ResultCode DeleteSnapsWork(ManagedDiskCall& call) {
    return NotAvailable(call);
}
KXSO::ResultCode MapSnapsPerDeviceWork(ManagedDiskCall& call) {
    return NotAvailable(call);
}
KXSO::ResultCode MapSnapsBulkWork(ManagedDiskCall& call) {
    return NotAvailable(call);
}
KXSO::ResultCode UnmapSnapsPerDeviceWork(ManagedDiskCall& call) {
    return NotAvailable(call);
}
KXSO::ResultCode UnmapSnapsBulkWork(ManagedDiskCall& call) {
    return NotAvailable(call);
}
KXSO::ResultCode RevertSnapsPerDeviceWork(ManagedDiskCall& call) {
    return NotAvailable(call);
}
KXSO::ResultCode RevertSnapsBulkWork(ManagedDiskCall& call) {
    return NotAvailable(call);
}
