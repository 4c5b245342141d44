// NetApp Files, Network and Resource Manager documents against the published examples: every
// member an example shows is there with the same JSON type, and so is every member the
// plug-in's client reads.
#include "ExampleShapes.h"
#include "NetAppTestSupport.h"

namespace azemu::test {
namespace {

using Differences = std::vector<std::string>;

class NetAppShapesTest : public NetAppTest {
protected:
    std::string snapshotGuid(const std::string& volume, const std::string& snapshot) {
        return anf("GET", snapshotPathOf(volume, snapshot)).json()["properties"]["snapshotId"];
    }
};

TEST_F(NetAppShapesTest, VolumesMatchTheGetListAndCreateExamples) {
    Json volume = anf("GET", volumePath("vol1")).json();
    EXPECT_EQ(differences(exampleBody("netapp-2019-11-01-Volumes_Get.json"), volume),
              Differences{});
    expectMembers(volume, {"id", "name", "location", "properties.fileSystemId",
                           "properties.creationToken", "properties.subnetId",
                           "properties.usageThreshold", "properties.mountTargets.ipAddress",
                           "properties.protocolTypes", "properties.exportPolicy.rules"});
    // The volume's mount targets carry what the mount target list shows for each.
    Json targetExample =
        exampleBody("netapp-2019-08-01-MountTargets_List.json")["value"][0]["properties"];
    for (const auto& target : volume["properties"]["mountTargets"]) {
        EXPECT_EQ(differences(targetExample, target), Differences{});
    }
    Json targets = anf("GET", volumePath("vol1") + "/mountTargets").json();
    EXPECT_EQ(differences(exampleBody("netapp-2019-08-01-MountTargets_List.json"), targets),
              Differences{});

    Json list = anf("GET", poolPath() + "/volumes").json();
    // Throughput is reported from a later api-version than the one emulated.
    EXPECT_EQ(differences(exampleBody("netapp-2020-06-01-Volumes_List.json"), list,
                          {"value[].properties.throughputMibps"}),
              Differences{});

    ASSERT_EQ(finish(putSnapshot("vol1", "shape"))["status"], "Succeeded");
    Json example = loadExample("netapp-2019-10-01-Volumes_CreateOrUpdate.json");
    Reply created = anf("PUT", volumePath("KXClone-shape"),
                        cloneBody("KXClone-shape", snapshotGuid("vol1", "shape")).dump());
    ASSERT_EQ(created.status, 201) << created.body;
    EXPECT_EQ(differences(example["responses"]["201"]["body"], created.json()), Differences{});
}

TEST_F(NetAppShapesTest, SnapshotsMatchTheGetListAndCreateExamples) {
    Reply created = putSnapshot("vol1", "shape");
    ASSERT_EQ(created.status, 201);
    Json example = loadExample("netapp-2019-10-01-Snapshots_Create.json");
    EXPECT_EQ(differences(example["responses"]["201"]["body"], created.json()), Differences{});
    finish(created);
    Json snap = anf("GET", snapshotPathOf("vol1", "shape")).json();
    EXPECT_EQ(differences(exampleBody("netapp-2019-11-01-Snapshots_Get.json"), snap),
              Differences{});
    EXPECT_EQ(differences(exampleBody("netapp-2019-11-01-Snapshots_List.json"),
                          anf("GET", volumePath("vol1") + "/snapshots").json()),
              Differences{});
    expectMembers(snap, {"id", "name", "properties.snapshotId", "properties.fileSystemId",
                         "properties.provisioningState"});
}

TEST_F(NetAppShapesTest, PoolsAndAccountsMatchTheExamples) {
    EXPECT_EQ(differences(exampleBody("netapp-2019-11-01-Pools_List.json"),
                          anf("GET", poolPath().substr(0, poolPath().rfind('/'))).json()),
              Differences{});
    Json pool = anf("GET", poolPath()).json();
    EXPECT_EQ(differences(exampleBody("netapp-2019-10-01-Pools_Get.json"), pool), Differences{});
    Json accounts =
        anf("GET", groupPathOf("anf-rg") + "/providers/Microsoft.NetApp/netAppAccounts").json();
    ASSERT_EQ(accounts["value"].size(), 1u);
    expectMembers(accounts["value"][0],
                  {"id", "name", "type", "location", "properties.provisioningState"});
}

TEST_F(NetAppShapesTest, LongRunningAnswersFollowTheExamplesAndTheAsyncContract) {
    // Revert and delete answer 202 with an empty body, as their examples do.
    ASSERT_EQ(finish(putSnapshot("vol1", "shape"))["status"], "Succeeded");
    Reply reverted = anf("POST", volumePath("vol1") + "/revert",
                         Json{{"snapshotId", volumeId("vol1") + "/snapshots/shape"}}.dump());
    EXPECT_TRUE(loadExample("netapp-2019-11-01-Volumes_Revert.json")["responses"].contains(
        std::to_string(reverted.status)));
    EXPECT_EQ(reverted.body, "");
    Json status = finish(reverted);
    // The operation resource of the asynchronous-operation contract.
    expectMembers(status, {"id", "name", "status", "startTime", "endTime", "percentComplete",
                           "properties.resourceName"});
    EXPECT_EQ(status["id"].get<std::string>().rfind("/subscriptions/", 0), 0u);

    Reply deleted = anf("DELETE", snapshotPathOf("vol1", "shape"));
    EXPECT_TRUE(loadExample("netapp-2019-11-01-Snapshots_Delete.json")["responses"].contains(
        std::to_string(deleted.status)));
    Reply volumeDeleted = anf("DELETE", volumePath("vol2"));
    EXPECT_TRUE(loadExample("netapp-2019-08-01-Volumes_Delete.json")["responses"].contains(
        std::to_string(volumeDeleted.status)));
}

TEST_F(NetAppShapesTest, NicsMatchTheNetworkExamples) {
    std::set<std::string> notModelled = {
        "properties.networkSecurityGroup", "properties.dnsSettings.internalDomainNameSuffix",
        "properties.ipConfigurations[].properties.publicIPAddress"};
    Json vmNic =
        anf("GET", groupPath() + "/providers/Microsoft.Network/networkInterfaces/testvm-nic")
            .json();
    EXPECT_EQ(differences(exampleBody("network-2019-11-01-NetworkInterfaces_Get.json"), vmNic,
                          notModelled),
              Differences{});
    // NetApp Files' NICs are like the list example's second one: no VM, no MAC address.
    Json example = exampleBody("network-2019-11-01-NetworkInterfaces_List.json");
    Json anfNics =
        anf("GET", groupPathOf("net-rg") + "/providers/Microsoft.Network/networkInterfaces").json();
    ASSERT_EQ(anfNics["value"].size(), 3u);
    Json expected = {{"value", Json::array({example["value"][1]})}};
    EXPECT_EQ(differences(expected, anfNics,
                          {"value[].properties.ipConfigurations[].properties."
                           "publicIPAddress"}),
              Differences{});
    expectMembers(anfNics["value"][0], {"properties.ipConfigurations.properties.privateIPAddress",
                                        "properties.hostedWorkloads"});
}

TEST_F(NetAppShapesTest, SubscriptionsAndGroupsMatchTheResourceExamples) {
    Json subs = anf("GET", "subscriptions").json();
    EXPECT_EQ(differences(exampleBody("resources-2019-11-01-Subscriptions_List.json"), subs,
                          {"nextLink", "value[].managedByTenants"}),
              Differences{});
    Json groups = anf("GET", "subscriptions/" + emu_->subscriptionId() + "/resourceGroups").json();
    Json group = exampleBody("resources-2020-06-01-ResourceGroups_CreateOrUpdate.json");
    for (const auto& g : groups["value"])
        EXPECT_EQ(differences(group, g), Differences{});
}

}  // namespace
}  // namespace azemu::test
