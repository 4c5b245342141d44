// Clone creation and volume revert: the bodies (tags, export rules, the
// snapshot's id), the paths, and how each status and status link is judged.
#include <string>
#include <vector>

#include "AnfApiTestSupport.h"

namespace anftest {
namespace {

using cloudtest::Reply;

constexpr const char* kCloneName = "KXClone-snap-a";

class AnfCloneRevertTest : public AnfApiTest {
protected:
    void SetUp() override {
        AnfApiTest::SetUp();
        Connect();
    }
    // A work object whose clone record is ready, as map prepares it.
    AzureNetApp::KxSnapANFSnapObj CloneObj() {
        AzureNetApp::KxSnapANFSnapObj snapObj = SnapObjFor(&host_.Record(0), "snap-a");
        snapObj.snapshotInfo.snapshotId = "9760acf5-4638-11e7-9bdb-020073ca3333";
        AzureNetApp::AzureNetAppVolumeInfo& clone = snapObj.cloneVolumeInfo;
        clone.subscriptionId = kSubscription;
        clone.resourceGroupName = kResourceGroup;
        clone.netappAccountName = kAccount;
        clone.capacityPoolName = kPool;
        clone.volumeName = kCloneName;
        clone.sharePath = kCloneName;
        clone.location = "eastus";
        clone.subnetId =
            "/subscriptions/s/resourceGroups/r/providers/Microsoft.Network/"
            "virtualNetworks/v/subnets/anf";
        clone.usageThreshold = "107374182400";
        clone.protocolTypes.nfsv3 = true;
        return snapObj;
    }
    static AzureNetApp::AzureInstanceInfo Machine(
        const std::vector<std::vector<std::string>>& interfaces) {
        AzureNetApp::AzureInstanceInfo instance;
        for (const std::vector<std::string>& addresses : interfaces) {
            AzureNetApp::AzureNetworkInterface nic;
            nic.privateIPv4 = addresses;
            instance.networkInfo.interfaces.push_back(nic);
        }
        return instance;
    }
    nlohmann::json Rules(const AzureNetApp::AzureInstanceInfo& instance) {
        const AzureNetApp::KxSnapANFSnapObj snapObj = CloneObj();
        return nlohmann::json::parse(api_->buildJSONForCreateCloneReq(snapObj, instance))
            .at("properties")
            .at("exportPolicy")
            .at("rules");
    }
    static nlohmann::json Rule(int index, const std::string& clients) {
        return {{"allowedClients", clients}, {"nfsv3", true},         {"nfsv41", false},
                {"ruleIndex", index},        {"unixReadOnly", false}, {"unixReadWrite", true}};
    }
    std::string ClonePath() const { return VolumeId(kCloneName); }
    std::string RevertPath() const { return VolumeId() + "/revert"; }
};

TEST_F(AnfCloneRevertTest, CloneRequestIsATaggedVolumeFromTheSnapshot) {
    server_.OnFixed("PUT", ClonePath(), WithLink(201, server_));
    AzureNetApp::KxSnapANFSnapObj snapObj = CloneObj();
    AzureNetApp::AzureInstanceInfo instance = Machine({{"10.0.0.4"}});
    EXPECT_EQ(26, api_->rest_createClone(snapObj, instance));

    const cloudtest::SeenRequest put = ArmRequests().at(0);
    EXPECT_EQ(ClonePath() + "?api-version=2019-11-01", put.target);
    const nlohmann::json expected = {
        {"location", "eastus"},
        {"tags",
         {{"data-protection-vendor-kx", "harrowind"}, {"data-protection-feature-kx", "quillfast"}}},
        {"properties",
         {{"creationToken", kCloneName},
          {"snapshotId", "9760acf5-4638-11e7-9bdb-020073ca3333"},
          {"usageThreshold", "107374182400"},
          {"subnetId", snapObj.cloneVolumeInfo.subnetId},
          {"protocolTypes", {"NFSv3"}},
          {"exportPolicy", {{"rules", {Rule(1, "10.0.0.4")}}}}}}};
    EXPECT_EQ(expected, nlohmann::json::parse(put.body));
    EXPECT_EQ(Relative(OperationPath()) + "?api-version=2019-11-01", snapObj.asyncOpLink);
    EXPECT_TRUE(
        Logged("Initiated create volume request for clone [KXClone-snap-a] snapshot "
               "[snap-a] ANF source volume [volume1] successfully"));
    EXPECT_TRUE(Logged("Creating clone [KXClone-snap-a] of ANF device [volume1]... - done"));
}

TEST_F(AnfCloneRevertTest, ExportRulesNameEveryAddressOfTheMachineInOrder) {
    EXPECT_EQ(nlohmann::json({Rule(1, "10.0.0.4"), Rule(2, "10.1.0.4")}),
              Rules(Machine({{"10.0.0.4"}, {"10.1.0.4"}})));
    EXPECT_EQ(nlohmann::json({Rule(1, "10.0.0.4"), Rule(2, "10.0.0.5"), Rule(3, "10.1.0.4")}),
              Rules(Machine({{"10.0.0.4", "10.0.0.5"}, {"10.1.0.4"}})));
}

TEST_F(AnfCloneRevertTest, ACustomRangeReplacesTheMachinesAddressesUnlessEmpty) {
    const AzureNetApp::AzureInstanceInfo twoNics = Machine({{"10.0.0.4"}, {"10.1.0.4"}});
    {
        kxtest::ScopedSettings settings("[Ferrolink]\nsANFCustomExportPolicyIPRange=10.0.0.0/16\n");
        EXPECT_EQ(nlohmann::json({Rule(1, "10.0.0.0/16")}), Rules(twoNics));
        EXPECT_TRUE(
            Logged("Found additional setting [Ferrolink/sANFCustomExportPolicyIPRange] "
                   "with value [10.0.0.0/16], setting custom export policy rule."));
    }
    kxtest::ScopedSettings empty("[Ferrolink]\nsANFCustomExportPolicyIPRange=\n");
    EXPECT_EQ(nlohmann::json({Rule(1, "10.0.0.4"), Rule(2, "10.1.0.4")}), Rules(twoNics));
}

TEST_F(AnfCloneRevertTest, CloneAndRevertStatusTables) {
    ReplySlot slot;
    server_.On("PUT", ClonePath(), slot.Route());
    server_.On("POST", RevertPath(), slot.Route());
    struct Case {
        Reply reply;
        int expected;
    };
    const Case cases[] = {
        {{201, "{}", {}}, 0},  {WithLink(201, server_), 26}, {WithLink(202, server_), 26},
        {{202, "{}", {}}, 15}, {{200, "{}", {}}, 15},        {WithLink(200, server_), 15},
        {{204, "", {}}, 15},   {{203, "{}", {}}, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.reply.status) + (c.reply.headers.empty() ? "" : " link"));
        slot.Set(c.reply);
        AzureNetApp::AzureInstanceInfo instance = Machine({{"10.0.0.4"}});
        AzureNetApp::KxSnapANFSnapObj clone = CloneObj();
        clone.asyncOpLink = "stale";
        api_->resetRESTErr();
        EXPECT_EQ(c.expected, api_->rest_createClone(clone, instance));
        // A refused answer must leave a reason for the device's message.
        if (c.expected == 15) {
            EXPECT_FALSE(api_->getErrorString().empty());
        }
        AzureNetApp::KxSnapANFSnapObj revert = CloneObj();
        api_->resetRESTErr();
        EXPECT_EQ(c.expected, api_->rest_revertVolume(revert, instance));
        if (c.expected == 15) {
            EXPECT_FALSE(api_->getErrorString().empty());
        }
        if (c.expected == 26) {
            EXPECT_EQ(Relative(OperationPath()) + "?api-version=2019-11-01", clone.asyncOpLink);
            EXPECT_EQ(clone.asyncOpLink, revert.asyncOpLink);
        }
        if (c.expected == 0) {
            EXPECT_TRUE(clone.asyncOpLink.empty()) << "nothing left to follow";
        }
    }
    EXPECT_TRUE(
        Logged("ANF volume operation returned status code [202] (Accepted), but didn't "
               "send async operation link. Failing operation."));
    EXPECT_TRUE(
        Logged("ANF create volume operation returned invalid status code[203]. Failing "
               "operation."));
    EXPECT_TRUE(Logged("Created clone [KXClone-snap-a] of ANF device [volume1] successfully."));
    EXPECT_TRUE(Logged("Reverted volume [volume1] to snapshot [snap-a] successfully."));
    EXPECT_TRUE(
        Logged("Failed to parse response from revert volume API Response [{}] Status "
               "Code [200]"));
    EXPECT_TRUE(
        Logged("Failed to parse response from create volume API Response[] Status "
               "Code[204]"));
}

TEST_F(AnfCloneRevertTest, RefusalsCarryAzuresErrorInTheirOwnWords) {
    server_.OnFixed("PUT", ClonePath(), {400, ErrorBody("InvalidSubnet", "no such subnet"), {}});
    server_.OnFixed("POST", RevertPath(), {409, "upstream <html>", {}});
    AzureNetApp::AzureInstanceInfo instance = Machine({{"10.0.0.4"}});
    AzureNetApp::KxSnapANFSnapObj snapObj = CloneObj();
    EXPECT_EQ(15, api_->rest_createClone(snapObj, instance));
    EXPECT_EQ(
        "Creating clone failed for ANF snapshot [snap-a], clone volume name [KXClone-snap-a], "
        "source volume name [volume1]. Error returned from ANF [Azure error code : "
        "\"InvalidSubnet\", Azure error message : \"no such subnet\"]. Return code [15].",
        api_->getErrorString());
    EXPECT_EQ(15, api_->rest_revertVolume(snapObj, instance));
    EXPECT_EQ(
        "Reverting volume failed for ANF snapshot [snap-a] volume name [volume1]. Error returned "
        "from ANF [Failed to parse response as JSON. Response [upstream <html>]]. Return code "
        "[15].",
        api_->getErrorString());
}

TEST_F(AnfCloneRevertTest, RevertNamesTheSnapshotByItsResourceId) {
    server_.OnFixed("POST", RevertPath(), WithLink(202, server_));
    AzureNetApp::AzureInstanceInfo instance;
    AzureNetApp::KxSnapANFSnapObj readBack = CloneObj();
    readBack.snapshotInfo.snapRawPath = SnapshotId("snapshot1");
    AzureNetApp::KxSnapANFSnapObj fromMetadata = CloneObj();
    ASSERT_EQ(26, api_->rest_revertVolume(readBack, instance));
    ASSERT_EQ(26, api_->rest_revertVolume(fromMetadata, instance));

    const std::vector<cloudtest::SeenRequest> posts = ArmRequests();
    ASSERT_EQ(2u, posts.size());
    EXPECT_EQ(RevertPath() + "?api-version=2019-11-01", posts[0].target);
    EXPECT_EQ(ExampleParameter("netapp-2019-11-01-Volumes_Revert.json", "body"),
              nlohmann::json::parse(posts[0].body));
    EXPECT_EQ(nlohmann::json({{"snapshotId", SnapshotId("snap-a")}}),
              nlohmann::json::parse(posts[1].body));
    EXPECT_TRUE(
        Logged("Initiated revert volume request for volume [volume1] to snapshot [snap-a] "
               "successfully"));
}

}  // namespace
}  // namespace anftest
