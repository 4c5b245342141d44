// Microsoft.Compute disks and snapshots: create (copy or empty), read, list, tag, delete.
#pragma once

#include <string>

#include "HttpTypes.h"
#include "Model.h"

namespace azemu {

class Engine;
struct ArmCall;

// The SKU's canonical spelling, or "" when Compute does not offer it for that kind.
std::string canonicalSku(const std::string& sku, bool snapshot);
// Disk, snapshot and VM names: 1-80 letters, digits, '_', '.', '-'; starting with a letter or
// digit, ending with a letter, digit or '_'.
bool isValidComputeName(const std::string& name);

Json renderDisk(const DiskRecord& disk, const std::string& apiVersion);

// `kind` is "disks" or "snapshots"; an empty `name` addresses the collection.
HttpResponse handleDiskRequest(Engine& engine, const ArmCall& call, const std::string& kind,
                               const std::string& name);

void finishProvisioning(AzureState& state, AsyncOperation& op, int64_t now);
void finishDeletion(AzureState& state, AsyncOperation& op, int64_t now);

}  // namespace azemu
