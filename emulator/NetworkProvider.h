// Microsoft.Network as Resource Manager routes to it: network interfaces, read and listed per
// resource group or subscription. The VM's own NICs and the ones NetApp Files keeps for its
// mount targets (with hostedWorkloads naming the volumes served there).
#pragma once

#include "ArmRouter.h"

namespace azemu {

class Engine;

class NetworkProvider : public ArmProvider {
public:
    explicit NetworkProvider(Engine& engine) : engine_(engine) {}
    HttpResponse handle(const ArmCall& call) override;

private:
    Engine& engine_;
};

}  // namespace azemu
