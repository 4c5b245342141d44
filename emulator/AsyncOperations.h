// Long-running Compute operations and the status documents that Azure-AsyncOperation URLs
// point at.
#pragma once

#include <string>

#include "Faults.h"
#include "HttpTypes.h"
#include "Model.h"

namespace azemu {

class Engine;
struct ArmCall;

AsyncOperation newOperation(const std::string& kind, const std::string& resourceId,
                            const std::string& location, int delayMs, const AsyncEnding& ending,
                            int64_t now);
// Sets the final status; an unsuccessful one without an error gets Compute's generic one.
void endOperation(AsyncOperation& op, const std::string& status, int64_t now);
// A newer update of the same VM takes over; the older operation ends as Azure ends it.
void preemptOperation(AsyncOperation& op, int64_t now);

// {arm}subscriptions/{sub}/providers/Microsoft.Compute/locations/{region}/operations/{id}?...
std::string operationStatusUrl(const std::string& armBaseUrl, const std::string& subscription,
                               const std::string& location, const std::string& operationId,
                               const std::string& apiVersion);
// Adds the Azure-AsyncOperation header for `op` to a response.
void addAsyncHeader(HttpResponse& response, const Engine& engine, const AsyncOperation& op,
                    const std::string& apiVersion);

Json operationStatusDocument(const AsyncOperation& op, const AzureState& state,
                             const std::string& apiVersion);
HttpResponse getOperationStatus(Engine& engine, const ArmCall& call, const std::string& location,
                                const std::string& operationId);

}  // namespace azemu
