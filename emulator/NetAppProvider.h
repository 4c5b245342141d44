// Microsoft.NetApp as Resource Manager routes to it: accounts and capacity pools (read),
// volumes (read, list, create empty or as a clone of a snapshot, delete, revert), snapshots
// (create, read, list, delete) and the status of their long-running operations.
#pragma once

#include "ArmRouter.h"

namespace azemu {

class Engine;

class NetAppProvider : public ArmProvider {
public:
    explicit NetAppProvider(Engine& engine) : engine_(engine) {}
    HttpResponse handle(const ArmCall& call) override;

private:
    HttpResponse route(const ArmCall& call);
    HttpResponse accounts(const ArmCall& call, const std::string& name);
    HttpResponse pools(const ArmCall& call, const std::string& accountId, const std::string& name);
    Engine& engine_;
};

}  // namespace azemu
