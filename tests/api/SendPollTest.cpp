// Sending and both polls: status texts in any letter case, states that never
// end, broken status documents, DELETE of a missing object and a PUT whose
// answer lacks the operation URL.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "EmulatorFixture.h"
#include "LoopbackServer.h"

namespace apitest {
namespace {

constexpr const char* kNoWaitSettings =
    "[Ferrolink]\n"
    "nAzureRESTAPIReqPollIntervalSecs=1\n"
    "nAzureRESTAPIReqWaitTimeSecs=0\n"
    "nAzureWaitTimeForDeviceRefresh=0\n";

using SendPollTest = EmulatorTest;

// A plain-HTTP server standing in for the management endpoint (the client
// follows links only there): it describes this VM, which Init reads first,
// and answers the status polls of "/op" with `answers` in turn, the last one
// for ever after.
class ScriptedEndpoint {
public:
    ScriptedEndpoint(const azemu::Emulator& emu, const std::vector<std::string>& answers,
                     int status)
        : arm_("KXSO_ARM_ENDPOINT", server_.Url("/").c_str()) {
        server_.OnFixed("GET", ".*/virtualMachines/.*", {200, emu.vmDocument().dump(), {}});
        auto next = std::make_shared<std::atomic<size_t>>(0);
        server_.On("GET", "/op", [answers, status, next](const kxtest::RecordedRequest&) {
            const size_t index = std::min(next->fetch_add(1), answers.size() - 1);
            return kxtest::CannedReply{status, answers[index], {}};
        });
    }
    std::string Url() const { return server_.Url("/op"); }
    size_t Served() const { return server_.RequestsTo("/op").size(); }

private:
    kxtest::LoopbackServer server_;
    kxtest::ScopedEnv arm_;
};

// Both polls against scripted status documents: states in any letter case,
// states that never end (polled until the time-out, which kNoWaitSettings
// makes 0 s), broken or refused documents, a cancelled operation (ends at
// once with Azure's reason). The message is the error's whole text, or with
// a leading '~' a part of it.
TEST_F(SendPollTest, ScriptedStatusDocumentsEndThePollAsTheyShould) {
    struct Case {
        std::vector<std::string> answers;
        int httpStatus;
        bool provisioning;  // else the asynchronous-operation poll
        bool noWait;
        int code;  // 0: success
        std::string message;
        size_t served;  // 0: at least two
        std::string logged;
    };
    const std::string inProgress = R"({"properties":{"provisioningState":"Updating"}})";
    const std::string timedOut = "Timed out while fetching operation status";
    const std::string failed = "Operation failed for the resource";
    const std::string noStatus = "Failed to fetch operation status for [URL]";
    // clang-format off
    const Case cases[] = {
        {{R"({"status":"inprogress"})", R"({"status":"succeeded","name":"op"})"}, 200, false,
         false, 0, "", 2, "Operation success for [URL]"},
        {{R"({"status":"FAILED","error":{"code":"x"}})"}, 200, false, false, 774, failed, 1,
         "Operation failed for [URL]"},
        {{R"({"status":"Paused"})"}, 200, false, true, 1627, timedOut, 0,
         "Maximum wait time [0 secs] for aync operation exceeded. Unable to fetch operation "
         "status for [URL]"},
        {{"<html>gateway</html>"}, 200, false, false, 774, noStatus, 1, ""},
        // A poll is sent once: its loop, not the request, decides what happens next.
        {{R"({"error":"NotFound"})"}, 404, false, false, 774, "~" + noStatus, 1, ""},
        // A 503 says nothing about the operation: asked about again until the time-out.
        {{R"({"error":"busy"})"}, 503, false, true, 1627, timedOut, 0,
         "Operation status not available for [URL]"},
        {{R"({"status":"inprogress"})",
          R"({"status":"cancelled","error":{"code":"OperationCanceled","message":"stopped"}})"},
         200, false, true, 774, failed + " [OperationCanceled] [stopped]", 2, ""},
        {{R"({"status":"Canceled"})"}, 200, false, false, 774,
         failed + " [the operation was canceled without an error code or message]", 1, ""},
        {{inProgress, R"({"properties":{"provisioningState":"succeeded"}})"}, 200, true, false, 0,
         "", 2, "Resource provisioning succeeded for [URL]"},
        {{R"({"name":"d"})"}, 200, true, false, 1,
         "Failed to find properties section in json reponse", 1, ""},
        {{R"({"properties":{"provisioningState":"Failed"}})"}, 200, true, false, 774,
         "Provisioning failed for the resource", 1, ""},
        {{inProgress}, 200, true, true, 1627, timedOut, 0,
         "Maximum wait time [0 secs] for resource provisioning exceeded. Unable to fetch "
         "provisioning state for the resource [URL]"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answers.back());
        UseSettings(c.noWait ? kNoWaitSettings : kFastSettings);
        ScriptedEndpoint server(*emu_, c.answers, c.httpStatus);
        InitAndClearLog();
        std::string response;
        const std::string url = server.Url();
        const auto start = std::chrono::steady_clock::now();
        const CUxError err = c.provisioning ? api_->PollForResourceProvisioningState(
                                                  AZURE_OP_CREATE_DISK, url, response)
                                            : api_->PollForAsyncOperation(url, response);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        const auto withUrl = [&url](std::string text) {
            const size_t at = text.find("[URL]");
            return at == std::string::npos ? text : text.replace(at + 1, 3, url);
        };
        EXPECT_EQ(err.Code(), c.code) << err.AsString();
        if (c.message[0] == '~') {
            EXPECT_NE(err.Message().find(withUrl(c.message.substr(1))), std::string::npos);
        } else if (c.code != 0) {
            EXPECT_EQ(err.Message(), withUrl(c.message));
        } else {
            EXPECT_EQ(response, c.answers.back());
        }
        if (c.served == 0) {
            EXPECT_GE(server.Served(), 2u);
        } else {
            EXPECT_EQ(server.Served(), c.served);
        }
        EXPECT_TRUE(record_.Logged(withUrl(c.logged))) << withUrl(c.logged);
        // Only an operation still running says so; one that ends early never
        // reaches the time-out.
        const bool running = c.answers[0].find("inprogress") != std::string::npos ||
                             c.answers[0].find("Updating") != std::string::npos;
        EXPECT_EQ(running, record_.Logged("in progress for [" + url + "]"));
        if (c.code != 1627) {
            EXPECT_FALSE(record_.Logged("Maximum wait time"));
        }
        if (c.provisioning && !c.noWait) {
            EXPECT_TRUE(record_.LoggedExactly(
                "Using status poll interval [0 millisec] max waitime [5 sec]"));
        }
        // A fresh client: the old one's kept-alive connection would hold up
        // the server's stop.
        api_ = std::make_unique<KxSnapAzureAPI>();
    }
}

TEST_F(SendPollTest, DeleteOfAMissingObjectSucceedsOn404) {
    azemu::Json scenario = DefaultScenario();
    scenario["settings"] = {{"deleteMissingStatus", 404}};
    StartEmulator(scenario);
    InitAndClearLog();
    ASSERT_TRUE(api_->DeleteAzureDisk("gone-disk", instance_).IsSuccess());
    const auto deletes = Sent("DELETE", "/disks/gone-disk");
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0].status, 404);
    EXPECT_TRUE(record_.Logged("Ignore 404 error on DELETE operation. Object NOT found ["));
}

