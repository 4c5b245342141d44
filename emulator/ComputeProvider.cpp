#include "ComputeProvider.h"

#include "ApiVersions.h"
#include "ArmErrors.h"
#include "AsyncOperations.h"
#include "ComputeDisks.h"
#include "Engine.h"
#include "Util.h"
#include "VirtualMachines.h"

namespace azemu {

namespace {

std::string supportedVersions() {
    std::string out;
    for (const auto& v : computeApiVersions()) out += (out.empty() ? "" : ", ") + v;
    return out;
}

HttpResponse unknownType(const std::string& type, const std::string& api) {
    return armError(404, "InvalidResourceType",
                    "The resource type '" + type +
                        "' could not be found in the namespace 'Microsoft.Compute' for api "
                        "version '" +
                        api + "'.");
}

}  // namespace

HttpResponse ComputeProvider::handle(const ArmCall& call) {
    const auto& rest = call.path.rest;
    std::string type = rest.empty() ? "" : rest[0];
    if (!isComputeApiVersion(call.apiVersion)) {
        return armError(400, "NoRegisteredProviderFound",
                        "No registered resource provider found for location '" +
                            normalizeLocation(engine_.machine().location) + "' and API version '" +
                            call.apiVersion + "' for type '" + type +
                            "'. The supported api-versions are '" + supportedVersions() + "'.");
    }
    // .../providers/Microsoft.Compute/locations/{region}/operations/{id}
    if (!call.path.hasResourceGroup && rest.size() == 4 && iequals(rest[0], "locations") &&
        iequals(rest[2], "operations")) {
        return getOperationStatus(engine_, call, rest[1], rest[3]);
    }
    if (rest.empty() || rest.size() > 2 || (!call.path.hasResourceGroup && rest.size() != 1)) {
        return unknownType(call.http.path, call.apiVersion);
    }
    std::string name = rest.size() == 2 ? rest[1] : "";
    if (iequals(type, "disks")) return handleDiskRequest(engine_, call, "disks", name);
    if (iequals(type, "snapshots")) return handleDiskRequest(engine_, call, "snapshots", name);
    if (iequals(type, "virtualMachines")) return handleVmRequest(engine_, call, name);
    return unknownType(type, call.apiVersion);
}

}  // namespace azemu
