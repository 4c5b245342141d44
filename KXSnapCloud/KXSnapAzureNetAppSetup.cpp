// The engine's set-up phases: work objects, device details, array
// configuration and the connection to Azure.
#include <cstdarg>

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapAzureNetAppRegex.h"
#include "KXSnapCloud/KXSnapCloudConstants.h"
#include "platform/FXString.h"
#include "platform/KXPlatformInfo.h"
#include "src/KXSORecordLog.h"

namespace {

constexpr const char* kTag = "KXSnapAzureNetapp";
// The share path of a source device name starts with an escaped slash.
constexpr const char* kEscapedSlash = "\\/";

const char* EnabledText(bool enabled) {
    return enabled ? "enabled" : "disabled";
}

// The array name the installation set for its records, if any.
bool CustomArrayName(std::string& name) {
    if (KXPlatformInfo::getValue(KX_SETTINGS_SECTION, KX_ANF_REG_KEY_CUSTOM_ARRAY_ID, name) == 0) {
        return false;
    }
    return !name.empty();
}

}  // namespace

using AzureNetApp::KxSnapANFSnapObj;

KXSnapAzureNetApp::KXSnapAzureNetApp() = default;

KXSnapAzureNetApp::~KXSnapAzureNetApp() = default;

bool KXSnapAzureNetApp::initialize(std::vector<KXSO::SnapInfo*>& devices,
                                   const std::shared_ptr<KXSnapCloudUtil>& util,
                                   short const& operation) {
    cloudUtil = util;
    osUtil = util ? util->osUtil() : nullptr;
    opType = operation;
    logger = devices.empty() ? nullptr : devices.front();
    // Keyed by the record's place in the job: the host's snapshot ids need
    // not be distinct (two records may carry the same one), and every record
    // must be worked on and answered.
    for (size_t position = 0; position < devices.size(); ++position) {
        if (devices[position] == nullptr) {
            continue;
        }
        snapObjs[static_cast<int64_t>(position)] =
            std::make_shared<KxSnapANFSnapObj>(devices[position]);
    }
    if (opType == KXSnapCloudConstants::KXSnapCloud_Op_Prepare) {
        return true;
    }
    if (!fillSnapObjFromMetadata()) {
        logLine(KXSO::LOG_ERROR, "Failed to populate snap info from metadata");
        return false;
    }
    if (!fetchConfigs()) {
        logLine(KXSO::LOG_ERROR, "Failed to fetch array management configuration.");
        return false;
    }
    return true;
}

bool KXSnapAzureNetApp::selfValidate() {
    if (cloudUtil && osUtil != nullptr && logger != nullptr && !snapObjs.empty()) {
        return true;
    }
    logLine(KXSO::LOG_ERROR, "Cloud micro engine [Azure NetApp] not initialized.");
    return false;
}

bool KXSnapAzureNetApp::processDeviceDetails() {
    if (!selfValidate()) {
        return false;
    }
    std::string arrayName;
    if (CustomArrayName(arrayName)) {
        logLine(KXSO::LOG_INFO,
                "Found custom array set via additional setting [%s/%s] with value [%s]",
                KX_SETTINGS_SECTION, KX_ANF_REG_KEY_CUSTOM_ARRAY_ID, arrayName.c_str());
    } else {
        arrayName = KX_ANF_DEFAULT_ARRAY_MGMT_ENTRY;
    }
    for (auto& entry : snapObjs) {
        KxSnapANFSnapObj& snapObj = *entry.second;
        if (!parseSourceDeviceName(snapObj)) {
            resetError();
            error << "Failed to parse source device name. Snap Id [" << snapObj.snapNum << "]";
            logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
            setErrorDetailsForSnapObj(snapObj);
            return false;
        }
        if (snapObj.snapInfo->getArrayId() == 0 && snapObj.snapInfo->setArrayName(arrayName) == 1) {
            resetError();
            error << "Failed to set array as [" << arrayName << "] for snap [" << snapObj.snapNum
                  << "]";
            logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
            setErrorDetailsForSnapObj(snapObj);
            return false;
        }
    }
    if (!fetchConfigs()) {
        logLine(KXSO::LOG_ERROR, "Failed to fetch array management configuration.");
        return false;
    }
    return true;
}

bool KXSnapAzureNetApp::getArrayDetails() {
    return true;
}

