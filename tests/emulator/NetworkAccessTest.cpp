// What the VM's identity can see (subscriptions, resource groups) and the network interfaces
// the plug-in's volume discovery walks: subscriptions, groups, NICs' hosted workloads,
// capacity pools, volumes matched by export path and mount target address.
#include "NetAppTestSupport.h"

namespace azemu::test {
namespace {

class NetworkAccessTest : public NetAppTest {
protected:
    std::vector<std::string> names(const Json& list, const char* key) {
        std::vector<std::string> out;
        for (const auto& item : list["value"])
            out.push_back(item[key]);
        return out;
    }
};

TEST_F(NetworkAccessTest, OnlySubscriptionsAndGroupsWithARoleAreListed) {
    Json subs = anf("GET", "subscriptions").json();
    EXPECT_EQ(names(subs, "subscriptionId"),
              (std::vector<std::string>{emu_->subscriptionId(), kOtherSubscription}));
    Json groups = anf("GET", "subscriptions/" + emu_->subscriptionId() + "/resourceGroups").json();
    EXPECT_EQ(names(groups, "name"), (std::vector<std::string>{"Test-RG", "anf-rg", "net-rg"}));
    Json other =
        anf("GET", std::string("subscriptions/") + kOtherSubscription + "/resourceGroups").json();
    EXPECT_EQ(names(other, "name"), std::vector<std::string>{"other-rg"});
}

TEST_F(NetworkAccessTest, RequestsWhereTheIdentityHasNoRoleAreRefused) {
    Reply hidden = anf("GET", poolPath("hidden-rg", "hiddenacct", "poolh") + "/volumes");
    EXPECT_EQ(hidden.status, 403);
    EXPECT_EQ(hidden.json()["error"]["code"], "AuthorizationFailed");
    EXPECT_NE(hidden.body.find("Microsoft.NetApp/netAppAccounts/capacityPools/volumes/read"),
              std::string::npos);
    Reply invisible =
        anf("GET", std::string("subscriptions/") + kInvisibleSubscription + "/resourceGroups");
    EXPECT_EQ(invisible.status, 403);
    Reply unknown = anf("GET", "subscriptions/00000000-0000-0000-0000-000000000000/resourceGroups");
    EXPECT_EQ(unknown.json()["error"]["code"], "SubscriptionNotFound");
    // The VM's own group and Compute are untouched by all this.
    EXPECT_EQ(arm("GET", diskPath("data0")).status, 200);
}

}  // namespace
}  // namespace azemu::test
