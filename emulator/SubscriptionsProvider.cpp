#include "SubscriptionsProvider.h"

#include "ArmErrors.h"
#include "Engine.h"
#include "Util.h"

namespace azemu {

namespace {

HttpResponse notGet(const ArmCall& call) {
    return armError(
        405, "MethodNotAllowed",
        "The emulator does not support http method '" + call.http.method + "' on this path.");
}

}  // namespace

Json SubscriptionsProvider::subscriptionDoc(const std::string& id) const {
    const SubscriptionInfo* sub = findSubscription(engine_.scenario(), id);
    const MachineInfo& m = engine_.machine();
    return {{"id", "/subscriptions/" + sub->subscriptionId},
            {"subscriptionId", sub->subscriptionId},
            {"tenantId", m.tenantId},
            {"displayName", sub->displayName},
            {"state", "Enabled"},
            {"subscriptionPolicies",
             {{"locationPlacementId", "Public_2014-09-01"},
              {"quotaId", "PayAsYouGo_2014-09-01"},
              {"spendingLimit", "Off"}}},
            {"authorizationSource", "RoleBased"},
            {"managedByTenants", Json::array()}};
}

Json SubscriptionsProvider::groupDoc(const std::string& subscription,
                                     const std::string& group) const {
    return {{"id", resourceGroupId(subscription, group)},
            {"name", group},
            {"type", "Microsoft.Resources/resourceGroups"},
            {"location", engine_.machine().location},
            {"properties", {{"provisioningState", "Succeeded"}}}};
}

HttpResponse SubscriptionsProvider::listSubscriptions(const ArmCall& call) {
    if (call.http.method != "GET")
        return notGet(call);
    Json value = Json::array();
    for (const auto& sub : engine_.scenario().subscriptions) {
        if (sub.visible)
            value.push_back(subscriptionDoc(sub.subscriptionId));
    }
    return HttpResponse::json(200, {{"value", value}});
}

HttpResponse SubscriptionsProvider::handle(const ArmCall& call) {
    const ArmPath& p = call.path;
    if (call.http.method != "GET")
        return notGet(call);
    const SubscriptionInfo* sub = findSubscription(engine_.scenario(), p.subscription);
    if (!sub) {
        return armError(404, "SubscriptionNotFound",
                        "The subscription '" + p.subscription + "' could not be found.");
    }
    if (p.segments.size() == 2)
        return HttpResponse::json(200, subscriptionDoc(p.subscription));
    if (p.segments.size() == 3 && iequals(p.segments[2], "resourceGroups")) {
        Json list = Json::array();
        for (const auto& rg : sub->resourceGroups) {
            if (rg.visible)
                list.push_back(groupDoc(sub->subscriptionId, rg.name));
        }
        return HttpResponse::json(200, {{"value", list}});
    }
    if (p.hasResourceGroup && p.segments.size() == 4) {
        // ArmRouter has checked that the group exists and may be seen.
        const ResourceGroupInfo* rg = findResourceGroup(*sub, p.resourceGroup);
        return HttpResponse::json(200, groupDoc(sub->subscriptionId, rg->name));
    }
    return armError(404, "NotFound", "No resource at '" + call.http.path + "'.");
}

}  // namespace azemu
