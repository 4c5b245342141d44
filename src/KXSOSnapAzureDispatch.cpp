// Path choice, argument check, bulk switch and error recording shared by every
// managed-disk driver.
#include <string>

#include "KXSOSnapAzure.h"
#include "platform/EvDebug.h"
#include "platform/KXPlatformInfo.h"

namespace {
constexpr const char* kDisableBulkKey = "bAzureEngineDisableHttpBulkRequest";
}

bool isCloudSnapOp(KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil*, short operation) {
    if (count <= 0 || devices == nullptr || devices[0] == nullptr) {
        return false;
    }
    KXSO::SnapInfo* first = devices[0];
    if (operation != KXSO_OP_PREPARE) {
        // The cloud framework marks its records during prepare; later
        // operations follow that mark.
        return first->isSnapFlagSet(KXSO::SNAP_FLAG_CLOUD_SNAP) == 1;
    }
    std::string sourceDevice;
    if (!first->getSourceDevicePath(sourceDevice)) {
        return false;
    }
    if (sourceDevice.find(CLOUD_SNAP_IDENTIFIER) != std::string::npos) {
        first->logMessage(KXSO::LOG_DETAIL, AZURE_SNAP_CLOUD_SWITCH_TAG,
                          "Cloud snap device found (Azure NetApp Files). Source device path [%s]",
                          sourceDevice.c_str());
        return true;
    }
    first->logMessage(KXSO::LOG_DETAIL, AZURE_SNAP_CLOUD_SWITCH_TAG,
                      "Azure Disk device found. Source device path [%s]", sourceDevice.c_str());
    return false;
}

bool ShouldDisableBulkRequests(KXSO::SnapInfo* record) {
    bool disabled = false;
    if (!KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, kDisableBulkKey, disabled) || !disabled) {
        return false;
    }
    if (record) {
        record->logMessage(KXSO::LOG_INFO, AZUREAPI_TAG,
                           "Found %s setting. User chose to disable bulk http requests",
                           kDisableBulkKey);
    }
    return true;
}

bool ValidateInputDeviceArguments(KXSO::SnapInfo** devices, int16_t count, KXSO::KXOSUtil* util,
                                  KXSO::SnapStatus status) {
    const EvDebugLog& log = EvDebug();
    if (count < 1) {
        log.DebugLvl(-1, AZUREAPI_TAG, "Invalid device count [%d]", count);
        return false;
    }
    if (util == nullptr) {
        log.DebugLvl(-1, AZUREAPI_TAG, "Invalid snap util object");
        return false;
    }
    if (devices == nullptr) {
        log.DebugLvl(-1, AZUREAPI_TAG, "1Invalid snap devices object");
        return false;
    }
    if (devices[0] == nullptr) {
        log.DebugLvl(-1, AZUREAPI_TAG, "2Invalid snap devices object");
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (devices[i] == nullptr) {
            log.DebugLvl(-1, AZUREAPI_TAG, "Invalid snap device pointer [%d]", i);
            return false;
        }
        devices[i]->setStatus(status);
    }
    return true;
}

void SetErrorMessage(KXSO::SnapInfo* record, const int& code, const std::string& tag,
                     const std::string& message, KXSO::SnapStatus status) {
    if (record == nullptr) {
        return;
    }
    record->logMessage(KXSO::LOG_ERROR, tag.c_str(), "%s", message.c_str());
    record->setError(code, message);
    if (status > 0) {
        record->setStatus(status);
    }
}
