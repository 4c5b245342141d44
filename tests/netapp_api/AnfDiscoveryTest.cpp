// Discovery: the subscription and resource-group lists, and the walk from
// network interfaces to capacity pools to the volume behind each device,
// with interfaces and volume lists that are not what Azure promises.
#include <memory>
#include <string>
#include <vector>

#include "AnfApiTestSupport.h"

namespace anftest {
namespace {

using cloudtest::Reply;

constexpr const char* kNicExample = "network-2019-11-01-NetworkInterfaces_List.json";

class AnfDiscoveryTest : public AnfApiTest {
protected:
    void SetUp() override {
        AnfApiTest::SetUp();
        Connect();
    }
    std::shared_ptr<AzureNetApp::KxSnapANFSnapObj> AddDevice(int64_t snapNum,
                                                             const std::string& share,
                                                             const std::string& address) {
        auto device = std::make_shared<AzureNetApp::KxSnapANFSnapObj>();
        device->snapNum = snapNum;
        device->devInfo.sharePath = share;
        device->devInfo.arrayName = address;
        devices_[snapNum] = device;
        return device;
    }
    static std::string NicListPath(const std::string& group) {
        return std::string("/subscriptions/") + kSubscription + "/resourceGroups/" + group +
               "/providers/Microsoft.Network/networkInterfaces";
    }
    // Microsoft's two-interface list, the first interface carrying
    // `address` and serving `workloads`.
    void ServeNics(const std::string& group, const std::string& address,
                   const nlohmann::json& workloads) {
        nlohmann::json list = ExampleBody(kNicExample, "200");
        nlohmann::json& first = list["value"][0]["properties"];
        first["ipConfigurations"][0]["properties"]["privateIPAddress"] = address;
        first["hostedWorkloads"] = workloads;
        server_.OnFixed("GET", NicListPath(group), {200, list.dump(), {}});
        groups_.push_back({kSubscription, group});
    }
    void ServePool(const std::string& pool, const std::vector<nlohmann::json>& volumes) {
        server_.OnFixed("GET", PoolId(pool) + "/volumes",
                        {200, nlohmann::json{{"value", volumes}}.dump(), {}});
    }
    int Discover() { return api_->discoverArrayVolumeDetails(devices_, groups_); }
    size_t Listings(const std::string& pool) const {
        return server_.RequestsTo(PoolId(pool) + "/volumes").size();
    }

