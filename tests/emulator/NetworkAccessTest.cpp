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

TEST_F(NetworkAccessTest, NicsListTheirAddressesAndTheVolumesServedThere) {
    Json vmNics = anf("GET", groupPath() + "/providers/Microsoft.Network/networkInterfaces").json();
    ASSERT_EQ(vmNics["value"].size(), 1u);
    const Json& vmNic = vmNics["value"][0];
    EXPECT_EQ(vmNic["name"], "testvm-nic");
    EXPECT_EQ(vmNic["properties"]["ipConfigurations"][0]["properties"]["privateIPAddress"],
              "10.1.2.5");
    EXPECT_EQ(vmNic["properties"]["hostedWorkloads"], Json::array());
    EXPECT_EQ(vmNic["properties"]["virtualMachine"]["id"], emu_->vmResourceId());
    // The VM document points at the same NIC.
    EXPECT_EQ(getVm()["properties"]["networkProfile"]["networkInterfaces"][0]["id"], vmNic["id"]);

    Json anfNics =
        anf("GET", groupPathOf("net-rg") + "/providers/Microsoft.Network/networkInterfaces").json();
    std::map<std::string, Json> byAddress;
    for (const auto& nic : anfNics["value"]) {
        byAddress[nic["properties"]["ipConfigurations"][0]["properties"]["privateIPAddress"]] =
            nic["properties"]["hostedWorkloads"];
    }
    EXPECT_EQ(byAddress["10.1.3.4"], Json::array({volumeId("vol1")}));
    EXPECT_EQ(byAddress["10.1.3.5"], Json::array({volumeId("vol2")}));
    EXPECT_EQ(byAddress["10.1.3.6"].size(), 1u);  // vol3, whose group the VM cannot read
    Json one =
        anf("GET", groupPathOf("net-rg") +
                       "/providers/Microsoft.Network/networkInterfaces/anf-test-vnet-nic-10-1-3-4")
            .json();
    EXPECT_EQ(one["properties"]["hostedWorkloads"], byAddress["10.1.3.4"]);
    EXPECT_EQ(arm("GET", groupPathOf("net-rg") + "/providers/Microsoft.Network/networkInterfaces",
                  "", "2001-01-01")
                  .status,
              400);
}

// The walk the client makes for a device mounted as 10.1.3.4:/share1.
TEST_F(NetworkAccessTest, DiscoveryWalkFindsTheVolumeBehindAMountedExport) {
    const std::string address = "10.1.3.4", share = "share1";
    std::vector<std::string> pools;
    Json subscriptions = anf("GET", "subscriptions").json();
    for (const auto& sub : subscriptions["value"]) {
        std::string subId = sub["subscriptionId"];
        Json groups = anf("GET", "subscriptions/" + subId + "/resourceGroups").json();
        for (const auto& rg : groups["value"]) {
            Reply nics = anf("GET", "subscriptions/" + subId + "/resourceGroups/" +
                                        rg["name"].get<std::string>() +
                                        "/providers/Microsoft.Network/networkInterfaces");
            ASSERT_EQ(nics.status, 200) << nics.body;
            Json nicList = nics.json();
            for (const auto& nic : nicList["value"]) {
                for (const auto& config : nic["properties"]["ipConfigurations"]) {
                    if (config["properties"]["privateIPAddress"] != address)
                        continue;
                    for (const auto& workload : nic["properties"]["hostedWorkloads"]) {
                        std::string w = workload;
                        pools.push_back(w.substr(0, w.find("/volumes/")));
                    }
                }
            }
        }
    }
    ASSERT_EQ(pools.size(), 1u);
    // The pool path starts with "/": the client's URL has a doubled slash.
    Json volumes = anf("GET", pools[0] + "/volumes").json();
    int matches = 0;
    for (const auto& v : volumes["value"]) {
        if (v["properties"]["creationToken"] != share)
            continue;
        for (const auto& target : v["properties"]["mountTargets"]) {
            if (target["ipAddress"] == address) {
                ++matches;
                EXPECT_EQ(v["id"], volumeId("vol1"));
            }
        }
    }
    EXPECT_EQ(matches, 1);
}

}  // namespace
}  // namespace azemu::test
