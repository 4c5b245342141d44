// Volumes: read, list per pool, create (empty, or as a clone of a snapshot), delete, revert to
// one of their snapshots, and their mount targets.
#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "ArmErrors.h"
#include "Engine.h"
#include "NetAppDocuments.h"
#include "NetAppHandlers.h"
#include "NetAppOperations.h"
#include "NetAppStore.h"
#include "Util.h"
#include "VirtualNetwork.h"

namespace azemu {

namespace {

// What a volume PUT asks for, read and checked before anything changes.
struct VolumeRequest {
    std::string location;
    std::string creationToken;
    std::string subnetId;
    std::string serviceLevel;
    int64_t usageThreshold = 0;
    std::vector<std::string> protocolTypes;
    std::optional<Json> exportRules;
    std::string snapshotReference;
    Json tags = Json::object();
};

// Quotas arrive as numbers or, from some clients, as decimal text; the service takes both.
std::optional<int64_t> readQuota(const Json& value) {
    if (value.is_number_integer())
        return value.get<int64_t>();
    if (value.is_number_float()) {
        double d = value.get<double>();
        if (d >= 0 && d == static_cast<double>(static_cast<int64_t>(d))) {
            return static_cast<int64_t>(d);
        }
        return std::nullopt;
    }
    if (!value.is_string())
        return std::nullopt;
    const std::string text = value.get<std::string>();
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    for (unsigned char c : text) {
        if (!std::isdigit(c))
            return std::nullopt;
    }
    return std::stoll(text);
}

std::optional<HttpResponse> readExportRules(const Json& policy, VolumeRequest& r) {
    if (!policy.is_object() || !policy.value("rules", Json::array()).is_array()) {
        return invalidRequestContent("exportPolicy must be an object with a rules array");
    }
    Json rules = policy.value("rules", Json::array());
    if (rules.size() > kMaxExportRules) {
        return invalidParameter(
            "An export policy holds at most " + std::to_string(kMaxExportRules) + " rules.",
            "properties.exportPolicy.rules");
    }
    std::set<int64_t> indexes;
    for (const auto& rule : rules) {
        if (!rule.is_object() || !rule.value("ruleIndex", Json()).is_number_integer() ||
            !rule.value("allowedClients", Json()).is_string()) {
            return invalidParameter("Every export rule needs a ruleIndex and allowedClients.",
                                    "properties.exportPolicy.rules");
        }
        for (const char* flag : {"unixReadOnly", "unixReadWrite", "cifs", "nfsv3", "nfsv41"}) {
            if (rule.contains(flag) && !rule[flag].is_boolean()) {
                return invalidRequestContent(std::string(flag) + " must be true or false");
            }
        }
        int64_t index = rule["ruleIndex"].get<int64_t>();
        if (index < 1 || !indexes.insert(index).second) {
            return invalidParameter("Export rule indexes must be positive and unique.",
                                    "properties.exportPolicy.rules");
        }
    }
    r.exportRules = rules;
    return std::nullopt;
}

std::optional<HttpResponse> readProtocols(const Json& props, VolumeRequest& r) {
    if (!props.contains("protocolTypes")) {
        r.protocolTypes = {"NFSv3"};
        return std::nullopt;
    }
    if (!props["protocolTypes"].is_array()) {
        return invalidRequestContent("protocolTypes must be an array");
    }
    for (const auto& p : props["protocolTypes"]) {
        std::string canonical = p.is_string() ? canonicalProtocol(p.get<std::string>()) : "";
        if (canonical.empty()) {
            return invalidParameter("Unknown protocol type " + p.dump() + ".",
                                    "properties.protocolTypes");
        }
        r.protocolTypes.push_back(canonical);
    }
    if (r.protocolTypes.empty())
        r.protocolTypes = {"NFSv3"};
    return std::nullopt;
}

std::optional<HttpResponse> readStrings(const Json& props, VolumeRequest& r) {
    for (const char* key : {"creationToken", "subnetId", "snapshotId", "serviceLevel"}) {
        if (props.contains(key) && !props[key].is_string()) {
            return invalidRequestContent(std::string(key) + " must be a string");
        }
    }
    r.creationToken = props.value("creationToken", "");
    r.subnetId = props.value("subnetId", "");
    r.snapshotReference = props.value("snapshotId", "");
    r.serviceLevel = props.value("serviceLevel", "");
    if (r.creationToken.empty())
        return missingParameter("creationToken");
    if (r.subnetId.empty())
        return missingParameter("subnetId");
    if (!isValidCreationToken(r.creationToken)) {
        return invalidParameter("The creation token '" + r.creationToken +
                                    "' is invalid: it must begin with a letter and hold only "
                                    "letters, digits and '-' (at most 80).",
                                "properties.creationToken");
    }
    return std::nullopt;
}

std::optional<HttpResponse> readVolumeRequest(const Json& body, VolumeRequest& r) {
    if (!body.contains("location")) {
        return armError(400, "LocationRequired",
                        "The location property is required for this definition.");
    }
    if (!body["location"].is_string())
        return invalidRequestContent("location must be a string");
    r.location = body["location"].get<std::string>();
    if (body.contains("tags")) {
        if (!body["tags"].is_object())
            return invalidRequestContent("tags must be an object");
        r.tags = body["tags"];
    }
    Json props = body.value("properties", Json());
    if (!props.is_object())
        return missingParameter("properties");
    if (auto bad = readStrings(props, r))
        return bad;
    if (!props.contains("usageThreshold"))
        return missingParameter("usageThreshold");
    auto quota = readQuota(props["usageThreshold"]);
    if (!quota || *quota < kMinVolumeQuota || *quota > kMaxVolumeQuota) {
        return invalidParameter("usageThreshold must be a number of bytes between " +
                                    std::to_string(kMinVolumeQuota) + " and " +
                                    std::to_string(kMaxVolumeQuota) + ".",
                                "properties.usageThreshold");
    }
    r.usageThreshold = *quota;
    if (auto bad = readProtocols(props, r))
        return bad;
    if (props.contains("exportPolicy"))
        return readExportRules(props["exportPolicy"], r);
    return std::nullopt;
}

// A PUT over an existing volume changes its quota, export policy and tags; cloning onto it
// is a conflict, as is a changed creation token or subnet.
HttpResponse updateVolume(const Engine& engine, NetAppVolumeRecord& v, const VolumeRequest& r) {
    if (!r.snapshotReference.empty()) {
        return netAppConflict("A volume named '" + v.name + "' already exists in capacity pool '" +
                              netAppResourceName(parentId(v.id)) +
                              "'; a clone needs a new volume name.");
    }
    if (v.deleting || !v.operationId.empty()) {
        return netAppConflict("The volume '" + v.name + "' is busy with another operation.");
    }
    if (r.creationToken != v.creationToken || idKey(r.subnetId) != idKey(v.subnetId)) {
        return armError(409, "PropertyChangeNotAllowed",
                        "The creation token and subnet of a volume cannot be changed.");
    }
    v.usageThreshold = r.usageThreshold;
    if (r.exportRules)
        v.exportRules = *r.exportRules;
    v.tags = r.tags;
    return HttpResponse::json(200, renderVolume(v, engine.scenario().subnets));
}

// The snapshot a clone starts from, when the request names a usable one.
std::optional<HttpResponse> findCloneSource(const AzureState& state, const VolumeRequest& r,
                                            const NetAppSnapshotRecord*& source) {
    source = nullptr;
    if (r.snapshotReference.empty())
        return std::nullopt;
    source = findSnapshotByReference(state, r.snapshotReference);
    if (!source || source->deleting) {
        return armError(404, "NotFound",
                        "The snapshot '" + r.snapshotReference + "' was not found.");
    }
    if (source->provisioningState != "Succeeded") {
        return netAppConflict("The snapshot '" + source->name + "' is not ready (" +
                              source->provisioningState + ").");
    }
    if (normalizeLocation(source->location) != normalizeLocation(r.location)) {
        return invalidParameter(
            "A clone must be in the snapshot's location '" + source->location + "'.", "location");
    }
    return std::nullopt;
}

HttpResponse putVolume(Engine& engine, const ArmCall& call, const std::string& poolId,
                       const std::string& name) {
    HttpResponse error;
    auto body = parseBodyObject(call.http, error);
    if (!body)
        return error;
    if (!checkNetAppName("volumes", name, error))
        return error;
    VolumeRequest r;
    if (auto bad = readVolumeRequest(*body, r))
        return *bad;
    AzureState& state = engine.state();
    const CapacityPoolRecord& pool = *findById(state.capacityPools, poolId);
    std::string id = childId(pool.id, "volumes", name);
    if (NetAppVolumeRecord* existing = findById(state.netAppVolumes, id)) {
        return updateVolume(engine, *existing, r);
    }
    if (normalizeLocation(r.location) != normalizeLocation(pool.location)) {
        return invalidParameter(
            "The volume must be in its capacity pool's location '" + pool.location + "'.",
            "location");
    }
    if (creationTokenInUse(state, r.creationToken)) {
        return armError(
            409, "CreationTokenIsAlreadyInUse",
            "The creation token '" + r.creationToken + "' is already in use by another volume.");
    }
    const SubnetInfo* subnet = findSubnet(engine.scenario().subnets, r.subnetId);
    if (!subnet) {
        return invalidParameter("The subnet '" + r.subnetId + "' was not found.",
                                "properties.subnetId");
    }
    const NetAppSnapshotRecord* source = nullptr;
    if (auto bad = findCloneSource(state, r, source))
        return *bad;
    auto ip = allocateAddress(state, *subnet);
    if (!ip) {
        return armError(409, "SubnetIsFull",
                        "No free address is left in subnet '" + subnet->id + "'.");
    }
    NetAppVolumeRecord v;
    v.id = id;
    v.name = name;
    v.location = pool.location;
    v.creationToken = r.creationToken;
    v.serviceLevel = r.serviceLevel.empty() ? pool.serviceLevel : r.serviceLevel;
    v.usageThreshold = r.usageThreshold;
    v.protocolTypes = r.protocolTypes;
    v.exportRules = r.exportRules ? *r.exportRules : defaultExportRules(r.protocolTypes);
    v.tags = r.tags;
    v.provisioningState = "Creating";
    v.content = source ? source->content : "";
    v.sourceSnapshotId = source ? source->id : "";
    NetAppVolumeRecord& stored = addVolume(state, *subnet, v, *ip);
    AsyncOperation& op =
        startNetAppOperation(engine, call, netapp_op::kCreateVolume, stored.id, stored.location,
                             engine.currentSettings().asyncOperationDelayMs);
    stored.operationId = op.id;
    return acceptedResponse(engine, call, op, 201, renderVolume(stored, engine.scenario().subnets));
}

// Deletes run as operations (202); the volume shows "Deleting" until it is gone, and takes its
// snapshots with it. A delete overtakes a create or revert still running: that one then
// changes nothing when it ends.
HttpResponse deleteVolume(Engine& engine, const ArmCall& call, const std::string& id) {
    AzureState& state = engine.state();
    NetAppVolumeRecord* v = findById(state.netAppVolumes, id);
    if (!v) {
        if (engine.currentSettings().deleteMissingStatus == 404)
            return netAppNotFound(id);
        return HttpResponse::empty(204);
    }
    if (v->deleting) {
        auto op = state.operations.find(toLower(v->operationId));
        if (op != state.operations.end())
            return acceptedResponse(engine, call, op->second, 202, {});
    }
    v->deleting = true;
    v->provisioningState = "Deleting";
    AsyncOperation& op = startNetAppOperation(engine, call, netapp_op::kDeleteVolume, v->id,
                                              v->location, engine.currentSettings().deleteDelayMs);
    v->operationId = op.id;
    return acceptedResponse(engine, call, op, 202, {});
}

// POST .../revert {"snapshotId": snapshot resource id (or GUID)}: the volume's content becomes
// the snapshot's when the operation succeeds.
HttpResponse revertVolume(Engine& engine, const ArmCall& call, const std::string& id) {
    if (call.http.method != "POST")
        return methodNotAllowed(call.http.method);
    HttpResponse error;
    auto body = parseBodyObject(call.http, error);
    if (!body)
        return error;
    const Json reference = body->value("snapshotId", Json());
    if (!reference.is_string() || reference.get<std::string>().empty()) {
        return missingParameter("snapshotId");
    }
    AzureState& state = engine.state();
    NetAppVolumeRecord& v = *findById(state.netAppVolumes, id);
    const NetAppSnapshotRecord* s = findSnapshotByReference(state, reference.get<std::string>());
    if (!s || s->deleting) {
        return armError(404, "ResourceNotFound",
                        "The snapshot '" + reference.get<std::string>() + "' was not found.");
    }
    if (!isBelow(s->id, v.id)) {
        return invalidParameter(
            "The snapshot '" + s->name + "' does not belong to volume '" + v.name + "'.",
            "snapshotId");
    }
    if (v.deleting || !v.operationId.empty() || v.provisioningState != "Succeeded") {
        return netAppConflict("The volume '" + v.name + "' is busy with another operation.");
    }
    if (s->provisioningState != "Succeeded") {
        return netAppConflict("The snapshot '" + s->name + "' is not ready.");
    }
    AsyncOperation& op =
        startNetAppOperation(engine, call, netapp_op::kRevertVolume, v.id, v.location,
                             engine.currentSettings().asyncOperationDelayMs, s->id);
    v.operationId = op.id;
    return acceptedResponse(engine, call, op, 202, {});
}

HttpResponse listMountTargets(const Engine& engine, const ArmCall& call,
                              const NetAppVolumeRecord& v) {
    if (call.http.method != "GET")
        return methodNotAllowed(call.http.method);
    Json items = Json::array();
    for (const auto& m : v.mountTargets) {
        items.push_back(renderMountTarget(v, m, engine.scenario().subnets));
    }
    return HttpResponse::json(200, {{"value", items}});
}

HttpResponse listVolumes(const Engine& engine, const ArmCall& call, const std::string& poolId) {
    if (call.http.method != "GET")
        return methodNotAllowed(call.http.method);
    Json items = Json::array();
    for (const auto& [key, v] : engine.state().netAppVolumes) {
        if (isBelow(v.id, poolId))
            items.push_back(renderVolume(v, engine.scenario().subnets));
    }
    return HttpResponse::json(200, {{"value", items}});
}

}  // namespace

HttpResponse handleVolumeRequest(Engine& engine, const ArmCall& call, const std::string& poolId,
                                 const std::string& name, const std::string& action) {
    if (name.empty())
        return listVolumes(engine, call, poolId);
    std::string id = childId(poolId, "volumes", name);
    const NetAppVolumeRecord* v = findById(engine.state().netAppVolumes, id);
    if (iequals(action, "revert"))
        return revertVolume(engine, call, id);
    if (iequals(action, "mountTargets"))
        return listMountTargets(engine, call, *v);
    const std::string& method = call.http.method;
    if (method == "GET") {
        return v ? HttpResponse::json(200, renderVolume(*v, engine.scenario().subnets))
                 : netAppNotFound(id);
    }
    if (method == "PUT")
        return putVolume(engine, call, poolId, name);
    if (method == "DELETE")
        return deleteVolume(engine, call, id);
    return methodNotAllowed(method);
}

}  // namespace azemu
