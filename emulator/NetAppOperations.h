// NetApp Files' long-running operations: creating a volume or snapshot, deleting one,
// reverting a volume. Their status documents carry the changed resource's full id under
// properties.resourceName, which clients read the result back through.
#pragma once

#include <string>

#include "Faults.h"
#include "HttpTypes.h"
#include "Model.h"

namespace azemu {

class Engine;
struct ArmCall;

namespace netapp_op {
constexpr const char* kCreateVolume = "netappCreateVolume";
constexpr const char* kCreateSnapshot = "netappCreateSnapshot";
constexpr const char* kDeleteVolume = "netappDeleteVolume";
constexpr const char* kDeleteSnapshot = "netappDeleteSnapshot";
constexpr const char* kRevertVolume = "netappRevertVolume";
}  // namespace netapp_op

bool isNetAppOperation(const AsyncOperation& op);

// Starts an operation on `resourceId`; `targetId` is what a revert goes back to.
AsyncOperation& startNetAppOperation(Engine& engine, const ArmCall& call, const std::string& kind,
                                     const std::string& resourceId, const std::string& location,
                                     int delayMs, const std::string& targetId = "");
// Answers `status` (201 or 202) with the Azure-AsyncOperation header (and, for 202, Location)
// pointing at `op`. A null `body` gives an empty answer.
HttpResponse acceptedResponse(const Engine& engine, const ArmCall& call, const AsyncOperation& op,
                              int status, const Json& body);

// Applies the operation's outcome to the state and ends it.
void finishNetAppOperation(AzureState& state, AsyncOperation& op, int64_t now);

Json netAppOperationDocument(const AsyncOperation& op, int64_t now);
// GET .../providers/Microsoft.NetApp/locations/{location}/operationResults/{id}
HttpResponse getNetAppOperation(Engine& engine, const ArmCall& call, const std::string& location,
                                const std::string& operationId);

}  // namespace azemu
