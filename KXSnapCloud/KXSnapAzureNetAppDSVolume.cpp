// Volume and snapshot records: protocols, resource ids and their dumps.
#include "KXSnapCloud/KXSnapAzureNetAppDS.h"
#include "KXSnapCloud/KXSnapAzureNetAppRegex.h"
#include "platform/FXString.h"

namespace AzureNetApp {

namespace {

constexpr const char* kNfsV3 = "NFSv3";
constexpr const char* kNfsV41 = "NFSv4.1";
constexpr const char* kSmb = "SMB";

const char* TrueFalse(bool flag) {
    return flag ? "true" : "false";
}

}  // namespace

void ProtocolTypes::clear() {
    nfsv3 = false;
    nfsv41 = false;
    smb = false;
}

bool ProtocolTypes::isValid() const {
    return nfsv3 || nfsv41 || smb;
}

std::string ProtocolTypes::dump() const {
    return FXString::Format("[NFSv3:%s, NFSv4:%s, SMB:%s]", TrueFalse(nfsv3), TrueFalse(nfsv41),
                            TrueFalse(smb));
}

AnfJson::Value ProtocolTypes::createJSONArray() const {
    AnfJson::Value protocols = AnfJson::Value::array();
    if (nfsv3) {
        AnfJson::import(protocols, kNfsV3);
    }
    if (nfsv41) {
        AnfJson::import(protocols, kNfsV41);
    }
    if (smb) {
        AnfJson::import(protocols, kSmb);
    }
    return protocols;
}

bool ProtocolTypes::parseFromArray(const AnfJson::Value& array) {
    clear();
    if (!array.is_array()) {
        return false;
    }
    for (const AnfJson::Value& element : array) {
        if (!element.is_string()) {
            continue;
        }
        const std::string& name = element.get_ref<const std::string&>();
        if (FXString::EqualsNoCase(name, kNfsV3)) {
            nfsv3 = true;
        } else if (FXString::EqualsNoCase(name, kNfsV41)) {
            nfsv41 = true;
        } else if (FXString::EqualsNoCase(name, kSmb)) {
            smb = true;
        }
    }
    return isValid();
}

void AzureNetAppVolumeInfo::clear() {
    subscriptionId.clear();
    resourceGroupName.clear();
    capacityPoolName.clear();
    netappAccountName.clear();
    volumeName.clear();
    fileSystemId.clear();
    location.clear();
    rawPath.clear();
    rawName.clear();
    subnetId.clear();
    usageThreshold.clear();
    protocolTypes.clear();
}

std::string AzureNetAppVolumeInfo::dump() const {
    return "subscriptionId : [" + subscriptionId + "] resourceGroupName : [" + resourceGroupName +
           "] netappAccountName : [" + netappAccountName + "] capacityPoolName : [" +
           capacityPoolName + "] volumeName : [" + volumeName + "] fileSystemId : [" +
           fileSystemId + "] location : [" + location + "] rawPath : [" + rawPath +
           "] rawName : [" + rawName + "] sharePath : [" + sharePath + "] subnetId : [" + subnetId +
           "] usageThreshold : [" + usageThreshold + "] protocolTypes : [" + protocolTypes.dump() +
           "]";
}

bool AzureNetAppVolumeInfo::parseRawPath() {
    if (rawPath.empty()) {
        return false;
    }
    std::smatch match;
    if (!matchWhole(rawPath, rawVolumePathRegex(), resourceIdSeparators(), match) ||
        match.size() != ANF_RAW_VOL_PATH_REGEX_GROUP_LENGTH) {
        return false;
    }
    subscriptionId = match[ANF_RAW_VOL_PATH_REGEX_INDEX_SUB_ID].str();
    resourceGroupName = match[ANF_RAW_VOL_PATH_REGEX_INDEX_RESGROUP_NAME].str();
    netappAccountName = match[ANF_RAW_VOL_PATH_REGEX_INDEX_NETAPPACC_NAME].str();
    capacityPoolName = match[ANF_RAW_VOL_PATH_REGEX_INDEX_CP_NAME].str();
    volumeName = match[ANF_RAW_VOL_PATH_REGEX_INDEX_VOL_NAME].str();
    return true;
}

bool AzureNetAppSnapshotInfo::parseRawPath() {
    if (snapRawPath.empty()) {
        return false;
    }
    std::smatch match;
    if (!matchWhole(snapRawPath, rawSnapshotPathRegex(), resourceIdSeparators(), match) ||
        match.size() != ANF_RAW_SNAPSHOT_PATH_REGEX_GROUP_LENGTH) {
        return false;
    }
    snapshotName = match[ANF_RAW_SNAPSHOT_PATH_REGEX_INDEX_SNAP_NAME].str();
    return true;
}

}  // namespace AzureNetApp
