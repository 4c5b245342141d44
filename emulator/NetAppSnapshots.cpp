// Volume snapshots: create (capturing the volume's content at that moment), read, list,
// delete.
#include "ArmErrors.h"
#include "Engine.h"
#include "NetAppDocuments.h"
#include "NetAppHandlers.h"
#include "NetAppOperations.h"
#include "NetAppStore.h"
#include "Util.h"

namespace azemu {

namespace {

std::optional<HttpResponse> checkSnapshotBody(const Json& body, const NetAppVolumeRecord& v) {
    if (!body.contains("location")) {
        return armError(400, "LocationRequired",
                        "The location property is required for this definition.");
    }
    if (!body["location"].is_string())
        return invalidRequestContent("location must be a string");
    if (normalizeLocation(body["location"].get<std::string>()) != normalizeLocation(v.location)) {
        return invalidParameter(
            "The snapshot must be in its volume's location '" + v.location + "'.", "location");
    }
    Json props = body.value("properties", Json::object());
    if (!props.is_object())
        return invalidRequestContent("properties must be an object");
    Json fileSystemId = props.value("fileSystemId", Json(""));
    if (!fileSystemId.is_string())
        return invalidRequestContent("fileSystemId must be a string");
    std::string given = fileSystemId.get<std::string>();
    if (!given.empty() && !iequals(given, v.fileSystemId)) {
        return invalidParameter(
            "The file system id '" + given + "' is not volume '" + v.name + "''s.",
            "properties.fileSystemId");
    }
    return std::nullopt;
}

HttpResponse putSnapshot(Engine& engine, const ArmCall& call, const std::string& volumeId,
                         const std::string& name) {
    HttpResponse error;
    auto body = parseBodyObject(call.http, error);
    if (!body)
        return error;
    if (!checkNetAppName("snapshots", name, error))
        return error;
    AzureState& state = engine.state();
    const NetAppVolumeRecord& v = *findById(state.netAppVolumes, volumeId);
    if (auto bad = checkSnapshotBody(*body, v))
        return *bad;
    std::string id = childId(v.id, "snapshots", name);
    // Snapshots are immutable: asking again for one that exists changes nothing.
    if (const NetAppSnapshotRecord* existing = findById(state.netAppSnapshots, id)) {
        if (existing->deleting) {
            return netAppConflict("The snapshot '" + name + "' is being deleted.");
        }
        return HttpResponse::json(200, renderSnapshot(*existing));
    }
    if (v.deleting || v.provisioningState != "Succeeded") {
        return netAppConflict("The volume '" + v.name + "' cannot take a snapshot while " +
                              v.provisioningState + ".");
    }
    NetAppSnapshotRecord s;
    s.id = id;
    s.name = name;
    s.location = v.location;
    s.snapshotId = randomUuid();
    s.fileSystemId = v.fileSystemId;
    s.created = isoTimeSeconds(nowMs());
    s.content = v.content;
    s.provisioningState = "Creating";
    NetAppSnapshotRecord& stored = state.netAppSnapshots[idKey(id)] = s;
    AsyncOperation& op =
        startNetAppOperation(engine, call, netapp_op::kCreateSnapshot, stored.id, stored.location,
                             engine.currentSettings().asyncOperationDelayMs);
    stored.operationId = op.id;
    return acceptedResponse(engine, call, op, 201, renderSnapshot(stored));
}

HttpResponse deleteSnapshot(Engine& engine, const ArmCall& call, const std::string& id) {
    AzureState& state = engine.state();
    NetAppSnapshotRecord* s = findById(state.netAppSnapshots, id);
    if (!s) {
        if (engine.currentSettings().deleteMissingStatus == 404)
            return netAppNotFound(id);
        return HttpResponse::empty(204);
    }
    if (s->deleting) {
        auto op = state.operations.find(toLower(s->operationId));
        if (op != state.operations.end())
            return acceptedResponse(engine, call, op->second, 202, {});
    }
    s->deleting = true;
    s->provisioningState = "Deleting";
    AsyncOperation& op = startNetAppOperation(engine, call, netapp_op::kDeleteSnapshot, s->id,
                                              s->location, engine.currentSettings().deleteDelayMs);
    s->operationId = op.id;
    return acceptedResponse(engine, call, op, 202, {});
}

}  // namespace

HttpResponse handleSnapshotRequest(Engine& engine, const ArmCall& call, const std::string& volumeId,
                                   const std::string& name) {
    const std::string& method = call.http.method;
    if (name.empty()) {
        if (method != "GET")
            return methodNotAllowed(method);
        Json items = Json::array();
        for (const auto* s : snapshotsOf(engine.state(), volumeId)) {
            items.push_back(renderSnapshot(*s));
        }
        return HttpResponse::json(200, {{"value", items}});
    }
    std::string id = childId(volumeId, "snapshots", name);
    if (method == "GET") {
        const NetAppSnapshotRecord* s = findById(engine.state().netAppSnapshots, id);
        return s ? HttpResponse::json(200, renderSnapshot(*s)) : netAppNotFound(id);
    }
    if (method == "PUT")
        return putSnapshot(engine, call, volumeId, name);
    if (method == "DELETE")
        return deleteSnapshot(engine, call, id);
    return methodNotAllowed(method);
}

}  // namespace azemu
