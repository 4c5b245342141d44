// Microsoft.Compute as Resource Manager routes to it: disks, snapshots, virtual machines and
// the status of their long-running operations.
#pragma once

#include "ArmRouter.h"

namespace azemu {

class Engine;

class ComputeProvider : public ArmProvider {
public:
    explicit ComputeProvider(Engine& engine) : engine_(engine) {}
    HttpResponse handle(const ArmCall& call) override;

private:
    Engine& engine_;
};

}  // namespace azemu
