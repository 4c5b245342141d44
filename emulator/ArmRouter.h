// Resource Manager's front: authentication, api-version presence, subscription and resource
// group checks (existence and the VM identity's access), then hand-over to the resource
// provider named in the path. Providers register here by namespace: Compute, NetApp Files and
// Network.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "ArmPath.h"
#include "Faults.h"
#include "HttpTypes.h"

namespace azemu {

class Engine;

struct ArmCall {
    const HttpRequest& http;
    ArmPath path;
    std::string apiVersion;
    AsyncEnding ending;  // how an operation this request starts is to end
};

class ArmProvider {
public:
    virtual ~ArmProvider() = default;
    // Called with the engine locked, after authentication and the subscription check; for
    // paths under a resource group, after checking that the group exists. The provider checks
    // the api-version itself, since each provider has its own list.
    virtual HttpResponse handle(const ArmCall& call) = 0;
};

class SubscriptionsProvider;

class ArmRouter {
public:
    explicit ArmRouter(Engine& engine);
    ~ArmRouter();

    // `ns` as ARM spells it ("Microsoft.Compute"); matched without regard to case.
    void addProvider(const std::string& ns, std::unique_ptr<ArmProvider> provider);

    HttpResponse handle(const HttpRequest& request, const AsyncEnding& ending);

private:
    std::optional<HttpResponse> authenticate(const HttpRequest& request);
    HttpResponse route(const ArmCall& call);
    std::optional<HttpResponse> checkScope(const ArmCall& call);
    HttpResponse genericResource(const ArmCall& call);

    Engine& engine_;
    std::map<std::string, std::unique_ptr<ArmProvider>> providers_;  // key: lower-case namespace
    // Paths without a provider segment: /subscriptions[/{id}[/resourceGroups[/{rg}]]].
    std::unique_ptr<SubscriptionsProvider> subscriptionHandler_;
};

}  // namespace azemu
