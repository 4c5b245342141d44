// The controller's operations: the step sequence each exported operation runs
// and the set-up shared by all of them.
#include "KXSnapCloud/KXSnapCloudController.h"

#include <cstdarg>
#include <string>
#include <utility>

#include "KXSnapCloud/KXSnapCloudConstants.h"
#include "src/KXSORecordLog.h"

namespace {

constexpr const char* kTag = "KXSnapCloudController";

// The failure status each operation starts every record with; 0 for the
// operations that leave the records' status alone.
int StartingStatus(short operation) {
    switch (operation) {
        case KXSnapCloudConstants::KXSnapCloud_Op_Delete:
            return KXSO::SNAP_STATUS_DELETE_FAILED;
        case KXSnapCloudConstants::KXSnapCloud_Op_Map:
            return KXSO::SNAP_STATUS_MAP_FAILED;
        case KXSnapCloudConstants::KXSnapCloud_Op_Unmap:
            return KXSO::SNAP_STATUS_UNMAP_FAILED;
        case KXSnapCloudConstants::KXSnapCloud_Op_Revert:
            return KXSO::SNAP_STATUS_REVERT_FAILED;
        case KXSnapCloudConstants::KXSnapCloud_Op_Prepare:
            return KXSO::SNAP_STATUS_PREPARE_FAILED;
        case KXSnapCloudConstants::KXSnapCloud_Op_Snap:
            return KXSO::SNAP_STATUS_SNAP_FAILED;
        default:
            return 0;
    }
}

}  // namespace

std::unique_ptr<KXSnapCloudControllerInterface> KXSnapCloudControllerInterface::getInstance(
    std::vector<int>& vendors) {
    return std::make_unique<KXSnapCloudController>(vendors);
}

KXSnapCloudController::KXSnapCloudController(std::vector<int> vendors)
    : vendors_(std::move(vendors)) {}

KXSnapCloudController::~KXSnapCloudController() = default;

using Engine = KXSnapCloudEngineInterface;
using KXSnapCloudConstants::KXSnapCloud_Op_Delete;
using KXSnapCloudConstants::KXSnapCloud_Op_Map;
using KXSnapCloudConstants::KXSnapCloud_Op_PostSnap;
using KXSnapCloudConstants::KXSnapCloud_Op_Prepare;
using KXSnapCloudConstants::KXSnapCloud_Op_Reconcile;
using KXSnapCloudConstants::KXSnapCloud_Op_Revert;
using KXSnapCloudConstants::KXSnapCloud_Op_Snap;
using KXSnapCloudConstants::KXSnapCloud_Op_Unmap;

KXSO::ResultCode KXSnapCloudController::kxso_prepareDevices(KXSO::SnapInfo** devices, short count,
                                                            KXSO::KXOSUtil* util) {
    // "initalize" is the established spelling of this log line; keep it.
    return runOperation(devices, count, util, KXSnapCloud_Op_Prepare,
                        {{&Engine::processDeviceDetails, "Failed to initalize cloud engine [%d]"},
                         {&Engine::getArrayDetails, "Failed to getArrayDetails [%d]"},
                         {&Engine::connectToArray, "Failed to connectToArray [%d]"},
                         {&Engine::discoverVolumeDetails, "Failed to discoverVolumeDetails [%d]"}});
}

KXSO::ResultCode KXSnapCloudController::kxso_snapDevices(KXSO::SnapInfo** devices, short count,
                                                         KXSO::KXOSUtil* util) {
    return runOperation(devices, count, util, KXSnapCloud_Op_Snap,
                        {{&Engine::connectToArray, "Failed to connectToArray [%d]"},
                         {&Engine::createSnaps, "Failed to create snaps [%d]"}});
}

KXSO::ResultCode KXSnapCloudController::kxso_deleteSnaps(KXSO::SnapInfo** devices, short count,
                                                         KXSO::KXOSUtil* util) {
    return runOperation(devices, count, util, KXSnapCloud_Op_Delete,
                        {{&Engine::connectToArray, "Failed to connectToArray [%d]"},
                         {&Engine::deleteSnaps, "Failed to delete snaps [%d]"}},
                        KXSO::SNAP_STATUS_DELETED);
}

KXSO::ResultCode KXSnapCloudController::kxso_mapSnaps(KXSO::SnapInfo** devices, short count,
                                                      KXSO::KXOSUtil* util) {
    return runOperation(devices, count, util, KXSnapCloud_Op_Map,
                        {{&Engine::connectToArray, "Failed to connect to array [%d]"},
                         {&Engine::validateForMap, "Failed to validate snaps for mapping [%d]"},
                         {&Engine::mapSnaps, "Failed to map snaps [%d]"}});
}

KXSO::ResultCode KXSnapCloudController::kxso_unmapSnaps(KXSO::SnapInfo** devices, short count,
                                                        KXSO::KXOSUtil* util) {
    return runOperation(devices, count, util, KXSnapCloud_Op_Unmap,
                        {{&Engine::connectToArray, "Failed to connectToArray [%d]"},
                         {&Engine::unmapSnaps, "Failed to unmap snaps [%d]"}},
                        KXSO::SNAP_STATUS_UNMAPPED);
}

KXSO::ResultCode KXSnapCloudController::kxso_revertSnaps(KXSO::SnapInfo** devices, short count,
                                                         KXSO::KXOSUtil* util) {
    return runOperation(devices, count, util, KXSnapCloud_Op_Revert,
                        {{&Engine::connectToArray, "Failed to connect to array [%d]"},
                         {&Engine::validateForRevert, "Failed to validate snaps for revert [%d]"},
                         {&Engine::revertSnaps, "Failed to revert snaps [%d]"}});
}

