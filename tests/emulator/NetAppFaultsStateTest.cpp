// Injected faults on NetApp Files requests and the scenario's NetApp and network members.
#include "NetAppTestSupport.h"
#include "Scenario.h"

namespace azemu::test {
namespace {

class NetAppFaultsStateTest : public NetAppTest {
protected:
    int fault(const Json& spec) { return emu_->injectFault(FaultSpec::fromJson(spec)); }
};

TEST_F(NetAppFaultsStateTest, FailedSnapshotOperationReportsItsErrorAndLeavesAFailedSnapshot) {
    fault({{"method", "PUT"},
           {"path", "/snapshots/"},
           {"action", "asyncFail"},
           {"code", "InternalServerError"},
           {"message", "snapshot failed"}});
    Reply created = putSnapshot("vol1", "broken");
    ASSERT_EQ(created.status, 201);
    Json status = finish(created);
    EXPECT_EQ(status["status"], "Failed");
    EXPECT_EQ(status["error"]["code"], "InternalServerError");
    EXPECT_EQ(status["error"]["message"], "snapshot failed");
    EXPECT_EQ(status["properties"]["resourceName"], volumeId("vol1") + "/snapshots/broken");
    EXPECT_EQ(
        anf("GET", snapshotPathOf("vol1", "broken")).json()["properties"]["provisioningState"],
        "Failed");
}

TEST_F(NetAppFaultsStateTest, DeleteThatNeverEndsKeepsTheVolumeDeleting) {
    fault({{"method", "DELETE"}, {"path", "volumes/vol2$"}, {"action", "asyncNeverEnd"}});
    Reply deleted = anf("DELETE", volumePath("vol2"));
    ASSERT_EQ(deleted.status, 202);
    emu_->completePending();
    Json status = armGetUrl(deleted.header("Azure-AsyncOperation")).json();
    EXPECT_EQ(status["status"], "InProgress");
    EXPECT_EQ(status["percentComplete"], 0);
    EXPECT_EQ(anf("GET", volumePath("vol2")).json()["properties"]["provisioningState"], "Deleting");
    // Asking again answers with the same operation.
    EXPECT_EQ(anf("DELETE", volumePath("vol2")).header("Azure-AsyncOperation"),
              deleted.header("Azure-AsyncOperation"));
}

TEST_F(NetAppFaultsStateTest, FailedOrCanceledRevertLeavesTheContentAlone) {
    ASSERT_EQ(finish(putSnapshot("vol1", "snap"))["status"], "Succeeded");
    ASSERT_TRUE(emu_->setVolumeContent("share1", "vol1-v2"));
    std::string body = Json{{"snapshotId", volumeId("vol1") + "/snapshots/snap"}}.dump();
    fault({{"path", "/revert$"}, {"action", "asyncCancel"}});
    EXPECT_EQ(finish(anf("POST", volumePath("vol1") + "/revert", body))["status"], "Canceled");
    fault({{"path", "/revert$"}, {"action", "asyncFail"}, {"code", "ResourceNotFound"}});
    Json failed = finish(anf("POST", volumePath("vol1") + "/revert", body));
    EXPECT_EQ(failed["status"], "Failed");
    EXPECT_EQ(failed["error"]["code"], "ResourceNotFound");
    EXPECT_EQ(volumeView("share1")->content, "vol1-v2");
    EXPECT_EQ(finish(anf("POST", volumePath("vol1") + "/revert", body))["status"], "Succeeded");
    EXPECT_EQ(volumeView("share1")->content, "vol1-v1");
}

TEST_F(NetAppFaultsStateTest, AnswerFaultsApplyToNetAppPaths) {
    fault({{"path", "capacityPools/pool1/volumes$"},
           {"action", "error"},
           {"status", 503},
           {"code", "ServiceUnavailable"}});
    expectError(anf("GET", poolPath() + "/volumes"), 503, "ServiceUnavailable");
    EXPECT_EQ(anf("GET", poolPath() + "/volumes").status, 200);

    fault({{"method", "PUT"}, {"path", "/snapshots/"}, {"action", "noAsyncHeader"}});
    Reply unlinked = putSnapshot("vol1", "unlinked");
    EXPECT_EQ(unlinked.status, 201);
    EXPECT_EQ(unlinked.header("Azure-AsyncOperation"), "");
    // The work itself was done.
    emu_->completePending();
    EXPECT_EQ(anf("GET", snapshotPathOf("vol1", "unlinked")).status, 200);
}

TEST(NetAppScenarioTest, BadNetAppAndNetworkMembersAreRefusedByName) {
    auto refused = [](const std::function<void(Json&)>& change) -> std::string {
        Json s = netAppScenario();
        change(s);
        try {
            parseScenario(s);
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
        return "";
    };
    auto vol = [](Json& s) -> Json& {
        return s["netAppAccounts"][0]["capacityPools"][0]["volumes"][0];
    };
    EXPECT_NE(refused([&](Json& s) { vol(s)["subnet"] = "test-vnet/nosuch"; }).find("subnet"),
              std::string::npos);
    EXPECT_NE(refused([&](Json& s) { vol(s)["mountTargetIp"] = "10.9.9.9"; }).find("mountTargetIp"),
              std::string::npos);
    EXPECT_NE(refused([&](Json& s) { vol(s)["creationToken"] = "share2"; }).find("creationToken"),
              std::string::npos);
    EXPECT_NE(refused([&](Json& s) { vol(s)["name"] = "9lives"; }).find("name"), std::string::npos);
    EXPECT_NE(refused([&](Json& s) { vol(s)["protocolTypes"] = {"FTP"}; }).find("protocol"),
              std::string::npos);
    EXPECT_NE(refused([&](Json& s) {
                  s["netAppAccounts"][0]["resourceGroup"] = "nope";
              }).find("resourceGroup"),
              std::string::npos);
    EXPECT_NE(refused([&](Json& s) {
                  s["virtualNetworks"][0]["subnets"][1]["addressPrefix"] = "10.1.3.0";
              }).find("addressPrefix"),
              std::string::npos);
    EXPECT_NE(refused([&](Json& s) { s["netAppAcounts"] = Json::array(); }).find("netAppAcounts"),
              std::string::npos);
    EXPECT_EQ(refused([](Json&) {}), "");
}

}  // namespace
}  // namespace azemu::test
