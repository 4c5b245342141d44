// The snapshot metadata text, the names given to disks made from snapshots,
// the disk name check, the array name and the LUN of an attached disk.
#include <ctime>
#include <string>
#include <vector>

#include "KxSnapAzureAPI.h"
#include "KxSnapAzureMetadataText.h"
#include "KxSnapAzureUtils.h"
#include "platform/EvDebug.h"
#include "platform/FXString.h"
#include "platform/KXPlatformInfo.h"

namespace {

constexpr size_t kMaxAzureDiskNameLength = 80;
constexpr const char* kArraySettingKey = "sAzureArray";
constexpr const char* kDefaultArrayName = "Azure-Default-MSI";

// The part after the last '/', or all of the text when it has none.
std::string LastPathSegment(const std::string& text) {
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

unsigned long SecondsSinceEpoch() {
    return static_cast<unsigned long>(std::time(nullptr));
}

}  // namespace

bool ParseAzureSnapMetaData(const std::string& text, AzureSnapMetadata& metadata) {
    std::string problem;
    if (!ReadAzureSnapMetadataText(text, metadata, problem)) {
        EvDebug().Error(AZURE_LOG_TAG, "%s", problem.c_str());
        return false;
    }
    return true;
}

CUxError ValidateAzureDiskName(const std::string& name) {
    const FXCodeLocation where("KxSnapAzureUtils", "CUxError ValidateAzureDiskName(const string&)",
                               __LINE__);
    if (name.size() > kMaxAzureDiskNameLength) {
        return FXErrorUtil::ErrorErrNo(where, AZURE_ERR_GENERAL, "%s",
                                       "Azure disk name exceeds 80 characters limit");
    }
    if (name.empty()) {
        return FXErrorUtil::ErrorErrNo(where, AZURE_ERR_GENERAL, "%s", "Azure disk name is empty");
    }
    return CUxError::Success();
}

void GetRevertedDiskName(const AzureSnapMetadata& metadata, bool reuseSourceName,
                         AzureDiskSnapShotInfo& snapshot) {
    if (metadata.sourceDiskName.empty()) {
        snapshot.diskName = FXString::Format("%s_%lu", LastPathSegment(metadata.snapURL).c_str(),
                                             SecondsSinceEpoch());
        return;
    }
    snapshot.originalDiskName = metadata.sourceDiskName;
    if (reuseSourceName) {
        const std::vector<std::string> segments =
            FXString::Split(FXString::Trim(metadata.sourceDiskURL, "/"), "/");
        snapshot.diskName = segments.empty() ? std::string() : segments.back();
    } else {
        snapshot.diskName =
            FXString::Format("%s-%lu", metadata.sourceDiskName.c_str(), SecondsSinceEpoch());
    }
}

void GetSnapshotCloneName(KXSO::SnapInfo* record, std::string& name) {
    std::string snapName;
    if (record != nullptr) {
        record->getSnapName(snapName);
    }
    if (record != nullptr && record->isSnapOptionSet(KXSO::SNAP_OPTION_CLONE_INDEX)) {
        name = snapName + "_" + std::to_string(record->getCloneIndex()) + "_CLONE";
    } else {
        name = snapName + "_CLONE";
    }
}

void GetSnapshotCloneType(const AzureSnapMetadata& metadata, std::string& diskType,
                          bool /*unused*/) {
    if (!metadata.sourceDiskSku.empty()) {
        diskType = metadata.sourceDiskSku;
    }
}

std::string GetArrayNameFromReg() {
    std::string arrayName;
    if (!KXPlatformInfo::getString(KX_SETTINGS_SECTION, kArraySettingKey, arrayName) ||
        arrayName.empty()) {
        EvDebug().DebugLvl(3, AZURE_LOG_TAG, "Failed to read registry key %s", kArraySettingKey);
    }
    if (arrayName.empty()) {
        arrayName = kDefaultArrayName;
    }
    EvDebug().DebugLvl(1, AZURE_LOG_TAG, "Using Array[%s]", arrayName.c_str());
    return arrayName;
}

bool GetAzureArrayAccessInfo(const AzureInstanceInfo& instance, AzureAccessInfo& access,
                             std::string& arrayName) {
    arrayName = GetArrayNameFromReg();
    access.subscriptionId = instance.subscriptionId;
    return true;
}

bool GetLunidForMappedDiskResource(const AzureInstanceInfo& instance,
                                   const std::string& diskResourceId, int& lun,
                                   std::string& /*detail*/) {
    lun = -1;
    const std::string wanted = FXString::Trim(diskResourceId, "/");
    for (const AzureDiskInfo& disk : instance.disks) {
        if (FXString::EqualsNoCase(FXString::Trim(disk.id, "/"), wanted)) {
            lun = disk.lun;
            break;
        }
    }
    return lun >= 0;
}
