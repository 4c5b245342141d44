// NetApp Files through Resource Manager as the plug-in's client uses it: volume reads and
// lists, snapshots and their operations, clones, reverts and deletes, with the effects on the
// emulated volumes' contents.
// Also what the identity can see: subscriptions and resource groups with a role.
#include "NetAppTestSupport.h"

namespace azemu::test {
namespace {

class NetAppVolumesTest : public NetAppTest {};

TEST_F(NetAppVolumesTest, MissingResourcesAndWrongVersionsAnswerAsResourceManagerDoes) {
    expectError(anf("GET", volumePath("ghost")), 404, "ResourceNotFound");
    expectError(anf("GET", snapshotPathOf("vol1", "ghost")), 404, "ResourceNotFound");
    Reply underMissingVolume = anf("GET", snapshotPathOf("ghost", "old-snap"));
    EXPECT_EQ(underMissingVolume.status, 404);
    EXPECT_NE(underMissingVolume.body.find("volumes/ghost"), std::string::npos);
    EXPECT_EQ(anf("GET", poolPath("anf-rg", "acct1", "nopool")).status, 404);
    EXPECT_EQ(anf("GET", poolPath("no-such-rg")).json()["error"]["code"], "ResourceGroupNotFound");

    expectError(arm("GET", volumePath("vol1"), "", "2015-01-01"), 400, "NoRegisteredProviderFound");
    EXPECT_EQ(arm("GET", volumePath("vol1"), "", "").json()["error"]["code"],
              "MissingApiVersionParameter");
}

TEST_F(NetAppVolumesTest, SnapshotDeleteIsAnOperationAndAMissingSnapshotIsAlreadyDeleted) {
    Reply deleted = anf("DELETE", snapshotPathOf("vol1", "old-snap"));
    ASSERT_EQ(deleted.status, 202) << deleted.body;
    EXPECT_FALSE(deleted.header("Location").empty());
    EXPECT_EQ(finish(deleted)["status"], "Succeeded");
    EXPECT_EQ(anf("GET", snapshotPathOf("vol1", "old-snap")).status, 404);
    EXPECT_EQ(anf("DELETE", snapshotPathOf("vol1", "old-snap")).status, 204);

    tune(&Settings::deleteMissingStatus, 404);
    expectError(anf("DELETE", snapshotPathOf("vol1", "old-snap")), 404, "ResourceNotFound");
}

TEST_F(NetAppVolumesTest, ClonesConflictOnTakenNamesAndTokensAndNeedARealSnapshot) {
    ASSERT_EQ(finish(putSnapshot("vol1", "snap-c"))["status"], "Succeeded");
    std::string guid =
        anf("GET", snapshotPathOf("vol1", "snap-c")).json()["properties"]["snapshotId"];
    ASSERT_EQ(
        finish(anf("PUT", volumePath("KXClone-c"), cloneBody("KXClone-c", guid).dump()))["status"],
        "Succeeded");

    expectError(anf("PUT", volumePath("KXClone-c"), cloneBody("KXClone-c", guid).dump()), 409,
                "Conflict");
    expectError(anf("PUT", volumePath("KXClone-d"), cloneBody("KXClone-c", guid).dump()), 409,
                "CreationTokenIsAlreadyInUse");
    Reply noSnapshot = anf("PUT", volumePath("KXClone-e"),
                           cloneBody("KXClone-e", "00000000-0000-4000-8000-000000000000").dump());
    EXPECT_EQ(noSnapshot.status, 404);
    Json tooSmall = cloneBody("KXClone-f", guid);
    tooSmall["properties"]["usageThreshold"] = "1024";
    EXPECT_EQ(anf("PUT", volumePath("KXClone-f"), tooSmall.dump()).status, 400);
    Json badName = cloneBody("1clone", guid);
    EXPECT_EQ(anf("PUT", volumePath("1clone"), badName.dump()).json()["error"]["code"],
              "InvalidResourceName");
    EXPECT_EQ(anf("PUT", volumePath("KXClone-g"), "{not json").json()["error"]["code"],
              "InvalidRequestContent");
    // Refused requests leave nothing behind.
    EXPECT_EQ(emu_->netAppVolumes().size(), 4u);
}

TEST_F(NetAppVolumesTest, CloneIntoAFullSubnetIsRefusedAndLeavesNothingBehind) {
    Json scenario = netAppScenario();
    scenario["virtualNetworks"][0]["subnets"][1]["addressPrefix"] = "10.1.3.0/29";  // .4 to .6
    restart(scenario);
    std::string guid =
        anf("GET", snapshotPathOf("vol1", "old-snap")).json()["properties"]["snapshotId"];
    Reply full = anf("PUT", volumePath("KXClone-full"), cloneBody("KXClone-full", guid).dump());
    EXPECT_EQ(full.status, 409);
    EXPECT_EQ(full.json()["error"]["code"], "SubnetIsFull");
    EXPECT_EQ(anf("GET", volumePath("KXClone-full")).status, 404);
}

TEST_F(NetAppVolumesTest, RevertPutsTheSnapshotsContentBack) {
    ASSERT_EQ(finish(putSnapshot("vol1", "snap-r"))["status"], "Succeeded");
    ASSERT_TRUE(emu_->setVolumeContent("share1", "vol1-damaged"));
    std::string snapshotId = volumeId("vol1") + "/snapshots/snap-r";

    Reply reverted =
        anf("POST", volumePath("vol1") + "/revert", Json{{"snapshotId", snapshotId}}.dump());
    ASSERT_EQ(reverted.status, 202) << reverted.body;
    Json status = finish(reverted);
    EXPECT_EQ(status["status"], "Succeeded");
    EXPECT_EQ(status["properties"]["resourceName"], volumeId("vol1"));
    const NetAppVolumeView* v = volumeView("share1");
    EXPECT_EQ(v->content, "vol1-v1");
    EXPECT_EQ(v->revertedTo, snapshotId);

    // Only a snapshot of the volume itself will do.
    Reply foreign =
        anf("POST", volumePath("vol2") + "/revert", Json{{"snapshotId", snapshotId}}.dump());
    EXPECT_EQ(foreign.status, 400);
    EXPECT_EQ(anf("POST", volumePath("vol1") + "/revert", "{}").status, 400);
    EXPECT_EQ(
        anf("POST", volumePath("vol1") + "/revert", Json{{"snapshotId", snapshotId + "x"}}.dump())
            .status,
        404);
}

TEST_F(NetAppVolumesTest, DeletingAVolumeTakesItsSnapshotsAndItsNicAlong) {
    ASSERT_EQ(finish(putSnapshot("vol1", "snap-d"))["status"], "Succeeded");
    Reply deleted = anf("DELETE", volumePath("vol1"));
    ASSERT_EQ(deleted.status, 202);
    EXPECT_EQ(finish(deleted)["status"], "Succeeded");
    EXPECT_EQ(anf("GET", volumePath("vol1")).json()["error"]["code"], "ResourceNotFound");
    EXPECT_EQ(anf("GET", snapshotPathOf("vol1", "snap-d")).status, 404);
    EXPECT_EQ(volumeView("share1"), nullptr);
    Json nics =
        anf("GET", groupPathOf("net-rg") + "/providers/Microsoft.Network/networkInterfaces").json();
    for (const auto& nic : nics["value"]) {
        EXPECT_NE(nic["properties"]["ipConfigurations"][0]["properties"]["privateIPAddress"],
                  "10.1.3.4");
    }
    // The freed address goes to the next volume made in the subnet.
    Json body = cloneBody("fresh", "", "vol2");
    body["properties"].erase("snapshotId");
    Reply fresh = anf("PUT", volumePath("fresh"), body.dump());
    ASSERT_EQ(fresh.status, 201) << fresh.body;
    EXPECT_EQ(fresh.json()["properties"]["mountTargets"][0]["ipAddress"], "10.1.3.4");
}

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
