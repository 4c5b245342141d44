// Prepare's last phase: which resource groups this machine may read, the
// volume behind every mounted export, and the metadata records that carry
// those volumes to the later operations.
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "platform/FXString.h"

using AzureNetApp::KxSnapANFSnapObj;

namespace {

constexpr int kNoAccessibleResourceGroup = 32;
constexpr int kNoAccessibleSubscription = 33;

}  // namespace

bool KXSnapAzureNetApp::findAccessibleResourceGroups(AzureNetApp::AzureInstanceInfo& vmInstance) {
    std::vector<std::string> subscriptions;
    int result = api->rest_listSubscriptions(subscriptions);
    if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
        replaceError(result, "Failed to get accessible subscriptions for instance [" +
                                 vmInstance.name + "] on subscription [" +
                                 vmInstance.subscriptionId + "]" + "REST API error [" +
                                 apiErrorText() + "].");
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return false;
    }
    if (subscriptions.empty()) {
        replaceError(kNoAccessibleSubscription,
                     "Failed to find accessible subscription information for the current "
                     "instance [" +
                         vmInstance.name + "].");
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return false;
    }
    vmInstance.accessibleResGroups.clear();
    for (const std::string& subscription : subscriptions) {
        logLine(KXSO::LOG_DETAIL,
                "Going to fetch accessible resource groups from instance [%s] in subscription "
                "[%s].",
                vmInstance.name.c_str(), subscription.c_str());
        std::vector<std::string> groups;
        result = api->rest_listResourceGroups(subscription, groups);
        if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
            replaceError(result, "Failed to get accessible resource groups for instance [" +
                                     vmInstance.name + "] on subscription [" + subscription + "]" +
                                     "REST API error [" + apiErrorText() + "].");
            logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
            return false;
        }
        for (const std::string& group : groups) {
            vmInstance.accessibleResGroups.push_back({subscription, group});
        }
    }
    logLine(KXSO::LOG_INFO,
            "Found [%zu] accessible resource groups from Azure virtual machine [%s]",
            vmInstance.accessibleResGroups.size(), vmInstance.name.c_str());
    return true;
}

bool KXSnapAzureNetApp::discoverVolumeDetails() {
    if (!selfValidate() || !api) {
        return false;
    }
    KxSnapANFSnapObj& first = *firstSnapObj();
    if (!findAccessibleResourceGroups(instance)) {
        logLine(KXSO::LOG_ERROR,
                "Failed to fetch resource groups that the instance has access to.");
        setErrorDetailsForSnapObj(first);
        return false;
    }
    if (instance.accessibleResGroups.empty()) {
        replaceError(kNoAccessibleResourceGroup,
                     "Azure virtual machine [" + instance.name +
                         "] does not have access to any Azure resource group." +
                         "Please ensure that the VM has been associated with required resource "
                         "groups and adequate roles have been given to it on the resource groups." +
                         "Please check Harrowind documentation to get more information on "
                         "required roles for Azure VM.");
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        setErrorDetailsForSnapObj(first);
        return false;
    }
    const int result = api->discoverArrayVolumeDetails(snapObjs, instance.accessibleResGroups);
    if (result != ANF_API_CONST::ANF_RC_SUCCESS &&
        result != ANF_API_CONST::ANF_RC_DEVICES_NOT_RESOLVED) {
        replaceError(result, "Failed to discover volume information from Azure. REST API error : " +
                                 apiErrorText());
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        setErrorDetailsForSnapObj(first);
        return false;
    }

    // A device counts as found once its volume's file system id is known.
    std::vector<std::string> missing;
    for (auto& entry : snapObjs) {
        KxSnapANFSnapObj& snapObj = *entry.second;
        if (!snapObj.snapshotInfo.fileSystemId.empty()) {
            logLine(KXSO::LOG_DETAIL, "ANF Volume Info Dump {%s}",
                    snapObj.snapshotInfo.dump().c_str());
            continue;
        }
        resetError();
        error << "Failed to find volume information for volume [" << snapObj.devInfo.sharePath
              << "] from array ip [" << snapObj.devInfo.arrayName << "]";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        setErrorDetailsForSnapObj(snapObj);
        missing.push_back(FXString::Format(ANF_API_CONST::ANF_NFS_EXPORT_PATH_TEMPLATE,
                                           snapObj.devInfo.arrayName.c_str(),
                                           snapObj.devInfo.sharePath.c_str()));
    }
    if (!missing.empty()) {
        std::string paths;
        for (const std::string& path : missing) {
            paths += (paths.empty() ? "" : ",") + path;
        }
        resetError();
        error << "Failed to find volume information for [" << missing.size() << "] volume(s). "
              << "Volume details [" << paths << "].";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        setErrorDetailsForSnapObj(first);
        return false;
    }
    if (!updateMetadata()) {
        logLine(KXSO::LOG_ERROR, "Failed to update metadata [%s]", error.str().c_str());
        setErrorDetailsForSnapObj(first);
        return false;
    }
    return true;
}

bool KXSnapAzureNetApp::updateMetadata() {
    for (auto& entry : snapObjs) {
        KxSnapANFSnapObj& snapObj = *entry.second;
        if (!generateUUID(snapObj)) {
            return false;
        }
        logLine(KXSO::LOG_DETAIL, "Generated Snap UUID [%s]", snapObj.snapName.c_str());
        if (!setSnapMetadata(snapObj)) {
            resetError();
            error << "Failed to set snap metadata for device [" << snapObj.deviceName << "]";
            logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
            return false;
        }
        snapObj.snapInfo->setStatus(KXSO::SNAP_STATUS_PREPARED);
    }
    return true;
}