    AzureNetApp::SnapObjMap devices_;
    std::vector<AzureNetApp::AzureEntity> groups_;
};

TEST_F(AnfDiscoveryTest, SubscriptionsAndResourceGroupsComeFromTheirLists) {
    // The example's "nextLink" is the placeholder "...", which is no link to
    // follow (a list with an unusable link fails); this list has one page.
    nlohmann::json subscriptionList =
        ExampleBody("resources-2019-11-01-Subscriptions_List.json", "200");
    subscriptionList.erase("nextLink");
    server_.OnFixed("GET", "/subscriptions", {200, subscriptionList.dump(), {}});
    server_.OnFixed(
        "GET", "/subscriptions/sub-1/resourceGroups",
        {200,
         nlohmann::json{
             {"value",
              {ExampleBody("resources-2020-06-01-ResourceGroups_CreateOrUpdate.json", "200")}}}
             .dump(),
         {}});
    std::vector<std::string> subscriptions{"kept"};
    ASSERT_EQ(0, api_->rest_listSubscriptions(subscriptions));
    EXPECT_EQ((std::vector<std::string>{"kept", "291bba3f-e0a5-47bc-a099-3bdcb2a50a05",
                                        "72ac930a-f34e-42d8-b06d-dc2a9e12ed71"}),
              subscriptions);
    std::vector<std::string> groups;
    ASSERT_EQ(0, api_->rest_listResourceGroups("sub-1", groups));
    EXPECT_EQ(std::vector<std::string>{"my-resource-group"}, groups);
    EXPECT_EQ("/subscriptions?api-version=2019-11-01", ArmRequests().at(0).target);
    EXPECT_EQ("/subscriptions/sub-1/resourceGroups?api-version=2019-11-01",
              ArmRequests().at(1).target);
    EXPECT_TRUE(Logged("Found [2] subscriptions."));
    EXPECT_TRUE(Logged("Found [1] resource group(s) in subscription [sub-1]."));
}

TEST_F(AnfDiscoveryTest, ListsThatAreNotListsLeaveTheResultUntouched) {
    ReplySlot slot;
    server_.On("GET", "/subscriptions", slot.Route());
    const std::pair<Reply, int> cases[] = {
        {{200, "not json", {}}, 14},
        {{200, R"({"value":{"subscriptionId":"a"}})", {}}, 14},
        {{200, R"({"value":[{"subscriptionId":"a"},{"id":"b"}]})", {}}, 14},
        {{200, R"({"value":[{"subscriptionId":7}]})", {}}, 14},
        {{200, R"({"nextLink":"x"})", {}}, 14},
        {{403, ErrorBody("AuthorizationFailed"), {}}, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.body);
        slot.Set(c.first);
        std::vector<std::string> subscriptions{"kept"};
        EXPECT_EQ(c.second, api_->rest_listSubscriptions(subscriptions));
        EXPECT_EQ(std::vector<std::string>{"kept"}, subscriptions);
    }
    EXPECT_TRUE(Logged("Failed to parse JSON response, key [subscriptionId] not found."));
    EXPECT_TRUE(Logged("Failed to parse response from list subscriptions API. Response received"));
}

TEST_F(AnfDiscoveryTest, WalkResolvesEachDeviceThroughItsInterfacesPools) {
    auto first = AddDevice(1, "share-1", "10.20.0.9");
    auto second = AddDevice(2, "share-3", "10.20.0.10");
    ServeNics("rgA", "10.20.0.9", {VolumeId("volume1"), VolumeId("volume2")});
    ServeNics("rgB", "10.20.0.10",
              {VolumeId("volume3", "pool2"), "no-volume-segment", "/subscriptions/a b/volumes/c", 5,
               nullptr, VolumeId("volume9")});
    ServePool("pool1", {VolumeDocument("volume2", "share-2", {"10.20.0.9"}),
                        VolumeDocument("volume1", "share-1", {"10.20.0.9"})});
    ServePool("pool2", {nlohmann::json{{"properties", 5}},
                        nlohmann::json{{"properties", {{"creationToken", "share-3"}}}},
                        VolumeDocument("volume3", "share-3", {"10.20.0.10"}, "pool2")});

    EXPECT_EQ(0, Discover());
    EXPECT_EQ("volume1", first->snapshotInfo.volumeName);
    EXPECT_EQ(VolumeId("volume1"), first->snapshotInfo.rawPath);
    EXPECT_EQ("share-1", first->snapshotInfo.sharePath);
    EXPECT_EQ("eastus", first->snapshotInfo.location);
    EXPECT_FALSE(first->snapshotInfo.fileSystemId.empty());
    EXPECT_EQ("volume3", second->snapshotInfo.volumeName);
    EXPECT_EQ("pool2", second->snapshotInfo.capacityPoolName);
    EXPECT_EQ(1u, Listings("pool1")) << "a pool reached twice is listed once";
    EXPECT_EQ(1u, Listings("pool2"));
    for (const cloudtest::SeenRequest& request : ArmRequests()) {
        EXPECT_EQ(std::string::npos, request.target.find("//")) << request.target;
        EXPECT_EQ(std::string::npos, request.target.find("a%20b")) << request.target;
    }
    EXPECT_TRUE(Logged("NIC [10.20.0.9] found in cache - adding workloads"));
    EXPECT_TRUE(Logged("NIC [172.20.2.4] not found in cache - skipping"));
    EXPECT_TRUE(
        Logged("Failed to find [/volumes/] url param in workload string "
               "[no-volume-segment]"));
    EXPECT_TRUE(Logged("Failed to find tag [mountTargets] in volume [1]- Skipping"));
    EXPECT_TRUE(Logged("Found all [2] devices", "KXSnapAzureNetAppAPI"));
    EXPECT_TRUE(Logged("End : Discover Volume Details"));
}

TEST_F(AnfDiscoveryTest, ASharePathServedFromAnotherAddressLeavesTheDeviceUnresolved) {
    auto device = AddDevice(1, "share-1", "10.20.0.11");
    ServeNics("rgA", "10.20.0.11", {VolumeId("volume1")});
    ServePool("pool1", {VolumeDocument("volume1", "share-1", {"10.20.0.9"})});

    EXPECT_EQ(34, Discover());
    EXPECT_TRUE(device->snapshotInfo.fileSystemId.empty());
    EXPECT_TRUE(device->snapshotInfo.rawPath.empty());
    EXPECT_TRUE(
        Logged("Failed to validate volume details. SharePath[share-1] ArrayIP[10.20.0.11]"));
    EXPECT_TRUE(Logged("Failed to find all devices - found [0] out of [1]"));
}

TEST_F(AnfDiscoveryTest, OneSharePathMountedFromTwoServersIsTwoVolumes) {
    auto first = AddDevice(1, "share-1", "10.20.0.9");
    auto second = AddDevice(2, "share-1", "10.20.0.10");
    ServeNics("rgA", "10.20.0.9", {VolumeId("volume1")});
    ServeNics("rgB", "10.20.0.10", {VolumeId("volume7", "pool2")});
    ServePool("pool1", {VolumeDocument("volume1", "share-1", {"10.20.0.9"})});
    ServePool("pool2", {VolumeDocument("volume7", "share-1", {"10.20.0.10"}, "pool2")});

    EXPECT_EQ(0, Discover());
    EXPECT_EQ("volume1", first->snapshotInfo.volumeName);
    EXPECT_EQ("volume7", second->snapshotInfo.volumeName);
}

TEST_F(AnfDiscoveryTest, UnusableInterfaceAndVolumeListsAreSkipped) {
    auto device = AddDevice(1, "share-1", "10.20.0.9");
    server_.OnFixed("GET", NicListPath("broken"), {200, "<html>", {}});
    groups_.push_back({kSubscription, "broken"});
    server_.OnFixed("GET", NicListPath("odd"), {200, R"({"value":{"a":1}})", {}});
    groups_.push_back({kSubscription, "odd"});
    server_.OnFixed("GET", NicListPath("denied"), {403, ErrorBody("AuthorizationFailed"), {}});
    groups_.push_back({kSubscription, "denied"});
    server_.OnFixed("GET", NicListPath("shapeless"),
                    {200,
                     R"({"value":[5,{"properties":[]},{"properties":{"ipConfigurations":[7,)"
                     R"({"properties":{"privateIPAddress":"10.20.0.9"}}]}}]})",
                     {}});
    groups_.push_back({kSubscription, "shapeless"});
    ServeNics("rgA", "10.20.0.9", {VolumeId("volume1")});
    server_.OnFixed("GET", PoolId("pool1") + "/volumes", {200, R"({"value":"none"})", {}});

    EXPECT_EQ(34, Discover());
    EXPECT_TRUE(device->snapshotInfo.fileSystemId.empty());
    EXPECT_TRUE(Logged("Failed to fetch network interface information for Azure subscription "));
    EXPECT_TRUE(Logged("Failed to parse and populate NIC info for Azure Subscription "));
    EXPECT_TRUE(Logged("Failed to find tag [hostedWorkloads] in NIC[2] - Skipping"));
    EXPECT_TRUE(Logged("Failed to find tag [value] in list volume response"));
    EXPECT_TRUE(Logged("Failed to find NIC details for IP [10.20.0.9]"));
}

}  // namespace
}  // namespace anftest
