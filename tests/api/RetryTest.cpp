// The managed-disk client's requests under faults that pass: answers lost or
// refused are sent again, spaced as Azure asks; a VM update is never sent
// twice; the token never leaves for another origin, nor for the metadata
// service.
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "EmulatorFixture.h"

namespace apitest {
namespace {

// Waits as long as the server asks, up to the default cap.
constexpr const char* kHonourWaitsSettings =
    "[Ferrolink]\n"
    "nAzureRESTAPIReqPollIntervalSecs=0\n"
    "nAzureRESTAPIReqWaitTimeSecs=5\n"
    "nAzureWaitTimeForDeviceRefresh=0\n";

// A plain HTTP server on another port that only records what reaches it.
class Recorder {
public:
    Recorder() {
        server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(mutex_);
            authorizations_.push_back(request.get_header_value("Authorization"));
            response.set_content(R"({"status":"Succeeded"})", "application/json");
        });
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~Recorder() {
        server_.stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    size_t Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return authorizations_.size();
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> authorizations_;
};

using RetryTest = EmulatorTest;

TEST_F(RetryTest, ThrottledReadIsSentAgainNoEarlierThanAzureAsks) {
    UseSettings(kHonourWaitsSettings);
    InitAndClearLog();
    azemu::FaultSpec fault;
    fault.method = "GET";
    fault.path = "/snapshots/snapA";
    fault.status = 503;
    fault.times = 2;
    fault.retryAfterMs = 150;
    emu_->injectFault(fault);
    AzureDiskSnapShotInfo snapshot;
    const CUxError err = api_->VerifyAzureSnapshot(SnapshotPath("snapA"), snapshot);
    ASSERT_TRUE(err.IsSuccess()) << err.AsString();
    const auto reads = Sent("GET", "/snapshots/snapA");
    ASSERT_EQ(3u, reads.size());
    EXPECT_GE(reads[1].timeMs - reads[0].timeMs, 150);
    EXPECT_GE(reads[2].timeMs - reads[1].timeMs, 150);
    EXPECT_EQ(200, reads[2].status);
    EXPECT_TRUE(record_.Logged("Retrying ["));
}

TEST_F(RetryTest, LostAnswersOfAReadAreSentAgain) {
    InitAndClearLog();
    azemu::FaultSpec fault;
    fault.method = "GET";
    fault.path = "/snapshots/snapA";
    fault.action = azemu::FaultAction::Drop;
    fault.times = 2;
    emu_->injectFault(fault);
    AzureDiskSnapShotInfo snapshot;
    ASSERT_TRUE(api_->VerifyAzureSnapshot(SnapshotPath("snapA"), snapshot).IsSuccess());
    EXPECT_EQ(3u, Sent("GET", "/snapshots/snapA").size());
    EXPECT_EQ("snapA", snapshot.name);
}

// The PUT is not sent again with its old body; the settled VM shows that
// the update was carried out, so the attach stands.
TEST_F(RetryTest, VmUpdateWhoseAnswerIsLostIsNotSentAgainButJudgedByTheVm) {
    InitAndClearLog();
    azemu::FaultSpec fault;
    fault.method = "PUT";
    fault.path = "/virtualMachines/kxvm";
    fault.action = azemu::FaultAction::Drop;
    fault.afterProcessing = true;
    fault.times = 2;
    emu_->injectFault(fault);
    AzureDiskInfo disk = instance_.disks[0];
    disk.id = emu_->diskId("spare");
    disk.name = "spare";
    int lun = -1;
    EXPECT_TRUE(api_->AttachAzureDiskToVM(disk, instance_, lun).IsSuccess());
    EXPECT_EQ(1u, Sent("PUT", "/virtualMachines/kxvm").size());
    EXPECT_GE(lun, 0);
    EXPECT_TRUE(record_.Logged("this request is not sent again"));
}

TEST_F(RetryTest, OperationLinkToAnotherOriginIsRefusedWithoutSendingTheToken) {
    InitAndClearLog();
    Recorder elsewhere;
    std::string response;
    const CUxError err = api_->PollForAsyncOperation(elsewhere.Url("/operations/op1"), response);
    EXPECT_EQ(774, err.Code());
    EXPECT_TRUE(record_.Logged("Refusing to send a Resource Manager request to [" +
                               elsewhere.Url("/operations/op1") + "]"));
    EXPECT_EQ(0u, elsewhere.Requests());
    EXPECT_TRUE(Sent("*").empty());
}

TEST_F(RetryTest, MetadataServiceRequestsNeverCarryTheToken) {
    ASSERT_TRUE(Init().IsSuccess());
    const auto metadata = Sent("GET", "/metadata/");
    ASSERT_EQ(2u, metadata.size());
    for (const azemu::RequestRecord& request : metadata) {
        EXPECT_EQ("http", request.listener);
        EXPECT_EQ("<absent>", Header(request, "Authorization")) << request.url;
    }
    const auto vm = Sent("GET", "/virtualMachines/");
    ASSERT_EQ(1u, vm.size());
    EXPECT_NE("<absent>", Header(vm[0], "Authorization"));
}

}  // namespace
}  // namespace apitest
