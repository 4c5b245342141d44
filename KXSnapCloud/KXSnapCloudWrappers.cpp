// The cloud wrappers behind the exported operations: each call gets its own
// controller for the Azure provider, runs the operation and releases it.
#include <vector>

#include "KXSnapCloud/KXSnapCloudConstants.h"
#include "KXSnapCloud/KXSnapCloudControllerInterface.h"
#include "src/KXSOSnapAzure.h"

namespace {

using ControllerOperation = KXSO::ResultCode (KXSnapCloudControllerInterface::*)(
    KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*);

KXSO::ResultCode RunOnCloudController(ControllerOperation operation, KXSO::SnapInfo** devices,
                                      int16_t count, KXSO::KXOSUtil* util) {
    std::vector<int> providers{KXSnapCloudConstants::KXSnapCloud_Provider_Azure};
    std::unique_ptr<KXSnapCloudControllerInterface> controller =
        KXSnapCloudControllerInterface::getInstance(providers);
    if (!controller) {
        return KXSO::RESULT_FAILURE;
    }
    return ((*controller).*operation)(devices, count, util);
}

}  // namespace

KXSO_DRIVER(kxso_prepareDevicesCloud) {
    return RunOnCloudController(&KXSnapCloudControllerInterface::kxso_prepareDevices, devices,
                                count, util);
}
KXSO_DRIVER(kxso_snapDevicesCloud) {
    return RunOnCloudController(&KXSnapCloudControllerInterface::kxso_snapDevices, devices, count,
                                util);
}
KXSO_DRIVER(kxso_postSnapDevicesCloud) {
    return RunOnCloudController(&KXSnapCloudControllerInterface::kxso_postSnapDevices, devices,
                                count, util);
}
KXSO_DRIVER(kxso_mapSnapsCloud) {
    return RunOnCloudController(&KXSnapCloudControllerInterface::kxso_mapSnaps, devices, count,
                                util);
}
KXSO_DRIVER(kxso_unmapSnapsCloud) {
    return RunOnCloudController(&KXSnapCloudControllerInterface::kxso_unmapSnaps, devices, count,
                                util);
}
KXSO_DRIVER(kxso_deleteSnapsCloud) {
    return RunOnCloudController(&KXSnapCloudControllerInterface::kxso_deleteSnaps, devices, count,
                                util);
}
KXSO_DRIVER(kxso_revertSnapsCloud) {
    return RunOnCloudController(&KXSnapCloudControllerInterface::kxso_revertSnaps, devices, count,
                                util);
}
KXSO_DRIVER(kxso_reconcileSnapsCloud) {
    return RunOnCloudController(&KXSnapCloudControllerInterface::kxso_reconcileSnaps, devices,
                                count, util);
}
