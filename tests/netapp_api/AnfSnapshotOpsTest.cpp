// Snapshot create, read and delete against a scripted Resource Manager: the
// request each sends, how each HTTP status and status link is judged, and
// answers that are not what Azure promises.
#include <string>
#include <vector>

#include "AnfApiTestSupport.h"

namespace anftest {
namespace {

using cloudtest::Reply;

constexpr const char* kSnapshotsExample = "netapp-2019-11-01-Snapshots_Get.json";

class AnfSnapshotOpsTest : public AnfApiTest {
protected:
    void SetUp() override {
        AnfApiTest::SetUp();
        Connect();
    }
    AzureNetApp::KxSnapANFSnapObj SnapObj(const std::string& snapName = "snap-a") {
        return SnapObjFor(&host_.Record(0), snapName);
    }
    std::map<int, std::string>& Transient() { return host_.Record(0).data().transientMetadata; }
    std::string SnapshotPath(const std::string& snapName = "snap-a") const {
        return SnapshotId(snapName);
    }
};

TEST_F(AnfSnapshotOpsTest, CreateSendsLocationAndFileSystemToTheVolumesSnapshot) {
    server_.OnFixed(
        "PUT", SnapshotPath(),
        {201, ExampleBody("netapp-2019-10-01-Snapshots_Create.json", "201").dump(), {}});
    AzureNetApp::KxSnapANFSnapObj byCoordinates = SnapObj();
    AzureNetApp::KxSnapANFSnapObj byVolumeId = SnapObj();
    byVolumeId.snapshotInfo.rawPath = VolumeId();

    EXPECT_EQ(0, api_->rest_createSnap(byCoordinates));
    EXPECT_EQ(0, api_->rest_createSnap(byVolumeId));

    const std::vector<cloudtest::SeenRequest> puts = server_.RequestsTo("/snapshots/");
    ASSERT_EQ(2u, puts.size());
    for (const cloudtest::SeenRequest& put : puts) {
        EXPECT_EQ(SnapshotPath() + "?api-version=2019-11-01", put.target);
        // Plain HTTP to the loopback endpoint: the token stays home.
        EXPECT_FALSE(put.HasHeader("Authorization"));
        EXPECT_EQ((nlohmann::json{
                      {"location", "eastus"},
                      {"properties", {{"fileSystemId", "9760acf5-4638-11e7-9bdb-020073ca7778"}}}}),
                  nlohmann::json::parse(put.body));
    }
    EXPECT_TRUE(Logged("Created snapshot [snap-a] for ANF device [volume1] successfully"));
    EXPECT_TRUE(Transient().empty()) << "a snapshot made at once has no link to follow";
}

TEST_F(AnfSnapshotOpsTest, CreateStatusTableAndTheLinkKeptForPostSnapshot) {
    ReplySlot slot;
    server_.On("PUT", SnapshotPath(), slot.Route());
    struct Case {
        Reply reply;
        int expected;
        bool linkKept;
        const char* errorText;
    };
    const Case cases[] = {
        {{201, "{}", {}}, 0, false, ""},
        {WithLink(201, server_), 0, true, ""},
        {WithLink(202, server_, "op-1", "{}"), 0, true, ""},
        {{202, "{}", {}},
         15,
         false,
         "ANF snapshot operation returned status code [202] (Accepted), but didn't send async "
         "operation link. Failing operation."},
        {WithLink(200, server_), 15, false, ""},
        {{204, "", {}}, 15, false, ""},
        {{203, "{}", {}},
         15,
         false,
         "ANF create snapshot operation returned invalid status code[203]. Failing operation."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.status);
        Transient().clear();
        slot.Set(c.reply);
        AzureNetApp::KxSnapANFSnapObj snapObj = SnapObj();
        EXPECT_EQ(c.expected, api_->rest_createSnap(snapObj));
        if (c.linkKept) {
            EXPECT_EQ(Relative(OperationPath()) + "?api-version=2019-11-01", Transient()[155]);
            EXPECT_TRUE(
                Logged("Initiated create request for snapshot [snap-a] for ANF device "
                       "[volume1] successfully"));
        } else {
            EXPECT_EQ(0u, Transient().count(155));
        }
        EXPECT_NE(std::string::npos, api_->getErrorString().find(c.errorText));
    }
    EXPECT_TRUE(
        Logged("Failed to parse response from create snap API Response[{}] Status "
               "Code[203]"));
}

TEST_F(AnfSnapshotOpsTest, CreateRefusedByAzureCarriesAzuresErrorAndFifteen) {
    server_.OnFixed("PUT", SnapshotPath(), {409, ErrorBody("Conflict", "busy volume"), {}});
    AzureNetApp::KxSnapANFSnapObj snapObj = SnapObj();
    EXPECT_EQ(15, api_->rest_createSnap(snapObj));
    EXPECT_EQ(
        "Creating snapshot failed for ANF volume [volume1], snapshot name [snap-a]. Error "
        "returned from ANF [Azure error code : \"Conflict\", Azure error message : \"busy "
        "volume\"]. Return code [15].",
        api_->getErrorString());
}

TEST_F(AnfSnapshotOpsTest, DeleteStatusTableFollowsAcceptedDeletesToTheirEnd) {
    ReplySlot slot;
    server_.On("DELETE", SnapshotPath(), slot.Route());
    ReplySlot poll;
    server_.On("GET", OperationPath(), poll.Route());
    struct Case {
        Reply reply;
        Reply operation;
        int expected;
    };
    const Reply running = OperationStatus("InProgress");
    const Case cases[] = {
        {{200, "", {}}, running, 0},
        {{204, "", {}}, running, 0},
        {{201, "{}", {}}, running, 15},
        {{202, "", {}}, running, 15},
        {WithLink(202, server_), OperationStatus("Succeeded"), 0},
        {WithLink(202, server_), OperationStatus("Failed", "resourcenotfound"), 18},
        {WithLink(202, server_), OperationStatus("Failed", "InternalServerError"), 17},
        {WithLink(202, server_), running, 25},
        {{404, ErrorBody("ResourceNotFound"), {}}, running, 18},
        {{404, ErrorBody("ParentResourceNotFound"), {}}, running, 18},
        {{409, ErrorBody("Conflict"), {}}, running, 15},
        {{500, "<html>gateway</html>", {}}, running, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.reply.status) + " " + c.operation.body);
        slot.Set(c.reply);
        poll.Set(c.operation);
        AzureNetApp::KxSnapANFSnapObj snapObj = SnapObj();
        EXPECT_EQ(c.expected, api_->rest_deleteSnaps(snapObj));
    }
    EXPECT_TRUE(
        Logged("ANF delete operation returned status [204], snapshot is missing - "
               "marking op as successfull"));
    EXPECT_TRUE(Logged("Request sent for deleting snapshot [snap-a] of ANF device [volume1]"));
    EXPECT_TRUE(Logged("Failed to delete snapshot [snap-a] of ANF device [volume1]"));
    EXPECT_TRUE(Logged("Deleting snapshot [snap-a] of ANF device [volume1] status [18]... - done"));
    EXPECT_TRUE(
        Logged("Azure async operation did not complete in time. Last Status "
               "[InProgress]"));
    for (const cloudtest::SeenRequest& request : server_.RequestsTo("/snapshots/"))
        EXPECT_EQ(SnapshotPath() + "?api-version=2019-11-01", request.target);
}

TEST_F(AnfSnapshotOpsTest, DeleteOfAnIncompletelyNamedSnapshotSendsNothing) {
    AzureNetApp::KxSnapANFSnapObj noName = SnapObj("");
    AzureNetApp::KxSnapANFSnapObj noPool = SnapObj();
    noPool.snapshotInfo.capacityPoolName.clear();
    EXPECT_EQ(15, api_->rest_deleteSnaps(noName));
    EXPECT_EQ(15, api_->rest_deleteSnaps(noPool));
    EXPECT_TRUE(ArmRequests().empty());
    EXPECT_NE(std::string::npos, api_->getErrorString().find("resource name is incomplete"));
}

TEST_F(AnfSnapshotOpsTest, ReadByNameFillsTheSnapshotFieldsFromMicrosoftsExample) {
    server_.OnFixed("GET", SnapshotPath("snapshot1"),
                    {200, ExampleBody(kSnapshotsExample, "200").dump(), {}});
    AzureNetApp::KxSnapANFSnapObj snapObj = SnapObj("snapshot1");
    AzureNetApp::AzureNetAppSnapshotInfo found;
    found.volumeName = "kept";
    ASSERT_EQ(0, api_->rest_getSnapshotInfo(snapObj, found));
    EXPECT_EQ(SnapshotId("snapshot1"), found.snapRawPath);
    EXPECT_EQ("account1/pool1/volume1/snapshot1", found.snapRawName);
    EXPECT_EQ("snapshot1", found.snapshotName) << "taken from the id: properties has no name";
    EXPECT_EQ("9760acf5-4638-11e7-9bdb-020073ca3333", found.snapshotId);
    EXPECT_EQ("9760acf5-4638-11e7-9bdb-020073ca3333", found.fileSystemId);
    EXPECT_EQ("Succeeded", found.provisioningState);
    EXPECT_EQ("kept", found.volumeName);
    EXPECT_EQ(SnapshotPath("snapshot1") + "?api-version=2019-11-01",
              server_.RequestsTo("/snapshots/").at(0).target);
}

TEST_F(AnfSnapshotOpsTest, ReadOfAMissingSnapshotIsEighteenOnlyForNotFoundCodes) {
    ReplySlot slot;
    server_.On("GET", SnapshotPath(), slot.Route());
    const std::pair<Reply, int> cases[] = {
        {{404, ErrorBody("NotFound"), {}}, 18},
        {{404, ErrorBody("ResourceNotFound"), {}}, 18},
        {{404, ErrorBody("resourcenotfound"), {}}, 18},
        {{404, ErrorBody("HttpStatusCode"), {}}, 18},
        {{404, ErrorBody("ParentResourceNotFound"), {}}, 18},
        {{404, "not json", {}}, 15},
        {{500, ErrorBody("NotFound"), {}}, 15},
        {{403, ErrorBody("AuthorizationFailed"), {}}, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.body);
        slot.Set(c.first);
        AzureNetApp::KxSnapANFSnapObj snapObj = SnapObj();
        AzureNetApp::AzureNetAppSnapshotInfo found;
        EXPECT_EQ(c.second, api_->rest_getSnapshotInfo(snapObj, found));
    }
}

TEST_F(AnfSnapshotOpsTest, ReadAnswersThatAreNotASnapshotAreFifteen) {
    ReplySlot slot;
    server_.On("GET", SnapshotPath(), slot.Route());
    const std::string example = ExampleBody(kSnapshotsExample, "200").dump();
    nlohmann::json numericId = ExampleBody(kSnapshotsExample, "200");
    numericId["id"] = 42;
    nlohmann::json propertiesArray = ExampleBody(kSnapshotsExample, "200");
    propertiesArray["properties"] = nlohmann::json::array();
    nlohmann::json noSnapshotId = ExampleBody(kSnapshotsExample, "200");
    noSnapshotId["properties"].erase("snapshotId");
    nlohmann::json volumeId = ExampleBody(kSnapshotsExample, "200");
    volumeId["id"] = VolumeId();
    const std::string bodies[] = {"",
                                  "not json at all",
                                  example.substr(0, example.size() / 2),
                                  "[]",
                                  "null",
                                  numericId.dump(),
                                  propertiesArray.dump(),
                                  noSnapshotId.dump(),
                                  volumeId.dump()};
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        slot.Set({200, body, {}});
        AzureNetApp::KxSnapANFSnapObj snapObj = SnapObj();
        AzureNetApp::AzureNetAppSnapshotInfo found;
        EXPECT_EQ(15, api_->rest_getSnapshotInfo(snapObj, found));
    }
    EXPECT_TRUE(Logged("Failed to parse snapshot name from response ["));

