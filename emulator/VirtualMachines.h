// Microsoft.Compute virtualMachines: GET, and PUT of the whole VM. Data disks are attached and
// detached by editing properties.storageProfile.dataDisks; the change takes effect when the
// operation the PUT starts completes.
#pragma once

#include <string>
#include <vector>

#include "HttpTypes.h"
#include "Model.h"

namespace azemu {

class Engine;
struct ArmCall;

Json renderVm(const VmRecord& vm, const AzureState& state, const std::string& apiVersion);

// An empty `name` addresses the collection.
HttpResponse handleVmRequest(Engine& engine, const ArmCall& call, const std::string& name);

// Installs the VM an update operation carries (or records its failure) and returns the data
// disk devices that appear and vanish with it, for the local VM.
std::vector<DeviceEvent> finishVmUpdate(AzureState& state, AsyncOperation& op, int64_t now);

// The id of a VM other than `exceptVmId` whose pending update attaches `diskId`, or "".
std::string vmAttachingDisk(const AzureState& state, const std::string& diskId,
                            const std::string& exceptVmId);

}  // namespace azemu
