// Clones: a new volume made from a snapshot, tagged as ours and exported only
// to this machine (or to the range an administrator configured).
#include <string>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "platform/FXString.h"
#include "platform/KXPlatformInfo.h"

namespace {

constexpr const char* kVendorTag = "data-protection-vendor-kx";
constexpr const char* kVendorTagValue = "harrowind";
constexpr const char* kFeatureTag = "data-protection-feature-kx";
constexpr const char* kFeatureTagValue = "quillfast";

AnfJson::Value ExportRule(const AzureNetApp::ProtocolTypes& protocols, int index,
                          const std::string& allowedClients) {
    AnfJson::Value rule = AnfJson::Value::object();
    AnfJson::import(rule, "nfsv3", protocols.nfsv3);
    AnfJson::import(rule, "nfsv41", protocols.nfsv41);
    AnfJson::import(rule, "ruleIndex", index);
    AnfJson::import(rule, "unixReadOnly", false);
    AnfJson::import(rule, "unixReadWrite", true);
    AnfJson::import(rule, "allowedClients", allowedClients);
    return rule;
}

}  // namespace

using ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED;
using ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
using ANF_API_CONST::ANF_RC_REST_CALL_FAILED;
using ANF_API_CONST::ANF_RC_SUCCESS;
using AzureNetApp::AzureInstanceInfo;
using AzureNetApp::KxSnapANFSnapObj;

std::string KXSnapAzureNetAppAPI::buildJSONForCreateCloneReq(const KxSnapANFSnapObj& snapObj,
                                                             const AzureInstanceInfo& instance) {
    const AzureNetApp::AzureNetAppVolumeInfo& clone = snapObj.cloneVolumeInfo;
    AnfJson::Value rules = AnfJson::Value::array();
    std::string customRange;
    if (KXPlatformInfo::getValue(KX_SETTINGS_SECTION,
                                 ANF_API_CONST::ANF_CUSTOM_EXPORTPOLICY_IP_RANGE_REGKEY,
                                 customRange) != 0 &&
        !customRange.empty()) {
        logLine(KXSO::LOG_INFO,
                "Found additional setting [%s/%s] with value [%s], setting custom export policy "
                "rule.",
                KX_SETTINGS_SECTION, ANF_API_CONST::ANF_CUSTOM_EXPORTPOLICY_IP_RANGE_REGKEY,
                customRange.c_str());
        AnfJson::import(rules, ExportRule(clone.protocolTypes, 1, customRange));
    } else {
        int index = 0;
        for (const AzureNetApp::AzureNetworkInterface& nic : instance.networkInfo.interfaces) {
            for (const std::string& address : nic.privateIPv4) {
                // An empty address would be a rule Azure refuses.
                if (!address.empty()) {
                    AnfJson::import(rules, ExportRule(clone.protocolTypes, ++index, address));
                }
            }
        }
    }
    // Without an address or a configured range the only rule left would let
    // every client write to the clone; no such clone is made.
    if (rules.empty()) {
        return "";
    }

    AnfJson::Value exportPolicy = AnfJson::Value::object();
    AnfJson::import(exportPolicy, "rules", rules);
    AnfJson::Value properties = AnfJson::Value::object();
    AnfJson::import(properties, "creationToken", clone.volumeName);
    AnfJson::import(properties, "snapshotId", snapObj.snapshotInfo.snapshotId);
    AnfJson::import(properties, "usageThreshold", clone.usageThreshold);
    AnfJson::import(properties, "subnetId", clone.subnetId);
    AnfJson::import(properties, "protocolTypes", clone.protocolTypes.createJSONArray());
    AnfJson::import(properties, "exportPolicy", exportPolicy);
    AnfJson::Value tags = AnfJson::Value::object();
    AnfJson::import(tags, kVendorTag, kVendorTagValue);
    AnfJson::import(tags, kFeatureTag, kFeatureTagValue);
    AnfJson::Value body = AnfJson::Value::object();
    AnfJson::import(body, "location", clone.location);
    AnfJson::import(body, "tags", tags);
    AnfJson::import(body, "properties", properties);
    return AnfJson::text(body);
}

int KXSnapAzureNetAppAPI::processCreateClone(int64_t code, const std::string&, std::string& link) {
    return processCreateAnswer(code, "volume", link);
}

int KXSnapAzureNetAppAPI::rest_createClone(KxSnapANFSnapObj& snapObj, AzureInstanceInfo& instance) {
    AzureNetApp::AzureNetAppVolumeInfo& clone = snapObj.cloneVolumeInfo;
    const std::string& source = snapObj.snapshotInfo.volumeName;
    const std::string device = deviceLabel(snapObj);
    const std::string body = buildJSONForCreateCloneReq(snapObj, instance);
    if (body.empty()) {
        resetRESTErr();
        error << "Refusing to create clone [" << clone.volumeName
              << "]: no export rule can be formed - the instance metadata names no private IPv4 "
                 "address of this machine and the setting ["
              << KX_SETTINGS_SECTION << "/"
              << ANF_API_CONST::ANF_CUSTOM_EXPORTPOLICY_IP_RANGE_REGKEY
              << "] is not set; a clone is never exported to every client.";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return ANF_API_CONST::ANF_RC_NO_EXPORT_RULE;
    }
    logLine(KXSO::LOG_DETAIL, "Created JSON request body : [%s]", body.c_str());
    const std::string path =
        FXString::Format(ANF_API_CONST::AZURE_REST_CREATE_VOL_ENDPOINT,
                         clone.subscriptionId.c_str(), clone.resourceGroupName.c_str(),
                         clone.netappAccountName.c_str(), clone.capacityPoolName.c_str(),
                         clone.volumeName.c_str(), ANF_API_CONST::AZURE_ANF_REST_API_VER);

    if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_PUT, path, body, false)) {
        extractErrorMessage(response, false);
        error << "Creating clone failed for ANF snapshot [" << snapObj.snapName << "], "
              << "clone volume name [" << clone.volumeName << "], "
              << "source volume name [" << source << "]. "
              << "Error returned from ANF [" << restError.str() << "]. "
              << "Return code [" << ANF_RC_REST_CALL_FAILED << "].";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return ANF_RC_REST_CALL_FAILED;
    }

    const int64_t status = lastHttpStatus();
    int result = processCreateClone(status, response, snapObj.asyncOpLink);
    if (result == ANF_RC_ASYNC_OP_ACCEPTED) {
        logLine(KXSO::LOG_INFO,
                "Initiated create volume request for clone [%s] snapshot [%s] ANF source volume "
                "[%s] successfully",
                clone.volumeName.c_str(), snapObj.snapName.c_str(), source.c_str());
    } else if (result == ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_INFO, "Created clone [%s] of ANF device [%s] successfully.",
                clone.volumeName.c_str(), device.c_str());
    } else {
        logLine(KXSO::LOG_ERROR,
                "Failed to parse response from create volume API Response[%s] Status Code[%d]",
                response.c_str(), static_cast<int>(status));
        noteRejectedAnswer("create volume", status);
        result = ANF_RC_REST_CALL_FAILED;
    }
    logLine(KXSO::LOG_DETAIL, "Creating clone [%s] of ANF device [%s]... - done",
            clone.volumeName.c_str(), device.c_str());
    return result;
}