    nlohmann::json named = volumeId;
    named["properties"]["name"] = "given-name";
    slot.Set({200, named.dump(), {}});
    AzureNetApp::KxSnapANFSnapObj snapObj = SnapObj();
    AzureNetApp::AzureNetAppSnapshotInfo found;
    EXPECT_EQ(0, api_->rest_getSnapshotInfo(snapObj, found));
    EXPECT_EQ("given-name", found.snapshotName);
}

TEST_F(AnfSnapshotOpsTest, ReadByResourceIdRefusesWhatIsNotOne) {
    server_.OnFixed("GET", SnapshotPath("snapshot1"),
                    {200, ExampleBody(kSnapshotsExample, "200").dump(), {}});
    AzureNetApp::AzureNetAppSnapshotInfo found;
    EXPECT_EQ(29, api_->rest_getSnapshotInfoFromURL("", found));
    EXPECT_EQ(29, api_->rest_getSnapshotInfoFromURL("/resourceGroups/x/snapshots/y", found));
    EXPECT_EQ(29, api_->rest_getSnapshotInfoFromURL(SnapshotId("snapshot1") + "\r\nX-Injected: 1",
                                                    found));
    EXPECT_EQ(29, api_->rest_getSnapshotInfoFromURL(SnapshotId("a b"), found));
    EXPECT_TRUE(ArmRequests().empty());
    EXPECT_TRUE(Logged("Got invalid snapshot URL [/resourceGroups/x/snapshots/y]. Failing."));

    EXPECT_EQ(0, api_->rest_getSnapshotInfoFromURL(SnapshotId("snapshot1"), found));
    EXPECT_EQ(SnapshotId("snapshot1") + "?api-version=2019-11-01", ArmRequests().at(0).target);
    EXPECT_EQ("snapshot1", found.snapshotName);
}

}  // namespace
}  // namespace anftest
