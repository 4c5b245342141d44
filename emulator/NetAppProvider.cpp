#include "NetAppProvider.h"

#include "ApiVersions.h"
#include "ArmErrors.h"
#include "Engine.h"
#include "NetAppDocuments.h"
#include "NetAppHandlers.h"
#include "NetAppOperations.h"
#include "NetAppStore.h"
#include "Util.h"

namespace azemu {

namespace {

// The resource path below the namespace, checked pairwise: type names in order, then names.
const char* const kLevels[] = {"netAppAccounts", "capacityPools", "volumes", "snapshots"};

bool typesMatch(const std::vector<std::string>& rest) {
    for (size_t i = 0; i < rest.size(); i += 2) {
        size_t level = i / 2;
        bool known = level < 4 && iequals(rest[i], kLevels[level]);
        // A volume's actions and sub-collections sit where snapshots would.
        bool volumeChild =
            level == 3 && (iequals(rest[i], "revert") || iequals(rest[i], "mountTargets"));
        if (!known && !volumeChild)
            return false;
    }
    return true;
}

HttpResponse unknownType(const ArmCall& call) {
    return armError(404, "InvalidResourceType",
                    "The resource type '" + call.http.path +
                        "' could not be found in the namespace 'Microsoft.NetApp' for api "
                        "version '" +
                        call.apiVersion + "'.");
}

HttpResponse listOf(Json items) {
    return HttpResponse::json(200, {{"value", std::move(items)}});
}

}  // namespace

HttpResponse NetAppProvider::handle(const ArmCall& call) {
    if (!isNetAppApiVersion(call.apiVersion)) {
        return armError(400, "NoRegisteredProviderFound",
                        "No registered resource provider found for location '" +
                            normalizeLocation(engine_.machine().location) + "' and API version '" +
                            call.apiVersion + "' for type '" +
                            (call.path.rest.empty() ? "" : call.path.rest[0]) +
                            "'. The supported api-versions are '" +
                            joinVersions(netAppApiVersions()) + "'.");
    }
    return route(call);
}

HttpResponse NetAppProvider::route(const ArmCall& call) {
    const auto& rest = call.path.rest;
    // .../providers/Microsoft.NetApp/locations/{region}/operationResults/{id}
    if (!call.path.hasResourceGroup && rest.size() == 4 && iequals(rest[0], "locations") &&
        iequals(rest[2], "operationResults")) {
        return getNetAppOperation(engine_, call, rest[1], rest[3]);
    }
    if (rest.empty() || !typesMatch(rest))
        return unknownType(call);
    if (!call.path.hasResourceGroup) {
        if (rest.size() == 1)
            return accounts(call, "");
        return unknownType(call);
    }
    auto nameAt = [&](size_t i) { return i < rest.size() ? rest[i] : std::string(); };
    std::string accountId =
        netAppAccountId(call.path.subscription, call.path.resourceGroup, nameAt(1));
    if (rest.size() <= 2)
        return accounts(call, nameAt(1));
    if (!findById(engine_.state().netAppAccounts, accountId))
        return netAppNotFound(accountId);
    std::string poolId = childId(accountId, "capacityPools", nameAt(3));
    if (rest.size() <= 4)
        return pools(call, accountId, nameAt(3));
    if (!findById(engine_.state().capacityPools, poolId))
        return netAppNotFound(poolId);
    if (rest.size() <= 6)
        return handleVolumeRequest(engine_, call, poolId, nameAt(5), "");
    std::string volumeId = childId(poolId, "volumes", nameAt(5));
    if (!findById(engine_.state().netAppVolumes, volumeId))
        return netAppNotFound(volumeId);
    if (iequals(rest[6], "snapshots")) {
        if (rest.size() > 8)
            return unknownType(call);
        return handleSnapshotRequest(engine_, call, volumeId, nameAt(7));
    }
    if (rest.size() > 7)
        return unknownType(call);
    return handleVolumeRequest(engine_, call, poolId, nameAt(5), rest[6]);
}

HttpResponse NetAppProvider::accounts(const ArmCall& call, const std::string& name) {
    if (call.http.method != "GET")
        return methodNotAllowed(call.http.method);
    const ArmPath& p = call.path;
    if (name.empty()) {
        Json items = Json::array();
        for (const auto& [key, a] : engine_.state().netAppAccounts) {
            ArmPath ap = parseArmPath(a.id);
            bool inScope = iequals(ap.subscription, p.subscription) &&
                           (!p.hasResourceGroup || iequals(ap.resourceGroup, p.resourceGroup));
            if (inScope)
                items.push_back(renderAccount(a));
        }
        return listOf(items);
    }
    std::string id = netAppAccountId(p.subscription, p.resourceGroup, name);
    const NetAppAccountRecord* a = findById(engine_.state().netAppAccounts, id);
    return a ? HttpResponse::json(200, renderAccount(*a)) : netAppNotFound(id);
}

HttpResponse NetAppProvider::pools(const ArmCall& call, const std::string& accountId,
                                   const std::string& name) {
    if (call.http.method != "GET")
        return methodNotAllowed(call.http.method);
    if (name.empty()) {
        Json items = Json::array();
        for (const auto& [key, pool] : engine_.state().capacityPools) {
            if (isBelow(pool.id, accountId))
                items.push_back(renderPool(pool));
        }
        return listOf(items);
    }
    std::string id = childId(accountId, "capacityPools", name);
    const CapacityPoolRecord* pool = findById(engine_.state().capacityPools, id);
    return pool ? HttpResponse::json(200, renderPool(*pool)) : netAppNotFound(id);
}

HttpResponse netAppNotFound(const std::string& id) {
    ArmPath p = parseArmPath(id);
    std::string path = p.providerNamespace;
    for (const auto& segment : p.rest)
        path += "/" + segment;
    return armError(404, "ResourceNotFound",
                    "The Resource '" + path + "' under resource group '" + p.resourceGroup +
                        "' was not found. For more details please go to "
                        "https://aka.ms/ARMResourceNotFoundFix");
}

HttpResponse netAppConflict(const std::string& message) {
    return armError(409, "Conflict", message);
}

bool checkNetAppName(const std::string& type, const std::string& name, HttpResponse& error) {
    if (isValidNetAppName(type, name))
        return true;
    error =
        armError(400, "InvalidResourceName",
                 "The resource name '" + name + "' is invalid for " + type +
                     ". It must begin with a letter" + (type == "snapshots" ? " or digit" : "") +
                     " and hold only letters, digits, '-' and '_'" +
                     (type == "snapshots" ? " and '.'" : "") + ".");
    return false;
}

}  // namespace azemu
