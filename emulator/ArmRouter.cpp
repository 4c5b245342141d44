#include "ArmRouter.h"

#include "ArmErrors.h"
#include "Engine.h"
#include "Util.h"

namespace azemu {

namespace {

// GET of the subscription, its resource group list and one resource group.
class SubscriptionDocuments : public ArmProvider {
public:
    explicit SubscriptionDocuments(Engine& engine) : engine_(engine) {}

    HttpResponse handle(const ArmCall& call) override {
        const ArmPath& p = call.path;
        const MachineInfo& m = engine_.machine();
        if (call.http.method != "GET") {
            return armError(405, "MethodNotAllowed",
                            "The emulator does not support http method '" + call.http.method +
                                "' on this path.");
        }
        if (p.segments.size() == 2) {
            return HttpResponse::json(200, {{"id", "/subscriptions/" + m.subscriptionId},
                                            {"subscriptionId", m.subscriptionId},
                                            {"tenantId", m.tenantId},
                                            {"displayName", "Emulated subscription"},
                                            {"state", "Enabled"}});
        }
        if (p.segments.size() == 3 && iequals(p.segments[2], "resourceGroups")) {
            Json list = Json::array();
            for (const auto& rg : engine_.state().resourceGroups) list.push_back(groupDoc(rg));
            return HttpResponse::json(200, {{"value", list}});
        }
        if (p.hasResourceGroup && p.segments.size() == 4) {
            for (const auto& rg : engine_.state().resourceGroups) {
                if (iequals(rg, p.resourceGroup)) return HttpResponse::json(200, groupDoc(rg));
            }
            return armError(404, "ResourceGroupNotFound",
                            "Resource group '" + p.resourceGroup + "' could not be found.");
        }
        return armError(404, "NotFound", "No resource at '" + call.http.path + "'.");
    }

private:
    Json groupDoc(const std::string& rg) const {
        return {{"id", resourceGroupId(engine_.machine().subscriptionId, rg)},
                {"name", rg},
                {"type", "Microsoft.Resources/resourceGroups"},
                {"location", engine_.machine().location},
                {"properties", {{"provisioningState", "Succeeded"}}}};
    }
    Engine& engine_;
};

std::string expiryMessage(int64_t expired, int64_t now) {
    return "The access token expiry UTC time '" + isoTime(expired) +
           "' is earlier than current UTC time '" + isoTime(now) + "'.";
}

}  // namespace

ArmRouter::ArmRouter(Engine& engine)
    : engine_(engine), subscriptionHandler_(std::make_unique<SubscriptionDocuments>(engine)) {}

ArmRouter::~ArmRouter() = default;

void ArmRouter::addProvider(const std::string& ns, std::unique_ptr<ArmProvider> provider) {
    providers_[toLower(ns)] = std::move(provider);
}

void ArmRouter::setSubscriptionHandler(std::unique_ptr<ArmProvider> handler) {
    subscriptionHandler_ = std::move(handler);
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
    const MachineInfo& m = engine_.machine();
    if (p.subscription.empty()) {
        return armError(404, "NotFound", "No resource at '" + call.http.path + "'.");
    }
    if (!iequals(p.subscription, m.subscriptionId)) {
        return armError(404, "SubscriptionNotFound",
                        "The subscription '" + p.subscription + "' could not be found.");
    }
    if (!p.hasProvider) return subscriptionHandler_->handle(call);
    if (p.hasResourceGroup && !hasResourceGroup(engine_.state(), p.resourceGroup)) {
        return armError(404, "ResourceGroupNotFound",
                        "Resource group '" + p.resourceGroup + "' could not be found.");
    }
    auto provider = providers_.find(toLower(p.providerNamespace));
    if (provider != providers_.end()) return provider->second->handle(call);
    return genericResource(call);
}

// Resources of providers nobody registered: readable by id when something put them in the
// state, refused otherwise.
HttpResponse ArmRouter::genericResource(const ArmCall& call) {
    if (call.http.method == "GET") {
        const auto& other = engine_.state().otherResources;
        auto it = other.find(idKey(call.http.path));
        if (it != other.end()) return HttpResponse::json(200, it->second);
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
