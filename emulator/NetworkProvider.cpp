#include "NetworkProvider.h"

#include "ApiVersions.h"
#include "ArmErrors.h"
#include "Engine.h"
#include "Util.h"
#include "VirtualNetwork.h"

namespace azemu {

HttpResponse NetworkProvider::handle(const ArmCall& call) {
    const ArmPath& p = call.path;
    std::string type = p.rest.empty() ? "" : p.rest[0];
    if (!isNetworkApiVersion(call.apiVersion)) {
        return armError(400, "NoRegisteredProviderFound",
                        "No registered resource provider found for location '" +
                            normalizeLocation(engine_.machine().location) + "' and API version '" +
                            call.apiVersion + "' for type '" + type +
                            "'. The supported api-versions are '" +
                            joinVersions(networkApiVersions()) + "'.");
    }
    bool nics = iequals(type, "networkInterfaces");
    if (!nics || p.rest.size() > 2 || (!p.hasResourceGroup && p.rest.size() != 1)) {
        return armError(404, "InvalidResourceType",
                        "The resource type '" + type +
                            "' could not be found in the namespace 'Microsoft.Network' for api "
                            "version '" +
                            call.apiVersion + "'.");
    }
    if (call.http.method != "GET")
        return methodNotAllowed(call.http.method);
    const AzureState& state = engine_.state();
    if (p.rest.size() == 1) {
        Json items = Json::array();
        for (const auto& [key, nic] : state.networkInterfaces) {
            ArmPath np = parseArmPath(nic.id);
            bool inScope = iequals(np.subscription, p.subscription) &&
                           (!p.hasResourceGroup || iequals(np.resourceGroup, p.resourceGroup));
            if (inScope)
                items.push_back(renderNic(state, nic));
        }
        return HttpResponse::json(200, {{"value", items}});
    }
    std::string id = resourceGroupId(p.subscription, p.resourceGroup) +
                     "/providers/Microsoft.Network/networkInterfaces/" + p.rest[1];
    if (const NicRecord* nic = findById(state.networkInterfaces, id)) {
        return HttpResponse::json(200, renderNic(state, *nic));
    }
    return resourceNotFound("Microsoft.Network/networkInterfaces", p.rest[1], p.resourceGroup);
}

}  // namespace azemu