TEST_F(SendPollTest, FailedSendCarriesTheAnswerAndCurlText) {
    InitAndClearLog();
    InjectFault("GET", "/snapshots/snapA", azemu::FaultAction::Error,
                -1);  // every retry meets it too
    AzureDiskSnapShotInfo snapshot;
    const CUxError err = api_->VerifyAzureSnapshot(SnapshotPath("snapA"), snapshot);
    EXPECT_EQ(err.Code(), 774);
    EXPECT_EQ(err.Message().rfind("http resp: [", 0), 0u) << err.Message();
    EXPECT_NE(err.Message().find("InternalServerError"), std::string::npos);
    EXPECT_NE(err.Message().find("] curl error: ["), std::string::npos);
    EXPECT_EQ(api_->GetLastHttpStatus(), 500);
}

// Azure took the update but its answer has no operation URL to follow: the
// VM is read until it settles, and shows the disk attached.
TEST_F(SendPollTest, AttachAnswerWithoutAsyncOperationHeaderIsJudgedByTheVm) {
    InitAndClearLog();
    InjectFault("PUT", "/virtualMachines/kxvm", azemu::FaultAction::NoAsyncHeader);
    const AzureInstanceInfo before = instance_;
    AzureDiskInfo disk = before.disks[0];
    disk.id = emu_->diskId("spare");
    disk.name = "spare";
    int lun = -1;
    const CUxError err = api_->AttachAzureDiskToVM(disk, instance_, lun);
    ASSERT_TRUE(err.IsSuccess()) << err.AsString();
    EXPECT_TRUE(record_.Logged("The VM shows the update carried out"));
    EXPECT_EQ(Sent("PUT", "/virtualMachines/kxvm").size(), 1u);
    EXPECT_EQ(instance_.disks.size(), before.disks.size() + 1);
    EXPECT_GE(lun, 0);
}

}  // namespace
}  // namespace apitest