KXSO::ResultCode KXSnapCloudController::kxso_reconcileSnaps(KXSO::SnapInfo** devices, short count,
                                                            KXSO::KXOSUtil* util) {
    return runOperation(devices, count, util, KXSnapCloud_Op_Reconcile,
                        {{&Engine::connectToArray, "Failed to connect to array [%d]"},
                         {&Engine::reconSnaps, "Failed to reconcile snaps [%d]"}});
}

KXSO::ResultCode KXSnapCloudController::kxso_postSnapDevices(KXSO::SnapInfo** devices, short count,
                                                             KXSO::KXOSUtil* util) {
    return runOperation(devices, count, util, KXSnapCloud_Op_PostSnap,
                        {{&Engine::connectToArray, "Failed to connectToArray [%d]"},
                         {&Engine::postSnapDevices, "Failed to post create snaps [%d]"}});
}

KXSO::ResultCode KXSnapCloudController::runOperation(KXSO::SnapInfo** devices, short count,
                                                     KXSO::KXOSUtil* util, short operation,
                                                     std::initializer_list<PhaseStep> phases,
                                                     int doneStatus) {
    if (!initializeCloudController(devices, count, util, operation)) {
        return KXSO::RESULT_FAILURE;
    }
    if (operation == KXSnapCloud_Op_Prepare) {
        if (!discoverCloudVendorServices()) {
            logError("Failed to discover cloud vendors");
            return KXSO::RESULT_FAILURE;
        }
    } else if (!identifyCloudVendorServices()) {
        logError("Failed to identify cloud vendors and service engines");
        return KXSO::RESULT_FAILURE;
    }
    if (!initializeServiceEngines()) {
        logError("Failed to setup service engines");
        return KXSO::RESULT_FAILURE;
    }
    const PhaseStep* lastPhase = phases.end() - 1;
    for (const PhaseStep* step = phases.begin(); step != phases.end(); ++step) {
        if (!runPhase(*step)) {
            // The last phase of an operation that answers per record has
            // done what it could; the records tell how much that was.
            if (doneStatus != 0 && step == lastPhase) {
                return resultFromRecords(doneStatus);
            }
            return KXSO::RESULT_FAILURE;
        }
    }
    return doneStatus != 0 ? resultFromRecords(doneStatus) : KXSO::RESULT_SUCCESS;
}

KXSO::ResultCode KXSnapCloudController::resultFromRecords(int doneStatus) {
    size_t done = 0;
    for (KXSO::SnapInfo* device : devices_) {
        if (device->getStatus() == doneStatus) {
            ++done;
        }
    }
    if (done == devices_.size()) {
        return KXSO::RESULT_SUCCESS;
    }
    logError("Operation failed for [%zu] of [%zu] devices", devices_.size() - done,
             devices_.size());
    return done == 0 ? KXSO::RESULT_FAILURE : KXSO::RESULT_PARTIAL;
}

bool KXSnapCloudController::runPhase(const PhaseStep& step) {
    for (const auto& entry : cloudEngines_) {
        if (!((*entry.second).*step.phase)()) {
            logError(step.failureFormat, entry.first);
            return false;
        }
    }
    return true;
}

bool KXSnapCloudController::initializeCloudController(KXSO::SnapInfo** devices, short count,
                                                      KXSO::KXOSUtil* util, short operation) {
    if (util == nullptr || devices == nullptr || count < 1) {
        return false;
    }
    for (short i = 0; i < count; ++i) {
        if (devices[i] == nullptr) {
            return false;
        }
    }
    util_ = util;
    devices_.assign(devices, devices + count);
    if (!initializeSnapStatus(devices, count, operation)) {
        return false;
    }
    logger_ = devices[0];
    operation_ = operation;
    return true;
}

bool KXSnapCloudController::initializeSnapStatus(KXSO::SnapInfo** devices, short const& count,
                                                 short const& operation) {
    const int status = StartingStatus(operation);
    if (status == 0) {
        return true;
    }
    for (short i = 0; i < count; ++i) {
        if (devices[i]->setStatus(status) != 0) {
            reportRefusedStatus(devices[i], status, operation);
            return false;
        }
    }
    return true;
}

void KXSnapCloudController::reportRefusedStatus(KXSO::SnapInfo* device, int status,
                                                short operation) {
    // A host that will not take the starting status cannot follow the call;
    // the record says why rather than the call failing without a trace. An
    // error already on the record stays, as the engines keep it too.
    const std::string message =
        "Failed to set status [" + std::to_string(status) + "] on the device";
    device->logMessage(KXSO::LOG_ERROR, kTag, "%s", message.c_str());
    int existing = 0;
    device->getError(&existing, nullptr, nullptr);
    if (existing < 1) {
        device->setError(KXSnapCloudConstants::HostErrorCodeForOperation(operation), message);
    }
}

bool KXSnapCloudController::initializeServiceEngines() {
    if (cloudEngines_.empty()) {
        logError("Failed to fetch identified cloud engines");
        return false;
    }
    for (const auto& entry : cloudEngines_) {
        if (!entry.second->initializeServiceEngines(operation_)) {
            logError("Failed to initalize cloud engine [%d]", entry.first);
            return false;
        }
    }
    return true;
}

void KXSnapCloudController::logError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogOnRecordV(logger_, KXSO::LOG_ERROR, kTag, format, args);
    va_end(args);
}

void KXSnapCloudController::logDetail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogOnRecordV(logger_, KXSO::LOG_DETAIL, kTag, format, args);
    va_end(args);
}
