// Resource Manager's front: authentication, api-version presence, subscription and resource
// group checks, then hand-over to the resource provider named in the path. Providers register
// here by namespace; Compute is one, others (NetApp Files, Network) plug in the same way.
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

class ArmRouter {
public:
    explicit ArmRouter(Engine& engine);
    ~ArmRouter();

    // `ns` as ARM spells it ("Microsoft.Compute"); matched without regard to case.
    void addProvider(const std::string& ns, std::unique_ptr<ArmProvider> provider);
    // Handles paths without a provider segment: /subscriptions/{id}[/resourceGroups[/{rg}]].
    // The default answers GETs of the subscription and its resource groups.
    void setSubscriptionHandler(std::unique_ptr<ArmProvider> handler);

    HttpResponse handle(const HttpRequest& request, const AsyncEnding& ending);

private:
    std::optional<HttpResponse> authenticate(const HttpRequest& request);
    HttpResponse route(const ArmCall& call);
    HttpResponse genericResource(const ArmCall& call);

    Engine& engine_;
    std::map<std::string, std::unique_ptr<ArmProvider>> providers_;  // key: lower-case namespace
    std::unique_ptr<ArmProvider> subscriptionHandler_;
};

}  // namespace azemu
