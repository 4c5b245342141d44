#include "ArmRouter.h"

#include "ArmErrors.h"
#include "Engine.h"
#include "SubscriptionsProvider.h"
#include "Util.h"

namespace azemu {

namespace {

std::string expiryMessage(int64_t expired, int64_t now) {
    return "The access token expiry UTC time '" + isoTime(expired) +
           "' is earlier than current UTC time '" + isoTime(now) + "'.";
}

// What an identity without a role on the scope is told, whatever the resource.
HttpResponse authorizationFailed(const ArmCall& call, const std::string& scope,
                                 const std::string& objectId) {
    const ArmPath& p = call.path;
    std::string action = p.hasProvider ? p.providerNamespace : "Microsoft.Resources/subscriptions";
    for (size_t i = 0; p.hasProvider && i < p.rest.size(); i += 2)
        action += "/" + p.rest[i];
    if (!p.hasProvider && p.hasResourceGroup)
        action += "/resourceGroups";
    std::string verb = call.http.method == "GET"      ? "read"
                       : call.http.method == "DELETE" ? "delete"
                       : call.http.method == "POST"   ? "action"
                                                      : "write";
    return armError(403, "AuthorizationFailed",
                    "The client '" + objectId + "' with object id '" + objectId +
                        "' does not have authorization to perform action '" + action + "/" + verb +
                        "' over scope '" + scope +
                        "' or the scope is invalid. If access was recently granted, please "
                        "refresh your credentials.");
}

}  // namespace

ArmRouter::ArmRouter(Engine& engine)
    : engine_(engine), subscriptionHandler_(std::make_unique<SubscriptionsProvider>(engine)) {}

ArmRouter::~ArmRouter() = default;

void ArmRouter::addProvider(const std::string& ns, std::unique_ptr<ArmProvider> provider) {
    providers_[toLower(ns)] = std::move(provider);
}

std::optional<HttpResponse> ArmRouter::authenticate(const HttpRequest& request) {
    std::string auth = trim(request.header("Authorization"));
    std::optional<HttpResponse> denied;
    if (auth.empty()) {
        denied = armError(401, "AuthenticationFailed",
                          "Authentication failed. The 'Authorization' header is missing.");
    } else if (!startsWithIgnoreCase(auth, "Bearer ") || trim(auth.substr(7)).empty()) {
        denied = armError(401, "AuthenticationFailed",
                          "Authentication failed. The 'Authorization' header is provided in an "
                          "invalid format.");
    } else {
        std::string token = trim(auth.substr(7));
        int64_t now = nowMs();
        int64_t expires = 0;
        switch (engine_.tokens().check(token, now, &expires)) {
            case TokenCheck::Valid:
                return std::nullopt;
            case TokenCheck::Expired:
                denied = armError(401, "ExpiredAuthenticationToken", expiryMessage(expires, now));
                break;
            case TokenCheck::Unknown:
                denied =
                    armError(401, "InvalidAuthenticationToken", "The access token is invalid.");
                break;
        }
    }
    denied->setHeader("WWW-Authenticate", "Bearer error=\"invalid_token\"");
    return denied;
}

HttpResponse ArmRouter::handle(const HttpRequest& request, const AsyncEnding& ending) {
    auto lock = engine_.lock();
    engine_.advanceLocked();
    HttpResponse response;
    if (auto denied = authenticate(request)) {
        response = *denied;
    } else if (!request.hasQuery("api-version")) {
        response = armError(400, "MissingApiVersionParameter",
                            "The api-version query parameter (?api-version=) is required for all "
                            "requests.");
    } else {
        ArmCall call{request, parseArmPath(request.path), request.queryValue("api-version"),
                     ending};
        response = route(call);
        if (request.method != "GET") {
            // An operation asked to finish at once has finished before the client hears back.
            engine_.advanceLocked();
            engine_.changedLocked();
        }
    }
    response.setHeader("x-ms-request-id", randomUuid());
    std::string correlation = request.header("x-ms-correlation-request-id");
    response.setHeader("x-ms-correlation-request-id",
                       correlation.empty() ? randomUuid() : correlation);
    return response;
}

HttpResponse ArmRouter::route(const ArmCall& call) {
    const ArmPath& p = call.path;
    if (p.subscription.empty()) {
        if (p.segments.size() == 1 && iequals(p.segments[0], "subscriptions")) {
            return subscriptionHandler_->listSubscriptions(call);
        }
        return armError(404, "NotFound", "No resource at '" + call.http.path + "'.");
    }
    if (auto refused = checkScope(call))
        return *refused;
    if (!p.hasProvider)
        return subscriptionHandler_->handle(call);
    // Compute is emulated in the VM's own subscription only.
    bool ownSubscription = iequals(p.subscription, engine_.machine().subscriptionId);
    auto provider = providers_.find(toLower(p.providerNamespace));
    bool computeElsewhere = !ownSubscription && iequals(p.providerNamespace, "Microsoft.Compute");
    if (provider != providers_.end() && !computeElsewhere)
        return provider->second->handle(call);
    return genericResource(call);
}

// The subscription and resource group in the path exist and the VM's identity has a role
// there; otherwise Resource Manager's answer.
std::optional<HttpResponse> ArmRouter::checkScope(const ArmCall& call) {
    const ArmPath& p = call.path;
    const SubscriptionInfo* sub = findSubscription(engine_.scenario(), p.subscription);
    if (!sub) {
        return armError(404, "SubscriptionNotFound",
                        "The subscription '" + p.subscription + "' could not be found.");
    }
    const std::string& objectId = engine_.machine().objectId;
    if (!sub->visible) {
        return authorizationFailed(call, "/subscriptions/" + p.subscription, objectId);
    }
    if (!p.hasResourceGroup)
        return std::nullopt;
    const ResourceGroupInfo* rg = findResourceGroup(*sub, p.resourceGroup);
    if (!rg) {
        return armError(404, "ResourceGroupNotFound",
                        "Resource group '" + p.resourceGroup + "' could not be found.");
    }
    if (!rg->visible) {
        return authorizationFailed(call, resourceGroupId(p.subscription, p.resourceGroup),
                                   objectId);
    }
    return std::nullopt;
}

// Resources of providers nobody registered: readable by id when something put them in the
// state, refused otherwise.
HttpResponse ArmRouter::genericResource(const ArmCall& call) {
    if (call.http.method == "GET") {
        const auto& other = engine_.state().otherResources;
        auto it = other.find(idKey(call.http.path));
        if (it != other.end())
            return HttpResponse::json(200, it->second);
        const ArmPath& p = call.path;
        return resourceNotFound(p.providerNamespace + (p.rest.empty() ? "" : "/" + p.rest[0]),
                                p.rest.size() > 1 ? p.rest[1] : "", p.resourceGroup);
    }
    return armError(400, "NoRegisteredProviderFound",
                    "No registered resource provider found for namespace '" +
                        call.path.providerNamespace + "' and API version '" + call.apiVersion +
                        "'.");
}

}  // namespace azemu