bool KXSnapAzureNetApp::fetchConfigs() {
    KxSnapANFSnapObj* first = firstSnapObj();
    KXSO::SnapInfo* record = first != nullptr ? first->snapInfo : nullptr;
    if (record == nullptr) {
        return false;
    }
    std::string arrayName;
    KXSO::ArrayInfo* arrayInfo = nullptr;
    if (!record->getArrayInfo(&arrayInfo) && arrayInfo != nullptr) {
        arrayInfo->getArrayName(arrayName);
        record->releaseArrayInfo(arrayInfo);
    } else {
        logLine(KXSO::LOG_ERROR, "Warning, failed to fetch array information for array num [%d].",
                record->getArrayId());
    }
    logLine(KXSO::LOG_DETAIL, "Fetching configs for array [%s].", arrayName.c_str());

    auto configs = std::make_shared<AzureNetApp::ANFArrayConfigs>();
    auto readNumber = [&](const char* key, int32_t& target) {
        int value = 0;
        if (record->getConfigValue(key, &value) == 0) {
            target = value;
            logLine(KXSO::LOG_DETAIL, "Config [%s] found - value [%d]", key, value);
        } else {
            logLine(KXSO::LOG_DETAIL, "Config [%s] not found - setting default value [%d]", key,
                    target);
        }
    };
    readNumber(KX_ANF_CONFIG_RETRY_INTERVAL_KEY, configs->retryInterval);
    readNumber(KX_ANF_CONFIG_RETRY_COUNT_KEY, configs->retryCount);
    int logging = 0;
    if (record->getConfigValue(KX_ANF_CONFIG_DIAG_LOGGING_KEY, &logging) == 0) {
        configs->diagnosticLogging = logging != 0;
        logLine(KXSO::LOG_DETAIL, "Config [%s] found - value [%s]", KX_ANF_CONFIG_DIAG_LOGGING_KEY,
                EnabledText(configs->diagnosticLogging));
    } else {
        logLine(KXSO::LOG_DETAIL, "Config [%s] not found - setting default value [%s]",
                KX_ANF_CONFIG_DIAG_LOGGING_KEY, EnabledText(configs->diagnosticLogging));
    }

    arrayConfigs = configs;
    for (auto& entry : snapObjs) {
        entry.second->arrayConfigs = configs;
        logLine(KXSO::LOG_INFO, "Array configs fetched [%s] for array [%s]",
                configs->dump().c_str(), arrayName.c_str());
    }
    return true;
}

bool KXSnapAzureNetApp::connectToArray() {
    if (!selfValidate()) {
        return false;
    }
    if (!api) {
        api = std::make_unique<KXSnapAzureNetAppAPI>(logger);
    }
    if (arrayConfigs) {
        api->setConfigs(*arrayConfigs);
    }
    int result = api->rest_connectToArray(instance);
    if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
        return failOnFirstDevice(result,
                                 "Failed to connect to Azure Management Portal. REST API error : ");
    }
    // Only clone export rules need this machine's addresses.
    const int flags = opType == KXSnapCloudConstants::KXSnapCloud_Op_Map
                          ? ANF_API_CONST::ANF_GET_INSTANCE_FLAG_EXTENDED
                          : ANF_API_CONST::ANF_GET_INSTANCE_FLAG_NONE;
    result = api->rest_getInstanceDetails(instance, flags);
    if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
        return failOnFirstDevice(result,
                                 "Failed to get details of Azure instance. REST API error : ");
    }
    return true;
}

bool KXSnapAzureNetApp::parseSourceDeviceName(KxSnapANFSnapObj& snapObj) {
    std::string name;
    if (snapObj.snapInfo == nullptr || !snapObj.snapInfo->getSourceDevicePath(name)) {
        logLine(KXSO::LOG_ERROR, "Failed to get source device name for snap id [%ld]",
                static_cast<long>(snapObj.snapNum));
        return false;
    }
    std::smatch match;
    if (!AzureNetApp::matchWhole(name, AzureNetApp::sourceDeviceNameRegex(),
                                 AzureNetApp::sourceDeviceNameSeparators(), match) ||
        match.size() != ANF_SOURCE_DEVICE_NAME_REGEX_GROUP_LENGTH) {
        logLine(KXSO::LOG_ERROR, "Failed to parse source device name [%s]", name.c_str());
        return false;
    }
    AzureNetApp::DevInfo& devInfo = snapObj.devInfo;
    devInfo.idaType = match[ANF_SOURCE_DEVICE_NAME_REGEX_INDEX_IDATYPE].str();
    devInfo.shareType = match[ANF_SOURCE_DEVICE_NAME_REGEX_INDEX_SHARETYPE].str();
    devInfo.sharePath = match[ANF_SOURCE_DEVICE_NAME_REGEX_INDEX_SHAREPATH].str();
    if (FXString::StartsWith(devInfo.sharePath, kEscapedSlash)) {
        devInfo.sharePath = FXString::RemoveLeft(devInfo.sharePath, 2);
    }
    devInfo.arrayName = match[ANF_SOURCE_DEVICE_NAME_REGEX_INDEX_ARRAYNAME].str();
    snapObj.deviceName = FXString::Format(ANF_API_CONST::ANF_NFS_EXPORT_PATH_TEMPLATE,
                                          devInfo.arrayName.c_str(), devInfo.sharePath.c_str());
    return true;
}

const std::string& KXSnapAzureNetApp::displayName(const KxSnapANFSnapObj& snapObj) {
    return snapObj.deviceName.empty() ? snapObj.snapshotInfo.volumeName : snapObj.deviceName;
}

std::string KXSnapAzureNetApp::snapshotResourceId(const KxSnapANFSnapObj& snapObj) {
    const AzureNetApp::AzureNetAppSnapshotInfo& info = snapObj.snapshotInfo;
    return "/" + FXString::Format(ANF_API_CONST::AZURE_REST_GET_SNAP_INFO_ENDPOINT,
                                  info.subscriptionId.c_str(), info.resourceGroupName.c_str(),
                                  info.netappAccountName.c_str(), info.capacityPoolName.c_str(),
                                  info.volumeName.c_str(), snapObj.snapName.c_str());
}

KxSnapANFSnapObj* KXSnapAzureNetApp::firstSnapObj() {
    return snapObjs.empty() ? nullptr : snapObjs.begin()->second.get();
}

void KXSnapAzureNetApp::logLine(int level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    LogOnRecordV(logger, level, kTag, format, args);
    va_end(args);
}
