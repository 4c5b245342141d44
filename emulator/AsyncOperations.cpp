#include "AsyncOperations.h"

#include "ArmErrors.h"
#include "ArmRouter.h"
#include "ComputeDisks.h"
#include "Engine.h"
#include "Util.h"

namespace azemu {

AsyncOperation newOperation(const std::string& kind, const std::string& resourceId,
                            const std::string& location, int delayMs, const AsyncEnding& ending,
                            int64_t now) {
    AsyncOperation op;
    op.id = randomUuid();
    op.kind = kind;
    op.resourceId = resourceId;
    op.location = location;
    op.startMs = now;
    op.dueMs = ending.kind == AsyncEnding::Never ? kNeverDue : now + delayMs;
    op.outcome = ending.kind == AsyncEnding::Fail     ? "Failed"
                 : ending.kind == AsyncEnding::Cancel ? "Canceled"
                                                      : "Succeeded";
    if (!ending.error.is_null()) op.error = ending.error;
    return op;
}

void endOperation(AsyncOperation& op, const std::string& status, int64_t now) {
    op.status = status;
    op.endMs = now;
    if (status == "Succeeded") {
        op.error = nullptr;
    } else if (op.error.is_null()) {
        op.error =
            status == "Canceled"
                ? Json{{"code", "OperationCanceled"}, {"message", "The operation was canceled."}}
                : Json{{"code", "InternalExecutionError"},
                       {"message", "An internal execution error occurred. Please retry later."}};
    }
}

void preemptOperation(AsyncOperation& op, int64_t now) {
    if (op.status != "InProgress") return;
    op.error = {{"code", "OperationPreempted"},
                {"message", "Operation execution has been preempted by a more recent operation."}};
    endOperation(op, "Canceled", now);
}

std::string operationStatusUrl(const std::string& armBaseUrl, const std::string& subscription,
                               const std::string& location, const std::string& operationId,
                               const std::string& apiVersion) {
    return armBaseUrl + "subscriptions/" + subscription +
           "/providers/Microsoft.Compute/locations/" + normalizeLocation(location) +
           "/operations/" + operationId + "?api-version=" + apiVersion;
}

void addAsyncHeader(HttpResponse& response, const Engine& engine, const AsyncOperation& op,
                    const std::string& apiVersion) {
    response.setHeader("Azure-AsyncOperation",
                       operationStatusUrl(engine.armBaseUrl(), engine.machine().subscriptionId,
                                          op.location, op.id, apiVersion));
}

Json operationStatusDocument(const AsyncOperation& op, const AzureState& state,
                             const std::string& apiVersion) {
    Json doc = {{"startTime", isoTime(op.startMs)}, {"status", op.status}, {"name", op.id}};
    if (op.status == "InProgress") return doc;
    doc["endTime"] = isoTime(op.endMs);
    if (op.status != "Succeeded") {
        doc["error"] = op.error;
    } else if (op.kind == "provision") {
        // As Compute does: a finished disk or snapshot operation carries the resource.
        if (const DiskRecord* d = findDisk(state, op.resourceId)) {
            doc["properties"] = {{"output", renderDisk(*d, apiVersion)}};
        }
    }
    return doc;
}

HttpResponse getOperationStatus(Engine& engine, const ArmCall& call, const std::string& location,
                                const std::string& operationId) {
    if (call.http.method != "GET") {
        return methodNotAllowed(call.http.method);
    }
    const auto& ops = engine.state().operations;
    auto it = ops.find(toLower(operationId));
    if (it == ops.end() || normalizeLocation(it->second.location) != normalizeLocation(location)) {
        return armError(
            404, "NotFound",
            "The operation '" + operationId + "' was not found in location '" + location + "'.");
    }
    return HttpResponse::json(200,
                              operationStatusDocument(it->second, engine.state(), call.apiVersion));
}

}  // namespace azemu
