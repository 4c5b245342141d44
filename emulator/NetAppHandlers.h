// Request handlers behind NetAppProvider, one file per resource kind. Called with the engine
// locked, after the api-version check and once the parent resource is known to exist.
#pragma once

#include <string>

#include "ArmRouter.h"

namespace azemu {

class Engine;

// `name` empty: the pool's volume list. `action`: "" for the volume itself, "revert" or
// "mountTargets".
HttpResponse handleVolumeRequest(Engine& engine, const ArmCall& call, const std::string& poolId,
                                 const std::string& name, const std::string& action);
// `name` empty: the volume's snapshot list.
HttpResponse handleSnapshotRequest(Engine& engine, const ArmCall& call, const std::string& volumeId,
                                   const std::string& name);

// 404 ResourceNotFound naming the resource `id` (the first of its chain that is missing).
HttpResponse netAppNotFound(const std::string& id);
HttpResponse netAppConflict(const std::string& message);
// The name rules of the service, as a 400 InvalidResourceName when broken.
bool checkNetAppName(const std::string& type, const std::string& name, HttpResponse& error);

}  // namespace azemu
