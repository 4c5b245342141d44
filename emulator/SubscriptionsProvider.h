// Resource Manager's own documents: the subscriptions the VM's identity can see, one
// subscription, its resource groups and one group. Only what the identity has a role on is
// listed; ArmRouter refuses requests into the rest before they get here.
#pragma once

#include "ArmRouter.h"

namespace azemu {

class Engine;

class SubscriptionsProvider : public ArmProvider {
public:
    explicit SubscriptionsProvider(Engine& engine) : engine_(engine) {}
    // GET /subscriptions/{id}[/resourceGroups[/{rg}]]
    HttpResponse handle(const ArmCall& call) override;
    // GET /subscriptions
    HttpResponse listSubscriptions(const ArmCall& call);

private:
    Json subscriptionDoc(const std::string& id) const;
    Json groupDoc(const std::string& subscription, const std::string& group) const;
    Engine& engine_;
};

}  // namespace azemu
