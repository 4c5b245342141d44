#include "NetAppOperations.h"

#include <algorithm>

#include "ArmErrors.h"
#include "ArmRouter.h"
#include "AsyncOperations.h"
#include "Engine.h"
#include "NetAppStore.h"
#include "Util.h"

namespace azemu {

namespace {

std::string operationPath(const std::string& subscription, const AsyncOperation& op) {
    return "/subscriptions/" + subscription + "/providers/" + kNetAppNamespace + "/locations/" +
           normalizeLocation(op.location) + "/operationResults/" + op.id;
}

void finishCreate(AzureState& state, AsyncOperation& op) {
    bool ok = op.outcome == "Succeeded";
    std::string state_ = ok ? "Succeeded" : "Failed";
    if (NetAppVolumeRecord* v = findById(state.netAppVolumes, op.resourceId)) {
        if (v->operationId == op.id) {
            v->provisioningState = state_;
            v->operationId.clear();
        }
    } else if (NetAppSnapshotRecord* s = findById(state.netAppSnapshots, op.resourceId)) {
        if (s->operationId == op.id) {
            s->provisioningState = state_;
            s->operationId.clear();
        }
    }
}

template <typename Record>
void finishDelete(std::map<std::string, Record>& records, AsyncOperation& op, bool& remove) {
    Record* r = findById(records, op.resourceId);
    remove = false;
    if (!r || r->operationId != op.id)
        return;
    if (op.outcome == "Succeeded") {
        remove = true;
        return;
    }
    r->deleting = false;
    r->provisioningState = "Succeeded";
    r->operationId.clear();
}

// The volume takes the snapshot's content; a snapshot deleted meanwhile fails the operation.
void finishRevert(AzureState& state, AsyncOperation& op) {
    NetAppVolumeRecord* v = findById(state.netAppVolumes, op.resourceId);
    if (v && v->operationId == op.id)
        v->operationId.clear();
    if (op.outcome != "Succeeded")
        return;
    const NetAppSnapshotRecord* s = findById(state.netAppSnapshots, op.targetId);
    if (!v || !s) {
        op.outcome = "Failed";
        op.error = {{"code", "ResourceNotFound"},
                    {"message", "The snapshot '" + op.targetId + "' to revert to was not found."}};
        return;
    }
    v->content = s->content;
    v->revertedTo = s->id;
}

}  // namespace

bool isNetAppOperation(const AsyncOperation& op) {
    return startsWithIgnoreCase(op.kind, "netapp");
}

AsyncOperation& startNetAppOperation(Engine& engine, const ArmCall& call, const std::string& kind,
                                     const std::string& resourceId, const std::string& location,
                                     int delayMs, const std::string& targetId) {
    AsyncOperation& op =
        engine.startOperationLocked(kind, resourceId, location, delayMs, call.ending);
    op.targetId = targetId;
    return op;
}

HttpResponse acceptedResponse(const Engine& engine, const ArmCall& call, const AsyncOperation& op,
                              int status, const Json& body) {
    HttpResponse response =
        body.is_null() ? HttpResponse::empty(status) : HttpResponse::json(status, body);
    std::string url = engine.armBaseUrl() + operationPath(call.path.subscription, op).substr(1) +
                      "?api-version=" + call.apiVersion;
    response.setHeader("Azure-AsyncOperation", url);
    if (status == 202) {
        response.setHeader("Location", url + "&operationResultResponseType=Location");
    }
    return response;
}

void finishNetAppOperation(AzureState& state, AsyncOperation& op, int64_t now) {
    bool remove = false;
    if (op.kind == netapp_op::kCreateVolume || op.kind == netapp_op::kCreateSnapshot) {
        finishCreate(state, op);
    } else if (op.kind == netapp_op::kDeleteSnapshot) {
        finishDelete(state.netAppSnapshots, op, remove);
        if (remove)
            state.netAppSnapshots.erase(idKey(op.resourceId));
    } else if (op.kind == netapp_op::kDeleteVolume) {
        finishDelete(state.netAppVolumes, op, remove);
        if (remove)
            removeVolume(state, op.resourceId);
    } else if (op.kind == netapp_op::kRevertVolume) {
        finishRevert(state, op);
    }
    endOperation(op, op.outcome, now);
}

Json netAppOperationDocument(const AsyncOperation& op, int64_t now) {
    std::string subscription = parseArmPath(op.resourceId).subscription;
    double percent = 100;
    if (op.status == "InProgress") {
        double span = static_cast<double>(op.dueMs - op.startMs);
        percent = op.dueMs == kNeverDue || span <= 0
                      ? 0
                      : std::min(99.0, 100.0 * static_cast<double>(now - op.startMs) / span);
    }
    Json doc = {{"id", operationPath(subscription, op)},
                {"name", op.id},
                {"status", op.status},
                {"startTime", isoTime(op.startMs)},
                {"percentComplete", percent},
                {"properties", {{"resourceName", op.resourceId}}}};
    if (op.status != "InProgress")
        doc["endTime"] = isoTime(op.endMs);
    if (op.status != "InProgress" && op.status != "Succeeded")
        doc["error"] = op.error;
    return doc;
}

HttpResponse getNetAppOperation(Engine& engine, const ArmCall& call, const std::string& location,
                                const std::string& operationId) {
    if (call.http.method != "GET")
        return methodNotAllowed(call.http.method);
    const auto& ops = engine.state().operations;
    auto it = ops.find(toLower(operationId));
    bool found = it != ops.end() && isNetAppOperation(it->second) &&
                 normalizeLocation(it->second.location) == normalizeLocation(location) &&
                 iequals(parseArmPath(it->second.resourceId).subscription, call.path.subscription);
    if (!found) {
        return armError(
            404, "NotFound",
            "The operation '" + operationId + "' was not found in location '" + location + "'.");
    }
    return HttpResponse::json(200, netAppOperationDocument(it->second, nowMs()));
}

}  // namespace azemu
