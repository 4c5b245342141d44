#include "KXSnapCloud/KXSnapCloudAzureUtil.h"

#include <string>

#include "KXSnapCloud/KXSnapCloudConstants.h"

namespace {

constexpr const char* kTag = "KXSnapCloudAzureUtil";

// Every NetApp Files source path names its NFS server ("...,targethostname:
// <address>}"), so a colon is what tells it from a local block device.
constexpr char kServiceEngineMarker = ':';

}  // namespace

using KXSnapCloudConstants::KXSnapCloud_Metadata_Id;
using KXSnapCloudConstants::KXSnapCloud_Provider_Azure;
using KXSnapCloudConstants::KXSnapCloud_SnapEngine_AzureNetAppFiles;
using KXSnapCloudConstants::KXSnapCloud_SnapFlag;
using KXSnapCloudConstants::KXSnapCloud_Unsupported;
using KXSnapCloudConstants::MetadataDelimiter;
using KXSnapCloudConstants::ServiceEngine_Azure_NetAppFiles;

KXSnapCloudAzureUtil::KXSnapCloudAzureUtil(KXSO::KXOSUtil* util) : KXSnapCloudUtil(util) {
    addServiceEngine(ServiceEngine_Azure_NetAppFiles);
}

bool KXSnapCloudAzureUtil::checkSupport(std::vector<KXSO::SnapInfo*>& devices) {
    auto next = devices.begin();
    while (next != devices.end()) {
        KXSO::SnapInfo* device = *next;
        int serviceEngineId = KXSnapCloud_Unsupported;
        if (!identifyServiceEngine(device, serviceEngineId)) {
            return false;
        }
        if (serviceEngineId == KXSnapCloud_Unsupported) {
            ++next;
            continue;
        }
        // Filed before tagging: a record that fails to be tagged stays filed,
        // but the walk stops and prepare fails anyway.
        addDevice(serviceEngineId, device);
        if (!addCloudMetadataToDevice(device, serviceEngineId) ||
            !assignSnapEngine(device, serviceEngineId)) {
            return false;
        }
        next = devices.erase(next);
    }
    return true;
}

bool KXSnapCloudAzureUtil::assignDeviceToServiceEngine(KXSO::SnapInfo* device,
                                                       int const& serviceEngineId) {
    addDevice(serviceEngineId, device);
    return true;
}

bool KXSnapCloudAzureUtil::getCachedServiceEngine(std::vector<KXSO::SnapInfo*>&) {
    return false;
}

bool KXSnapCloudAzureUtil::identifyServiceEngine(KXSO::SnapInfo* device, int& serviceEngineId) {
    std::string sourcePath;
    if (!device->getSourceDevicePath(sourcePath)) {
        device->logMessage(KXSO::LOG_ERROR, kTag, "Failed to retrieve source device information");
        return false;
    }
    if (sourcePath.find(kServiceEngineMarker) != std::string::npos) {
        serviceEngineId = ServiceEngine_Azure_NetAppFiles;
        device->logMessage(KXSO::LOG_INFO, kTag,
                           "Service engine detected : Azure NetApp Files [%s]", sourcePath.c_str());
    } else {
        serviceEngineId = KXSnapCloud_Unsupported;
        device->logMessage(KXSO::LOG_INFO, kTag, "Unsupported device found :[%s]",
                           sourcePath.c_str());
    }
    return true;
}

bool KXSnapCloudAzureUtil::addCloudMetadataToDevice(KXSO::SnapInfo* device,
                                                    int const& serviceEngineId) {
    const std::string metadata = std::to_string(KXSnapCloud_Provider_Azure) + MetadataDelimiter +
                                 std::to_string(serviceEngineId);
    if (device->setSnapMetadata(KXSnapCloud_Metadata_Id, metadata) != 0) {
        device->logMessage(KXSO::LOG_ERROR, kTag,
                           "Failed to set cloud controller metadata [%s] in device",
                           metadata.c_str());
        return false;
    }
    if (device->setSnapFlags(KXSnapCloud_SnapFlag) != 0) {
        device->logMessage(KXSO::LOG_ERROR, kTag,
                           "Failed to set snap flag for cloud framework in device");
        return false;
    }
    return true;
}

short KXSnapCloudAzureUtil::getSnapEngineIdFromServiceEngine(int const& serviceEngineId) {
    return serviceEngineId == ServiceEngine_Azure_NetAppFiles
               ? KXSnapCloud_SnapEngine_AzureNetAppFiles
               : 0;
}

bool KXSnapCloudAzureUtil::assignSnapEngine(KXSO::SnapInfo* device, int& serviceEngineId) {
    const short snapEngineId = getSnapEngineIdFromServiceEngine(serviceEngineId);
    if (snapEngineId != 0) {
        // The metadata and the flag already identify the record; a host that
        // does not keep the engine id only costs later operations a metadata read.
        device->setSnapEngineId(snapEngineId);
    }
    return true;
}
