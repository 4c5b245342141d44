// This virtual machine as the instance metadata service describes it.
#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"

namespace {

constexpr const char* kInterfaceTag = "interface";
constexpr const char* kIPv4Tag = "ipv4";
constexpr const char* kIPAddressTag = "ipAddress";

}  // namespace

using ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
using ANF_API_CONST::ANF_RC_REST_CALL_FAILED;
using ANF_API_CONST::ANF_RC_SUCCESS;

int KXSnapAzureNetAppAPI::rest_getInstanceDetails(AzureNetApp::AzureInstanceInfo& instance,
                                                  int flags) {
    logLine(KXSO::LOG_DETAIL, "Start : Getting Instance Info");
    if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_GET, ANF_API_CONST::AZURE_IM_INSTANCE_INFO_ENDPOINT,
                         "", true)) {
        extractMetadataFailure();
        logLine(KXSO::LOG_ERROR, "%d-{%s}-url-[%s]", ANF_RC_REST_CALL_FAILED,
                restError.str().c_str(), requestPath.c_str());
        return ANF_RC_REST_CALL_FAILED;
    }
    const int result = processGetInstanceDetailsResp(response, instance, flags);
    if (result == ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_DETAIL, "End : Getting Instance Info");
    }
    return result;
}

int KXSnapAzureNetAppAPI::processGetInstanceDetailsResp(const std::string& instanceResponse,
                                                        AzureNetApp::AzureInstanceInfo& instance,
                                                        int flags) {
    logLine(KXSO::LOG_DETAIL, "Processing instance details - start");
    instance.clear();
    AnfJson::Value document;
    if (!AnfJson::parse(instanceResponse, document)) {
        logLine(KXSO::LOG_ERROR, "Invalid JSON object encountered [%s]", instanceResponse.c_str());
        return ANF_RC_INVALID_RESPONSE;
    }
    if (!AnfJson::has<AnfJson::Object>(document, "compute")) {
        logLine(KXSO::LOG_ERROR, "Failed to find instance compute details. [%s]",
                instanceResponse.c_str());
        return ANF_RC_INVALID_RESPONSE;
    }
    const AnfJson::Value& compute = *AnfJson::member(document, "compute");
    instance.location = AnfJson::get<AnfJson::String>(compute, "location", "");
    instance.name = AnfJson::get<AnfJson::String>(compute, "name", "");
    instance.resourceGroupName = AnfJson::get<AnfJson::String>(compute, "resourceGroupName", "");
    instance.subscriptionId = AnfJson::get<AnfJson::String>(compute, "subscriptionId", "");
    instance.vmId = AnfJson::get<AnfJson::String>(compute, "vmId", "");

    if ((flags & ANF_API_CONST::ANF_GET_INSTANCE_FLAG_EXTENDED) != 0) {
        // Only clone export rules need the addresses; their absence costs the
        // rules, not the operation.
        if (AnfJson::has<AnfJson::Object>(document, "network")) {
            const AnfJson::Value& network = *AnfJson::member(document, "network");
            if (!parseAzureInstanceNetworkInfo(network, instance)) {
                logLine(KXSO::LOG_ERROR, "Failed to parse instance network details. [%s]",
                        AnfJson::text(network).c_str());
            }
        } else {
            logLine(KXSO::LOG_ERROR, "Failed to find instance network details. [%s]",
                    instanceResponse.c_str());
        }
    }
    if (!instance.validate()) {
        logLine(KXSO::LOG_ERROR, "Failed to find instance details. [%s]", instanceResponse.c_str());
        return ANF_RC_INVALID_RESPONSE;
    }
    if (logging) {
        logLine(KXSO::LOG_INFO, "Dump of AzureInstanceInfo [%s]", instance.dump().c_str());
    }
    logLine(KXSO::LOG_DETAIL, "Processing instance details - done");
    return ANF_RC_SUCCESS;
}

bool KXSnapAzureNetAppAPI::parseAzureInstanceNetworkInfo(const AnfJson::Value& network,
                                                         AzureNetApp::AzureInstanceInfo& instance) {
    if (!AnfJson::has<AnfJson::Array>(network, kInterfaceTag)) {
        logLine(KXSO::LOG_ERROR,
                "Failed to parse instance network details, tag [%s] not found. [%s]", kInterfaceTag,
                AnfJson::text(network).c_str());
        return false;
    }
    for (const AnfJson::Value& networkInterface : *AnfJson::member(network, kInterfaceTag)) {
        if (!networkInterface.is_object()) {
            continue;
        }
        if (!parseAzureInstanceInterfaceInfo(networkInterface, instance)) {
            logLine(KXSO::LOG_ERROR, "Failed to parse network interface [%s]",
                    AnfJson::text(networkInterface).c_str());
        }
    }
    return true;
}

bool KXSnapAzureNetAppAPI::parseAzureInstanceInterfaceInfo(
    const AnfJson::Value& networkInterface, AzureNetApp::AzureInstanceInfo& instance) {
    const char* missingTag = nullptr;
    if (!AnfJson::has<AnfJson::Object>(networkInterface, kIPv4Tag)) {
        missingTag = kIPv4Tag;
    } else if (!AnfJson::has<AnfJson::Array>(*AnfJson::member(networkInterface, kIPv4Tag),
                                             kIPAddressTag)) {
        missingTag = kIPAddressTag;
    }
    if (missingTag != nullptr) {
        logLine(KXSO::LOG_ERROR,
                "Failed to parse instance network details, tag [%s] not found. [%s]", missingTag,
                AnfJson::text(networkInterface).c_str());
        return false;
    }
    const AnfJson::Value& addresses =
        *AnfJson::member(*AnfJson::member(networkInterface, kIPv4Tag), kIPAddressTag);
    AzureNetApp::AzureNetworkInterface parsed;
    for (const AnfJson::Value& address : addresses) {
        if (!address.is_object()) {
            continue;
        }
        const std::string privateAddress =
            AnfJson::get<AnfJson::String>(address, "privateIpAddress", "");
        if (privateAddress.empty()) {
            logLine(KXSO::LOG_ERROR, "Invalid IPv4 private address found : [%s] ",
                    AnfJson::text(address).c_str());
            continue;
        }
        parsed.privateIPv4.push_back(privateAddress);
    }
    if (parsed.privateIPv4.empty()) {
        return false;
    }
    instance.networkInfo.interfaces.push_back(std::move(parsed));
    return true;
}
