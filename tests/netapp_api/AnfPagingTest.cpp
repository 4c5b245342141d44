// NetApp Files requests beyond one plain answer: lists that come in pages,
// links that point elsewhere, error bodies that are huge or echo our token,
// a revert whose answer is lost, and the installation's proxy. Against a
// loopback server, and the emulator for paging and lost answers.
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AnfApiTestSupport.h"
#include "support/EmulatorBench.h"

namespace anftest {
namespace {

constexpr const char* kNoWait =
    "[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\nnAzureRESTAPIReqWaitTimeSecs=5\n";

std::string SubscriptionPage(const std::string& id, const std::string& nextLink) {
    nlohmann::json page = {{"value", nlohmann::json::array()}};
    if (!id.empty()) {
        page["value"].push_back({{"subscriptionId", id}});
    }
    if (!nextLink.empty())
        page["nextLink"] = nextLink;
    return page.dump();
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class AnfPagingTest : public AnfApiTest {
protected:
    std::string AllLogText() const {
        std::string text;
        for (const kxsnap::LogEntry& entry : host_.Log())
            text += entry.text + "\n";
        return text;
    }
    kxtest::ScopedSettings noWait_{kNoWait};
};

TEST_F(AnfPagingTest, ListFollowsNextLinkVerbatimPastAnEmptyPage) {
    Connect();
    const std::string second = server_.Url() + "subscriptions?api-version=2019-11-01&$skiptoken=2";
    server_.On("GET", "/subscriptions", [&](const cloudtest::SeenRequest& request) {
        const bool later = request.target.find("skiptoken") != std::string::npos;
        return cloudtest::Reply{
            200, later ? SubscriptionPage("sub-2", "") : SubscriptionPage("", second), {}};
    });
    std::vector<std::string> subscriptions;
    ASSERT_EQ(0, api_->rest_listSubscriptions(subscriptions));
    EXPECT_EQ(std::vector<std::string>{"sub-2"}, subscriptions);
    const auto seen = ArmRequests();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("/subscriptions?api-version=2019-11-01&$skiptoken=2", seen[1].target);
    EXPECT_EQ(1u, Count(seen[1].target, "api-version"));
}

TEST_F(AnfPagingTest, RepeatedNextLinkStopsTheList) {
    Connect();
    const std::string self = server_.Url() + "subscriptions?api-version=2019-11-01&$skiptoken=1";
    server_.OnFixed("GET", "/subscriptions", {200, SubscriptionPage("sub-1", self), {}});
    std::vector<std::string> subscriptions;
    EXPECT_EQ(14, api_->rest_listSubscriptions(subscriptions));
    EXPECT_TRUE(subscriptions.empty());
    EXPECT_EQ(2u, ArmRequests().size());
    EXPECT_NE(std::string::npos, api_->getErrorString().find("repeats"));
}

TEST_F(AnfPagingTest, LinksToAnotherOriginAreRefusedAndGetNoToken) {
    Connect();
    cloudtest::LoopbackServer elsewhere;
    elsewhere.OnFixed("GET", ".*", {200, SubscriptionPage("stolen", ""), {}});
    server_.OnFixed("GET", "/subscriptions",
                    {200, SubscriptionPage("sub-1", elsewhere.Url() + "subscriptions?x=1"), {}});
    std::vector<std::string> subscriptions;
    EXPECT_EQ(15, api_->rest_listSubscriptions(subscriptions));
    EXPECT_NE(std::string::npos, api_->getErrorString().find("is not on the management endpoint"));

    // An operation link elsewhere is neither followed nor grafted onto our base.
    server_.OnFixed("PUT", ".*/snapshots/.*", WithLink(201, elsewhere));
    AzureNetApp::KxSnapANFSnapObj snapObj = SnapObjFor(&host_.Record(0), "snap-x");
    EXPECT_EQ(15, api_->rest_createSnap(snapObj));
    EXPECT_TRUE(host_.Record(0).data().transientMetadata[155].empty());
    EXPECT_TRUE(Logged("Refusing to follow the operation link [" + elsewhere.Url()));
    EXPECT_TRUE(elsewhere.Requests().empty());
}

TEST_F(AnfPagingTest, ErrorBodiesAreCutAndNeverShowTheToken) {
    Connect();
    const std::string echo = ErrorBody("InvalidAuthenticationToken",
                                       std::string("rejected Bearer ") + kToken + " / " + kToken);
    server_.OnFixed("GET", "/subscriptions", {401, echo, {}});
    std::vector<std::string> subscriptions;
    EXPECT_EQ(15, api_->rest_listSubscriptions(subscriptions));
    EXPECT_NE(std::string::npos, api_->getRESTErrorString().find("InvalidAuthenticationToken"));
    EXPECT_EQ(std::string::npos, api_->getRESTErrorString().find(kToken));
    EXPECT_EQ(std::string::npos, AllLogText().find(kToken));

    // (The HTTP client's own test sends 64 MiB; here it is what reaches the
    // error text that counts.)
    const std::string huge(1024 * 1024, 'x');
    server_.OnFixed("GET", ".*/resourceGroups", {400, huge, {}});
    std::vector<std::string> groups;
    EXPECT_EQ(15, api_->rest_listResourceGroups("sub-1", groups));
    const std::string restError = api_->getRESTErrorString();
    EXPECT_LT(restError.size(), 8192u);
    EXPECT_NE(std::string::npos, restError.find("... [truncated, 1048576 bytes in all]"));
    EXPECT_EQ(std::string::npos, AllLogText().find(std::string(8192, 'x')));
}

TEST_F(AnfPagingTest, ResourceManagerRequestsGoThroughTheInstallationProxy) {
    cloudtest::LoopbackServer proxy;
    proxy.OnFixed("GET", ".*", {200, SubscriptionPage("via-proxy", ""), {}});
    // "localhost" is not the metadata service's host, so only it is proxied.
    kxtest::ScopedEnv arm("KXSO_ARM_ENDPOINT", "http://localhost:9/");
    const std::string proxyUrl = proxy.Url();  // "http://127.0.0.1:PORT/"
    const std::string port = proxyUrl.substr(proxyUrl.rfind(':') + 1, std::string::npos);
    kxtest::ScopedSettings settings(
        "[Ferrolink]\nnAzureRESTAPIMaxRetries=0\nhttpProxyName=127.0.0.1\nhttpProxyPort=" +
        port.substr(0, port.size() - 1) + "\n");
    Connect();
    std::vector<std::string> subscriptions;
    ASSERT_EQ(0, api_->rest_listSubscriptions(subscriptions));
    EXPECT_EQ(std::vector<std::string>{"via-proxy"}, subscriptions);
    const auto proxied = proxy.Requests();
    ASSERT_EQ(1u, proxied.size());
    EXPECT_NE(std::string::npos, proxied[0].target.find("localhost:9/subscriptions"));
    EXPECT_EQ(1u, server_.RequestsTo("/metadata/identity/oauth2/token").size());
    api_.reset();  // its kept-alive connection would hold the proxy's stop
}

// --- Against the emulator ------------------------------------------------------------------

azemu::Json SampleScenario() {
    std::ifstream in(std::string(KXSO_SOURCE_DIR) + "/emulator/scenarios/sample-anf.json");
    std::stringstream text;
    text << in.rdbuf();
    return azemu::Json::parse(text.str());
}

class AnfPagingEmulatorTest : public kxtest::EmulatorBench {
protected:
    void SetUp() override {
        StartEmulator(SampleScenario());
        UseSettings(kNoWait);
        host_.Add(cloudtest::AnfRecord(1, "oradata", "10.20.1.4"));
        api_ = std::make_unique<TestableAPI>(&host_.Record(0));
        api_->SetRetries(20, 0);
        ASSERT_EQ(0, api_->rest_connectToArray(instance_));
    }
    void TearDown() override {
        api_.reset();
        EmulatorBench::TearDown();
    }
    std::shared_ptr<AzureNetApp::KxSnapANFSnapObj> Device(int64_t snapNum, const std::string& share,
                                                          const std::string& address) {
        auto device = std::make_shared<AzureNetApp::KxSnapANFSnapObj>(&host_.Record(0));
        device->snapNum = snapNum;
        device->devInfo.sharePath = share;
        device->devInfo.arrayName = address;
        return device;
    }
    int Discover(AzureNetApp::SnapObjMap& devices) {
        std::vector<std::string> subscriptions;
        EXPECT_EQ(0, api_->rest_listSubscriptions(subscriptions));
        std::vector<AzureNetApp::AzureEntity> groups;
        for (const std::string& subscription : subscriptions) {
            std::vector<std::string> names;
            EXPECT_EQ(0, api_->rest_listResourceGroups(subscription, names));
            for (const std::string& name : names) {
                groups.push_back({subscription, name});
            }
        }
        return api_->discoverArrayVolumeDetails(devices, groups);
    }

    kxtest::TestHost host_;
    std::unique_ptr<TestableAPI> api_;
    AzureNetApp::AzureInstanceInfo instance_;
};

TEST_F(AnfPagingEmulatorTest, VolumeOnASecondPageIsFound) {
    Tune(&azemu::Settings::listPageSize, 1);
    AzureNetApp::SnapObjMap devices{{1, Device(1, "oradata", "10.20.1.4")},
                                    {2, Device(2, "oralogs", "10.20.1.5")}};
    ASSERT_EQ(0, Discover(devices));
    EXPECT_FALSE(devices[1]->snapshotInfo.fileSystemId.empty());
    EXPECT_FALSE(devices[2]->snapshotInfo.fileSystemId.empty());
    bool secondPage = false;
    for (const azemu::RequestRecord& request : Sent("GET", "skiptoken=1"))
        secondPage = secondPage || request.url.find("/volumes?") != std::string::npos;
    EXPECT_TRUE(secondPage);
}

// libcurl never re-sends the revert on its own: the one re-send is the
// engine's deliberate one, after the volume is idle again.
TEST_F(AnfPagingEmulatorTest, RevertWhoseAnswersAreLostIsSentOnceMoreOnly) {
    AzureNetApp::SnapObjMap devices{{1, Device(1, "oradata", "10.20.1.4")}};
    ASSERT_EQ(0, Discover(devices));
    AzureNetApp::KxSnapANFSnapObj& snapObj = *devices[1];
    snapObj.snapName = "kx-snap-1";
    snapObj.snapshotInfo.snapRawPath = snapObj.snapshotInfo.rawPath + "/snapshots/kx-snap-1";
    LoseAnswers("POST", "/revert");
    emu_->clearRequestLog();
    EXPECT_EQ(15, api_->rest_revertVolume(snapObj, instance_));
    EXPECT_EQ(2u, Sent("POST").size());
    EXPECT_TRUE(host_.Logged("the request may have reached the server; not sent again"));
}

}  // namespace
}  // namespace anftest
