// How the controller finds each record's vendor and service engine: from the
// records themselves during prepare, from what prepare stored on them later.
#include <charconv>
#include <string>

#include "KXSnapCloud/KXSnapCloudConstants.h"
#include "KXSnapCloud/KXSnapCloudController.h"

namespace {

// A whole decimal int: optional '-', digits, nothing else, in int range.
// Cloud metadata comes back from the host's catalog, where another version or
// a damaged catalog may have left anything: whatever is looser than this (blanks,
// a '+', trailing text, out-of-range digits) is a parse error.
bool ParseDecimalInt(const std::string& text, int& value) {
    if (text.empty()) {
        return false;
    }
    const char* begin = text.data();
    const char* end = begin + text.size();
    int parsed = 0;
    const std::from_chars_result result = std::from_chars(begin, end, parsed, 10);
    if (result.ec != std::errc() || result.ptr != end) {
        return false;
    }
    value = parsed;
    return true;
}

}  // namespace

bool KXSnapCloudController::getCloudEngineInfoFromSnapEngine(KXSO::SnapInfo* device, int& vendorId,
                                                             int& serviceEngineId) {
    if (device->getSnapEngineId() !=
        KXSnapCloudConstants::KXSnapCloud_SnapEngine_AzureNetAppFiles) {
        return false;
    }
    vendorId = KXSnapCloudConstants::KXSnapCloud_Provider_Azure;
    serviceEngineId = KXSnapCloudConstants::ServiceEngine_Azure_NetAppFiles;
    return true;
}

bool KXSnapCloudController::getCloudMetadataFromDevice(KXSO::SnapInfo* device, int& vendorId,
                                                       int& serviceEngineId) {
    std::string metadata;
    if (!device->getSnapMetadata(KXSnapCloudConstants::KXSnapCloud_Metadata_Id, metadata)) {
        logError("Failed to get cloud controller from device");
        return false;
    }
    const size_t bar = metadata.find(KXSnapCloudConstants::MetadataDelimiter);
    int vendor = 0;
    int serviceEngine = 0;
    if (bar == std::string::npos || !ParseDecimalInt(metadata.substr(0, bar), vendor) ||
        !ParseDecimalInt(metadata.substr(bar + 1), serviceEngine)) {
        logError("Error on parsing cloud controller metadata [%s]", metadata.c_str());
        return false;
    }
    if (vendor <= 0 || serviceEngine <= 0) {
        logError("Invalid vendor id or service engine id found. (%d,%d)", vendor, serviceEngine);
        vendorId = 0;
        serviceEngineId = 0;
        return false;
    }
    vendorId = vendor;
    serviceEngineId = serviceEngine;
    return true;
}

bool KXSnapCloudController::storeEngine(int vendorId,
                                        const std::shared_ptr<KXSnapCloudUtil>& cloudUtil) {
    std::unique_ptr<KXSnapCloudEngineInterface> engine =
        KXSnapCloudEngineInterface::getInstance(cloudUtil);
    if (!engine) {
        logError("Failed to initialize cloud engine [%d]", vendorId);
        return false;
    }
    cloudEngines_[vendorId] = std::move(engine);
    return true;
}

bool KXSnapCloudController::discoverCloudVendorServices() {
    std::vector<KXSO::SnapInfo*> remaining = devices_;
    for (const int vendorId : vendors_) {
        logDetail("Initializing cloud engine [%d]", vendorId);
        std::shared_ptr<KXSnapCloudUtil> cloudUtil = KXSnapCloudUtil::getInstance(vendorId, util_);
        if (!cloudUtil) {
            logError("Failed to get instance for cloud vendor id [%d]", vendorId);
            continue;
        }
        const size_t before = remaining.size();
        if (!cloudUtil->checkSupport(remaining)) {
            logError("Failed to discover devices with cloud vendor [%d].", vendorId);
            continue;
        }
        if (remaining.size() == before) {
            logError("No devices are compatible with cloud vendor [%d]", vendorId);
            continue;
        }
        if (!storeEngine(vendorId, cloudUtil)) {
            continue;
        }
        if (remaining.empty()) {
            logDetail("Vendor discovered for all devices.");
            break;
        }
    }
    if (remaining.empty()) {
        return true;
    }
    logError("Failed to identify cloud vendor for [%d] devices",
             static_cast<int>(remaining.size()));
    return false;
}

bool KXSnapCloudController::identifyCloudVendorServices() {
    std::map<int, std::shared_ptr<KXSnapCloudUtil>> utilsByVendor;
    for (KXSO::SnapInfo* device : devices_) {
        int vendorId = 0;
        int serviceEngineId = 0;
        const long snapId = static_cast<long>(device->getSnapId());
        if (!getCloudEngineInfoFromSnapEngine(device, vendorId, serviceEngineId)) {
            logError(
                "Failed to identify cloud vendor and service engine from snap engine id for snap "
                "[%ld]",
                snapId);
            if (!getCloudMetadataFromDevice(device, vendorId, serviceEngineId)) {
                logError(
                    "Failed to identify cloud vendor and service engine from metadata for snap "
                    "[%ld]",
                    snapId);
                return false;
            }
        }
        logDetail("Identified cloud vendor [%d] service engine [%d] for snap [%ld]", vendorId,
                  serviceEngineId, snapId);
        std::shared_ptr<KXSnapCloudUtil>& cloudUtil = utilsByVendor[vendorId];
        if (!cloudUtil) {
            cloudUtil = KXSnapCloudUtil::getInstance(vendorId, util_);
            if (!cloudUtil) {
                logError("Failed to get cloud util instance for cloud vendor id [%d]", vendorId);
                return false;
            }
        }
        if (!cloudUtil->assignDeviceToServiceEngine(device, serviceEngineId)) {
            logError("Failed to add device with service engine [%d] to cloud util [%d].",
                     serviceEngineId, vendorId);
            return false;
        }
    }
    for (const auto& entry : utilsByVendor) {
        if (!storeEngine(entry.first, entry.second)) {
            return false;
        }
    }
    return true;
}
