#include "KXSnapCloud/KXSnapCloudEngine.h"

#include <utility>

#include "platform/EvDebug.h"

namespace {
constexpr const char* kTag = "KXSnapCloudEngine";
}

std::unique_ptr<KXSnapCloudEngineInterface> KXSnapCloudEngineInterface::getInstance(
    const std::shared_ptr<KXSnapCloudUtil>& cloudUtil) {
    return std::make_unique<KXSnapCloudEngine>(cloudUtil);
}

KXSnapCloudEngine::KXSnapCloudEngine(std::shared_ptr<KXSnapCloudUtil> cloudUtil)
    : cloudUtil_(std::move(cloudUtil)), debug_(&EvDebug(this)) {}

KXSnapCloudEngine::~KXSnapCloudEngine() = default;

bool KXSnapCloudEngine::initializeServiceEngines(short const& operation) {
    if (!cloudUtil_) {
        return false;
    }
    const KXSnapCloudUtil::ServiceEngineDevices& devicesByEngine =
        cloudUtil_->serviceEngineDevices();
    debug_->DebugLvl(4, kTag, "Initializing [%zu] service engines", devicesByEngine.size());
    for (const auto& entry : devicesByEngine) {
        const int serviceEngineId = entry.first;
        std::unique_ptr<KXSnapMicroEngine>& engine = serviceEngines_[serviceEngineId];
        engine = KXSnapMicroEngine::getInstance(serviceEngineId);
        if (!engine) {
            debug_->DebugLvl(-1, kTag, "Failed to initialize micro engine [%d]", serviceEngineId);
            return false;
        }
        // The engine keeps its own copy of the list; the utility's stays as filed.
        std::vector<KXSO::SnapInfo*> devices = entry.second;
        if (!engine->initialize(devices, cloudUtil_, operation)) {
            return false;
        }
    }
    return true;
}

bool KXSnapCloudEngine::runOnServiceEngines(Phase phase) {
    if (!cloudUtil_) {
        return false;
    }
    for (const auto& entry : cloudUtil_->serviceEngineDevices()) {
        auto found = serviceEngines_.find(entry.first);
        // A phase without a prior successful initializeServiceEngines has no
        // engine to run on: that is a failure, not a silent success.
        if (found == serviceEngines_.end() || !found->second) {
            return false;
        }
        if (!((*found->second).*phase)()) {
            return false;
        }
    }
    return true;
}

bool KXSnapCloudEngine::processDeviceDetails() {
    return runOnServiceEngines(&KXSnapMicroEngine::processDeviceDetails);
}
bool KXSnapCloudEngine::getArrayDetails() {
    return runOnServiceEngines(&KXSnapMicroEngine::getArrayDetails);
}
bool KXSnapCloudEngine::connectToArray() {
    return runOnServiceEngines(&KXSnapMicroEngine::connectToArray);
}
bool KXSnapCloudEngine::discoverVolumeDetails() {
    return runOnServiceEngines(&KXSnapMicroEngine::discoverVolumeDetails);
}
bool KXSnapCloudEngine::deleteSnaps() {
    return runOnServiceEngines(&KXSnapMicroEngine::deleteSnaps);
}
bool KXSnapCloudEngine::createSnaps() {
    return runOnServiceEngines(&KXSnapMicroEngine::createSnaps);
}
bool KXSnapCloudEngine::postSnapDevices() {
    return runOnServiceEngines(&KXSnapMicroEngine::postSnapDevices);
}
bool KXSnapCloudEngine::unmapSnaps() {
    return runOnServiceEngines(&KXSnapMicroEngine::unmapSnaps);
}
bool KXSnapCloudEngine::mapSnaps() {
    return runOnServiceEngines(&KXSnapMicroEngine::mapSnaps);
}
bool KXSnapCloudEngine::validateForMap() {
    return runOnServiceEngines(&KXSnapMicroEngine::validateForMap);
}
bool KXSnapCloudEngine::reconSnaps() {
    return runOnServiceEngines(&KXSnapMicroEngine::reconSnaps);
}
bool KXSnapCloudEngine::validateForRevert() {
    return runOnServiceEngines(&KXSnapMicroEngine::validateForRevert);
}
bool KXSnapCloudEngine::revertSnaps() {
    return runOnServiceEngines(&KXSnapMicroEngine::revertSnaps);
}
