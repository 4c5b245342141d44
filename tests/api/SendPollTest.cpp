// Sending and both polls: status texts in any letter case, states that never
// end, broken status documents, DELETE of a missing object and a PUT whose
// answer lacks the operation URL.
#include <chrono>
#include <string>

#include "EmulatorFixture.h"
#include "ScriptedServer.h"

namespace apitest {
namespace {

constexpr const char* kNoWaitSettings =
    "[Ferrolink]\n"
    "nAzureRESTAPIReqPollIntervalSecs=1\n"
    "nAzureRESTAPIReqWaitTimeSecs=0\n"
    "nAzureWaitTimeForDeviceRefresh=0\n";

class SendPollTest : public EmulatorTest {
protected:
    // This VM's description, which the client reads first from its
    // management endpoint.
    std::string Vm() const { return emu_->vmDocument().dump(); }
};

// The scripted server as the management endpoint: the client follows links
// only there. Init after this reads the VM from it (its greeting).
kxtest::ScopedEnv ArmAt(const ScriptedServer& server) {
    return kxtest::ScopedEnv("KXSO_ARM_ENDPOINT", server.Url("/").c_str());
}

TEST_F(SendPollTest, LowerCaseSucceededEndsTheAsyncPoll) {
    ScriptedServer server({R"({"status":"inprogress"})", R"({"status":"succeeded","name":"op"})"},
                          200, Vm());
    const kxtest::ScopedEnv arm = ArmAt(server);
    InitAndClearLog();
    std::string response;
    const std::string url = server.Url("/operations/op1");
    const CUxError err = api_->PollForAsyncOperation(url, response);
    ASSERT_TRUE(err.IsSuccess()) << err.AsString();
    EXPECT_EQ(response, R"({"status":"succeeded","name":"op"})");
    EXPECT_EQ(server.Served(), 2u);
    EXPECT_TRUE(record_.LoggedExactly("Operation in progress for [" + url + "]"));
    EXPECT_TRUE(record_.LoggedExactly("Operation success for [" + url + "]"));
}

TEST_F(SendPollTest, FailedOperation) {
    ScriptedServer server({R"({"status":"FAILED","error":{"code":"x"}})"}, 200, Vm());
    const kxtest::ScopedEnv arm = ArmAt(server);
    InitAndClearLog();
    std::string response;
    const CUxError err = api_->PollForAsyncOperation(server.Url("/op"), response);
    EXPECT_EQ(err.Code(), 774);
    EXPECT_EQ(err.Message(), "Operation failed for the resource");
    EXPECT_TRUE(record_.Logged("Operation failed for ["));
}

TEST_F(SendPollTest, UnknownStatusIsPolledUntilTheTimeOut) {
    UseSettings(kNoWaitSettings);
    ScriptedServer server({R"({"status":"Paused"})"}, 200, Vm());
    const kxtest::ScopedEnv arm = ArmAt(server);
    InitAndClearLog();
    std::string response;
    const auto start = std::chrono::steady_clock::now();
    const CUxError err = api_->PollForAsyncOperation(server.Url("/op"), response);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(err.Code(), 1627);
    EXPECT_EQ(err.Message(), "Timed out while fetching operation status");
    EXPECT_GE(server.Served(), 2u);
    EXPECT_TRUE(record_.Logged(
        "Maximum wait time [0 secs] for aync operation exceeded. Unable to fetch operation status "
        "for ["));
    EXPECT_FALSE(record_.Logged("Operation in progress for"));
}

TEST_F(SendPollTest, StatusDocumentThatIsNotJsonFailsTheFetch) {
    ScriptedServer server({"<html>gateway</html>"}, 200, Vm());
    const kxtest::ScopedEnv arm = ArmAt(server);
    InitAndClearLog();
    std::string response;
    const std::string url = server.Url("/op");
    const CUxError err = api_->PollForAsyncOperation(url, response);
    EXPECT_EQ(err.Code(), 774);
    EXPECT_EQ(err.Message(), "Failed to fetch operation status for [" + url + "]");
}

TEST_F(SendPollTest, StatusFetchRefusedByTheServer) {
    ScriptedServer server({R"({"error":"NotFound"})"}, 404, Vm());
    const kxtest::ScopedEnv arm = ArmAt(server);
    InitAndClearLog();
    std::string response;
    const CUxError err = api_->PollForAsyncOperation(server.Url("/op"), response);
    EXPECT_EQ(err.Code(), 774);
    EXPECT_NE(err.Message().find("Failed to fetch operation status for ["), std::string::npos);
    // A poll is sent once: its loop, not the request, decides what happens next.
    EXPECT_EQ(server.Served(), 1u);
}

// A 503 says nothing about the operation: it is asked about again, after a
// wait, until the time-out.
TEST_F(SendPollTest, AStatusFetchAnswered503IsAskedAgainUntilTheTimeOut) {
    UseSettings(kNoWaitSettings);
    ScriptedServer server({R"({"error":"busy"})"}, 503, Vm());
    const kxtest::ScopedEnv arm = ArmAt(server);
    InitAndClearLog();
    std::string response;
    const CUxError err = api_->PollForAsyncOperation(server.Url("/op"), response);
    EXPECT_EQ(err.Code(), 1627);
    EXPECT_GE(server.Served(), 2u);
    EXPECT_TRUE(record_.Logged("Operation status not available for ["));
}

TEST_F(SendPollTest, LowerCaseProvisioningStateSucceeds) {
    ScriptedServer server({R"({"properties":{"provisioningState":"Updating"}})",
                           R"({"properties":{"provisioningState":"succeeded"}})"},
                          200, Vm());
    const kxtest::ScopedEnv arm = ArmAt(server);
    InitAndClearLog();
    std::string response;
    const std::string url = server.Url("/disk");
    ASSERT_TRUE(
        api_->PollForResourceProvisioningState(AZURE_OP_CREATE_DISK, url, response).IsSuccess());
    EXPECT_TRUE(record_.LoggedExactly("Resource provisioning in progress for [" + url + "]"));
    EXPECT_TRUE(record_.LoggedExactly("Resource provisioning succeeded for [" + url + "]"));
    EXPECT_TRUE(
        record_.LoggedExactly("Using status poll interval [0 millisec] max waitime [5 sec]"));
}

TEST_F(SendPollTest, ProvisioningWithoutPropertiesOrFailed) {
    std::string response;
    {
        ScriptedServer server({R"({"name":"d"})"}, 200, Vm());
        const kxtest::ScopedEnv arm = ArmAt(server);
        InitAndClearLog();
        const CUxError err = api_->PollForResourceProvisioningState(AZURE_OP_CREATE_DISK,
                                                                    server.Url("/d"), response);
        EXPECT_EQ(err.Code(), 1);
        EXPECT_EQ(err.Message(), "Failed to find properties section in json reponse");
    }
    {
        ScriptedServer server({R"({"properties":{"provisioningState":"Failed"}})"}, 200, Vm());
        const kxtest::ScopedEnv arm = ArmAt(server);
        InitAndClearLog();
        const CUxError err = api_->PollForResourceProvisioningState(AZURE_OP_CREATE_DISK,
                                                                    server.Url("/d"), response);
        EXPECT_EQ(err.Code(), 774);
        EXPECT_EQ(err.Message(), "Provisioning failed for the resource");
    }
}

TEST_F(SendPollTest, ProvisioningThatNeverEndsTimesOut) {
    UseSettings(kNoWaitSettings);
    ScriptedServer server({R"({"properties":{"provisioningState":"Updating"}})"}, 200, Vm());
    const kxtest::ScopedEnv arm = ArmAt(server);
    InitAndClearLog();
    std::string response;
    const CUxError err =
        api_->PollForResourceProvisioningState(AZURE_OP_CREATE_DISK, server.Url("/d"), response);
    EXPECT_EQ(err.Code(), 1627);
    EXPECT_EQ(err.Message(), "Timed out while fetching operation status");
    EXPECT_TRUE(
        record_.Logged("Maximum wait time [0 secs] for resource provisioning exceeded. "
                       "Unable to fetch provisioning state for the resource ["));
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

TEST_F(SendPollTest, ACancelledOperationEndsThePollAtOnce) {
    UseSettings(kNoWaitSettings);
    ScriptedServer server(
        {R"({"status":"inprogress"})",
         R"({"status":"cancelled","error":{"code":"OperationCanceled","message":"stopped"}})"},
        200, Vm());
    const kxtest::ScopedEnv arm = ArmAt(server);
    InitAndClearLog();
    std::string response;
    const CUxError err = api_->PollForAsyncOperation(server.Url("/op"), response);
    EXPECT_EQ(err.Code(), 774);
    EXPECT_EQ(err.Message(), "Operation failed for the resource [OperationCanceled] [stopped]");
    EXPECT_EQ(server.Served(), 2u);
    EXPECT_FALSE(record_.Logged("Maximum wait time"));
}

TEST_F(SendPollTest, ACancelledOperationWithoutAnErrorGetsAFixedText) {
    ScriptedServer server({R"({"status":"Canceled"})"}, 200, Vm());
    const kxtest::ScopedEnv arm = ArmAt(server);
    InitAndClearLog();
    std::string response;
    const CUxError err = api_->PollForAsyncOperation(server.Url("/op"), response);
    EXPECT_EQ(err.Message(),
              "Operation failed for the resource [the operation was canceled without an error "
              "code or message]");
}

}  // namespace
}  // namespace apitest
