// Volume read and delete: the volume record filled from an answer (quota
// text, mount targets, protocols), answers that are not a volume, the
// not-found rule of reads and the delete status table.
#include <string>
#include <vector>

#include "AnfApiTestSupport.h"

namespace anftest {
namespace {

using cloudtest::Reply;

constexpr const char* kVolumeExample = "netapp-2019-11-01-Volumes_Get.json";

class AnfVolumeOpsTest : public AnfApiTest {
protected:
    void SetUp() override {
        AnfApiTest::SetUp();
        Connect();
        server_.On("GET", VolumeId(), volumeAnswer_.Route());
    }
    AzureNetApp::AzureNetAppVolumeInfo Coordinates() const {
        AzureNetApp::AzureNetAppVolumeInfo volume;
        volume.subscriptionId = kSubscription;
        volume.resourceGroupName = kResourceGroup;
        volume.netappAccountName = kAccount;
        volume.capacityPoolName = kPool;
        volume.volumeName = kVolume;
        return volume;
    }
    // Reads the volume answered with `document`.
    int Read(const std::string& document, AzureNetApp::AzureNetAppVolumeInfo& volume,
             bool extended = true) {
        volumeAnswer_.Set({200, document, {}});
        return api_->rest_getVolumeInfo(volume, extended);
    }

