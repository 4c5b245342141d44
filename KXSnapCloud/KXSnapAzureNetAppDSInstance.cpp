// This machine's records: instance, network and managed-identity token.
#include "KXSnapCloud/KXSnapAzureNetAppDS.h"
#include "platform/FXString.h"

namespace AzureNetApp {

void AzureNetworkInterface::clear() {
    privateIPv4.clear();
    privateIPv6.clear();
}

std::string AzureNetworkInterface::dump() const {
    std::string text = "Private IPV4 [ ";
    for (const std::string& address : privateIPv4) {
        text += address + ",";
    }
    text += "] Private IPV6 [ ";
    for (const std::string& address : privateIPv6) {
        text += address + ",";
    }
    return text + "] ";
}

void AzureVMNetworkInfo::clear() {
    interfaces.clear();
    connectedVNet.clear();
    peeredVNets.clear();
}

std::string AzureVMNetworkInfo::dump() const {
    std::string text = "[ IP Addresses{ ";
    for (const AzureNetworkInterface& networkInterface : interfaces) {
        text += " (" + networkInterface.dump() + ") ";
    }
    return text + "}, Connected VNet {" + connectedVNet + "}, Peered VNets {" +
           FXString::Join(peeredVNets, ",") + "} ]";
}

void AzureInstanceInfo::clear() {
    subscriptionId.clear();
    resourceGroupName.clear();
    location.clear();
    name.clear();
    uri.clear();
    vmId.clear();
    accessibleResGroups.clear();
    networkInfo.clear();
}

bool AzureInstanceInfo::validate() const {
    return !subscriptionId.empty() && !resourceGroupName.empty();
}

bool AzureInstanceInfo::generateUri() {
    if (subscriptionId.empty() || resourceGroupName.empty() || name.empty()) {
        return false;
    }
    uri = FXString::Format(ANF_API_CONST::ANF_URI_TEMPLATE_COMPUTE_INSTANCE, subscriptionId.c_str(),
                           resourceGroupName.c_str(), name.c_str());
    return true;
}

std::string AzureInstanceInfo::dump() const {
    std::string text = "subscriptionId : [" + subscriptionId + "] resourceGroupName : [" +
                       resourceGroupName + "] location : [" + location + "] name : [" + name +
                       "] uri : [" + uri + "] vmId : [" + vmId + "] accessibleResGroups : (" +
                       std::to_string(accessibleResGroups.size()) + ")[";
    for (const AzureEntity& group : accessibleResGroups) {
        text += "{" + group.subscriptionId + ":" + group.resourceGroupName + "}";
    }
    return text + "] networkInfo : [" + networkInfo.dump() + "]";
}

void AzureAccessInfo::clear() {
    tenantId.clear();
    clientId.clear();
    grantType.clear();
    authority.clear();
    scope.clear();
    timeoutSecs = 0;
}

void AzureAccessTokenInfo::clear() {
    AzureAccessInfo::clear();
    access_token.clear();
    expires_in.clear();
    expires_on.clear();
    resource.clear();
    token_type.clear();
    not_before.clear();
    client_id.clear();
    ext_expires_in.clear();
}

std::string AzureAccessTokenInfo::dump() const {
    return "access_token(length) : [" + std::to_string(access_token.size()) + "] expires_in : [" +
           expires_in + "] expires_on : [" + expires_on + "] resource : [" + resource +
           "] token_type : [" + token_type + "] not_before : [" + not_before + "] client_id : [" +
           client_id + "] ext_expires_in : [" + ext_expires_in + "]";
}

}  // namespace AzureNetApp