    ReplySlot volumeAnswer_;
};

TEST_F(AnfVolumeOpsTest, ExtendedReadFillsTheWholeRecord) {
    AzureNetApp::AzureNetAppVolumeInfo volume = Coordinates();
    // A clone record starts as a copy of its source: the source's address
    // must not survive the read of the clone.
    volume.mountTargets.push_back({"10.9.9.9"});
    nlohmann::json document = VolumeDocument(kVolume, "share-1", {"10.0.0.4", "10.0.0.5"});
    document["properties"]["protocolTypes"] = {"nfsv3", "NFSv4.1"};

    ASSERT_EQ(0, Read(document.dump(), volume));
    EXPECT_EQ(VolumeId() + "?api-version=2019-11-01", ArmRequests().at(0).target);
    EXPECT_EQ(VolumeId(), volume.rawPath);
    EXPECT_EQ("account1/pool1/volume1", volume.rawName);
    EXPECT_EQ("eastus", volume.location);
    EXPECT_EQ("share-1", volume.sharePath);
    EXPECT_EQ("9760acf5-4638-11e7-9bdb-020073ca7778", volume.fileSystemId);
    EXPECT_EQ(kSubscription, volume.subscriptionId);
    EXPECT_EQ(kPool, volume.capacityPoolName);
    EXPECT_EQ("107374182400", volume.usageThreshold);
    EXPECT_NE(std::string::npos, volume.subnetId.find("/subnets/testsubnet3"));
    ASSERT_EQ(2u, volume.mountTargets.size());
    EXPECT_EQ("10.0.0.4", volume.mountTargets[0].ipAddress);
    EXPECT_EQ("10.0.0.5", volume.mountTargets[1].ipAddress);
    EXPECT_TRUE(volume.protocolTypes.nfsv3);
    EXPECT_TRUE(volume.protocolTypes.nfsv41);
    EXPECT_FALSE(volume.protocolTypes.smb);
}

TEST_F(AnfVolumeOpsTest, QuotaTextDefaultsToOneHundredGibibytesAndNeverHasDecimals) {
    const std::pair<nlohmann::json, std::string> cases[] = {
        {nullptr, "107374182400"},  // absent
        {1099511627776LL, "1099511627776"},
        {4398046511104.0, "4398046511104"},
        {"1099511627776", "107374182400"},  // not a number: as if absent
        {0, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.dump());
        nlohmann::json document = VolumeDocument(kVolume, "share-1", {"10.0.0.4"});
        if (c.first.is_null()) {
            document["properties"].erase("usageThreshold");
        } else {
            document["properties"]["usageThreshold"] = c.first;
        }
        AzureNetApp::AzureNetAppVolumeInfo volume = Coordinates();
        ASSERT_EQ(0, Read(document.dump(), volume));
        EXPECT_EQ(c.second, volume.usageThreshold);
    }
}

TEST_F(AnfVolumeOpsTest, PlainReadNeedsNoMountTargetsButExtendedDoes) {
    const std::string example = ExampleBody(kVolumeExample, "200").dump();
    AzureNetApp::AzureNetAppVolumeInfo plain = Coordinates();
    EXPECT_EQ(0, Read(example, plain, false));
    EXPECT_EQ("some-amazing-filepath", plain.sharePath);
    EXPECT_TRUE(plain.usageThreshold.empty());

    AzureNetApp::AzureNetAppVolumeInfo extended = Coordinates();
    EXPECT_EQ(14, Read(example, extended, true));
    EXPECT_TRUE(Logged("Failed to find tag [mountTargets] in volume/properties json object"));
    EXPECT_TRUE(extended.rawPath.empty()) << "a failed read leaves no half-filled record";
    EXPECT_NE(std::string::npos,
              api_->getErrorString().find("Failed to parse volume details from JSON response ["));
}

TEST_F(AnfVolumeOpsTest, AnswersThatAreNotAVolumeGiveTheirCodes) {
    const nlohmann::json good = VolumeDocument(kVolume, "share-1", {"10.0.0.4"});
    auto with = [&](const std::string& pointer, const nlohmann::json& value) {
        nlohmann::json document = good;
        document[nlohmann::json::json_pointer(pointer)] = value;
        return document.dump();
    };
    const std::string text = good.dump();
    const std::pair<std::string, int> cases[] = {
        {"", 15},
        {"<html>", 15},
        {text.substr(0, text.size() - 10), 15},
        {"[1,2]", 15},
        {with("/id", 7), 14},
        {with("/id", "/subscriptions/s/resourceGroups/r/providers/Microsoft.Compute/disks/d"), 14},
        {with("/name", nlohmann::json::array()), 14},
        {with("/location", nullptr), 14},
        {with("/properties", "text"), 14},
        {with("/properties/creationToken", 5), 14},
        {with("/properties/fileSystemId", nullptr), 14},
        {with("/properties/mountTargets", nlohmann::json::object()), 14},
        {with("/properties/protocolTypes", {"CIFS"}), 14},
        {with("/properties/protocolTypes", "NFSv3"), 14},
        {with("/properties/mountTargets", {1, "x", nullptr}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        AzureNetApp::AzureNetAppVolumeInfo volume = Coordinates();
        EXPECT_EQ(c.second, Read(c.first, volume));
    }
    EXPECT_TRUE(Logged("Failed to parse info from volume uri ["));
    EXPECT_TRUE(Logged("Failed to parse protocol types from response [[\"CIFS\"]]"));
}

TEST_F(AnfVolumeOpsTest, OnlyResourceNotFoundMakesAMissingVolume) {
    const std::pair<Reply, int> cases[] = {
        {{404, ErrorBody("ResourceNotFound"), {}}, 18}, {{404, ErrorBody("NotFound"), {}}, 15},
        {{404, ErrorBody("resourcenotfound"), {}}, 15}, {{404, "", {}}, 15},
        {{400, ErrorBody("ResourceNotFound"), {}}, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.body);
        volumeAnswer_.Set(c.first);
        AzureNetApp::AzureNetAppVolumeInfo volume = Coordinates();
        EXPECT_EQ(c.second, api_->rest_getCloneInfo(volume));
    }
}

TEST_F(AnfVolumeOpsTest, DeleteStatusTable) {
    ReplySlot slot;
    server_.On("DELETE", VolumeId(), slot.Route());
    ReplySlot poll;
    server_.On("GET", OperationPath(), poll.Route());
    struct Case {
        Reply reply;
        Reply operation;
        int expected;
    };
    const Reply running = OperationStatus("Creating");
    const Case cases[] = {
        {{200, "", {}}, running, 0},
        {{204, "", {}}, running, 0},
        {{201, "{}", {}}, running, 15},
        {{202, "", {}}, running, 15},
        {{203, "", {}}, running, 15},
        {WithLink(202, server_), OperationStatus("Succeeded"), 0},
        {WithLink(202, server_), OperationStatus("Failed", "NotFound"), 18},
        {WithLink(202, server_), OperationStatus("Failed", "VolumeInUse"), 17},
        {{404, ErrorBody("ResourceNotFound"), {}}, running, 18},
        {{409, ErrorBody("Conflict"), {}}, running, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.reply.status) + " " + c.operation.body);
        slot.Set(c.reply);
        poll.Set(c.operation);
        AzureNetApp::AzureNetAppVolumeInfo volume = Coordinates();
        EXPECT_EQ(c.expected, api_->rest_deleteClone(volume));
    }
    EXPECT_TRUE(
        Logged("ANF delete operation returned status [204], volume is missing - marking "
               "op as successfull"));
    EXPECT_TRUE(Logged("Requested to delete volume [volume1] successfully"));
    EXPECT_TRUE(Logged("Deleted volume [volume1] successfully"));
    EXPECT_TRUE(Logged("Failed to delete volume [volume1]"));
    EXPECT_TRUE(
        Logged("ANF delete operation returned invalid status code[203]. Failing "
               "operation."));
    for (const cloudtest::SeenRequest& request : ArmRequests()) {
        if (request.method == "DELETE") {
            EXPECT_EQ(VolumeId() + "?api-version=2019-11-01", request.target);
        }
    }
}

TEST_F(AnfVolumeOpsTest, DeleteOfAnIncompletelyNamedVolumeSendsNothing) {
    AzureNetApp::AzureNetAppVolumeInfo volume = Coordinates();
    volume.volumeName.clear();
    EXPECT_EQ(15, api_->rest_deleteVolume(volume));
    EXPECT_TRUE(ArmRequests().empty());
}

}  // namespace
}  // namespace anftest
