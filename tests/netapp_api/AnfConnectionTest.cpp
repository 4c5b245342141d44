// The NetApp Files REST client's connection half against a loopback server:
// token, instance details, both error shapes, operation links and the
// monitoring loop with its exact retry arithmetic.
#include <chrono>
#include <string>
#include <vector>

#include "AnfApiTestSupport.h"

namespace anftest {
namespace {

using cloudtest::LoopbackServer;
using cloudtest::Reply;
using cloudtest::SeenRequest;

constexpr const char* kOperationLink =
    "subscriptions/sub-1/providers/Microsoft.NetApp/locations/westeurope/operationResults/"
    "op-1?api-version=2019-11-01";
constexpr const char* kOperationPath =
    "/subscriptions/sub-1/providers/Microsoft.NetApp/locations/westeurope/operationResults/op-1";

Reply Status(const std::string& status, const std::string& extra = "") {
    return {200, R"({"status":")" + status + "\"" + extra + "}", {}};
}

class AnfConnectionTest : public AnfApiTest {
protected:
    void ServeToken(Reply reply) {
        server_.OnFixed("GET", "/metadata/identity/oauth2/token", std::move(reply));
    }
    void ServeInstance(const std::string& document) {
        server_.OnFixed("GET", "/metadata/instance", {200, document, {}});
    }
    // Monitors kOperationLink; the replies answer its polls in turn.
    int Monitor(std::vector<Reply> replies, int opKind, AzureNetApp::AzureAsyncOpInfo& op) {
        server_.On("GET", kOperationPath, Sequence(std::move(replies)));
        op.asyncOpUrl = kOperationLink;
        return api_->monitorSnapOpProgress(op, opKind);
    }
    size_t Polls() const { return server_.RequestsTo("/operationResults/").size(); }
};

TEST_F(AnfConnectionTest, ConnectAsksTheMetadataServiceOnceForATokenOfTheConfiguredEndpoint) {
    Connect();
    AzureNetApp::AzureInstanceInfo instance;
    EXPECT_EQ(0, api_->rest_connectToArray(instance));
    EXPECT_TRUE(Logged("Already connected to ANF"));
    const std::vector<SeenRequest> seen = server_.Requests();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("/metadata/identity/oauth2/token?api-version=2019-08-15&resource=" + server_.Url(),
              seen[0].target);
    EXPECT_EQ("true", seen[0].Header("Metadata"));
    EXPECT_FALSE(seen[0].HasHeader("Authorization"));
    EXPECT_TRUE(Logged("Start : Connect to ANF"));
    EXPECT_TRUE(Logged("End : Connect to ANF - done"));
}

TEST_F(AnfConnectionTest, ATokenResponseWithoutAccessTokenIsThirteen) {
    const Reply replies[] = {
        {200, R"({"token_type":"Bearer","expires_in":"3599"})", {}},
        {200, R"({"access_token":""})", {}},
        {200, R"({"access_token":42})", {}},
        {200, "<html>not json</html>", {}},
        {200, "", {}},
    };
    for (const Reply& reply : replies) {
        LoopbackServer server;
        cloudtest::ScopedEndpoints endpoints(server);
        server.OnFixed("GET", "/metadata/identity/oauth2/token", reply);
        TestableAPI api(&host_.Record(0));
        AzureNetApp::AzureInstanceInfo instance;
        EXPECT_EQ(13, api.rest_connectToArray(instance)) << reply.body;
        EXPECT_NE(std::string::npos, api.getErrorString().find("no access token"));
    }
}

TEST_F(AnfConnectionTest, ATokenRefusalCarriesTheMetadataServicesError) {
    ServeToken(
        {400, R"({"error":"invalid_request","error_description":"Identity not found"})", {}});
    AzureNetApp::AzureInstanceInfo instance;
    EXPECT_EQ(13, api_->rest_connectToArray(instance));
    EXPECT_EQ(
        "Azure error code : \"invalid_request\", Azure error message : \"Identity not found\"",
        api_->getRESTErrorString());
    EXPECT_TRUE(Logged("13-Azure error code : \"invalid_request\""));
    // Without a token the client connects afresh next time.
    EXPECT_EQ(13, api_->rest_connectToArray(instance));
    EXPECT_EQ(2u, server_.Requests().size());
}

TEST_F(AnfConnectionTest, InstanceDetailsWithTheNetworkSection) {
    Connect();
    ServeInstance(cloudtest::InstanceDocument("sub-1", "rg-1", {"10.20.0.4", "10.20.1.4"}));
    AzureNetApp::AzureInstanceInfo instance;
    EXPECT_EQ(
        0, api_->rest_getInstanceDetails(instance, ANF_API_CONST::ANF_GET_INSTANCE_FLAG_EXTENDED));
    EXPECT_EQ("sub-1", instance.subscriptionId);
    EXPECT_EQ("rg-1", instance.resourceGroupName);
    EXPECT_EQ("kxvm", instance.name);
    EXPECT_EQ("westeurope", instance.location);
    EXPECT_FALSE(instance.vmId.empty());
    ASSERT_EQ(2u, instance.networkInfo.interfaces.size());
    EXPECT_EQ(std::vector<std::string>{"10.20.0.4"},
              instance.networkInfo.interfaces[0].privateIPv4);
    const std::vector<SeenRequest> seen = server_.RequestsTo("/metadata/instance");
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("/metadata/instance?api-version=2019-08-15", seen[0].target);
    EXPECT_EQ("true", seen[0].Header("Metadata"));
    EXPECT_TRUE(Logged("Start : Getting Instance Info"));
    EXPECT_TRUE(Logged("End : Getting Instance Info"));
    // Without the extended flag the network section is left out.
    EXPECT_EQ(0,
              api_->rest_getInstanceDetails(instance, ANF_API_CONST::ANF_GET_INSTANCE_FLAG_NONE));
    EXPECT_TRUE(instance.networkInfo.interfaces.empty());
}

TEST_F(AnfConnectionTest, AFailedInstanceRequestIsFifteen) {
    Connect();
    server_.OnFixed("GET", "/metadata/instance",
                    {500, R"({"error":"internal","error_description":"try later"})", {}});
    AzureNetApp::AzureInstanceInfo instance;
    EXPECT_EQ(15, api_->rest_getInstanceDetails(instance, 0));
    EXPECT_TRUE(
        Logged("15-{Azure error code : \"internal\", Azure error message : \"try later\"}"
               "-url-[instance?api-version=2019-08-15]"));
}

TEST_F(AnfConnectionTest, RequestsWithoutAClientFailInsteadOfCrashing) {
    AzureNetApp::AzureInstanceInfo instance;
    EXPECT_EQ(15, api_->rest_getInstanceDetails(instance, 0));
    std::string response;
    EXPECT_EQ(15, api_->rest_getAsyncOpDetails(kOperationLink, response));
    AzureNetApp::AzureAsyncOpInfo op;
    api_->SetRetries(3, 0);
    op.asyncOpUrl = kOperationLink;
    EXPECT_EQ(15, api_->monitorSnapOpProgress(op, 1));
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(AnfConnectionTest, InstanceDocumentVariants) {
    AzureNetApp::AzureInstanceInfo instance;
    const int extended = ANF_API_CONST::ANF_GET_INSTANCE_FLAG_EXTENDED;
    EXPECT_EQ(14, api_->processGetInstanceDetailsResp("<html/>", instance, 0));
    EXPECT_TRUE(Logged("Invalid JSON object encountered [<html/>]"));
    EXPECT_EQ(14, api_->processGetInstanceDetailsResp(R"({"network":{}})", instance, 0));
    EXPECT_TRUE(Logged("Failed to find instance compute details. [{\"network\":{}}]"));
    EXPECT_EQ(14, api_->processGetInstanceDetailsResp(
                      cloudtest::InstanceDocument("", "rg-1", {"10.0.0.4"}), instance, extended));
    EXPECT_TRUE(Logged("Failed to find instance details. ["));
    // Compute complete, network missing: still 0 with the extended flag.
    EXPECT_EQ(0, api_->processGetInstanceDetailsResp(
                     R"({"compute":{"subscriptionId":"s","resourceGroupName":"r"}})", instance,
                     extended));
    EXPECT_TRUE(Logged("Failed to find instance network details. ["));
    EXPECT_EQ(0, api_->processGetInstanceDetailsResp(
                     R"({"compute":{"subscriptionId":"s","resourceGroupName":"r"},"network":{}})",
                     instance, extended));
    EXPECT_TRUE(
        Logged("Failed to parse instance network details, tag [interface] not found. [{}]"));
    EXPECT_TRUE(Logged("Failed to parse instance network details. [{}]"));
    // Numbers where text belongs read as absent.
    EXPECT_EQ(14, api_->processGetInstanceDetailsResp(
                      R"({"compute":{"subscriptionId":7,"resourceGroupName":"r"}})", instance, 0));
}

TEST_F(AnfConnectionTest, BadInterfacesAreSkippedAndLogged) {
    AzureNetApp::AzureInstanceInfo instance;
    const std::string document = R"({"compute":{"subscriptionId":"s","resourceGroupName":"r"},
        "network":{"interface":[
            {"ipv6":{}},
            {"ipv4":{"subnet":[]}},
            {"ipv4":{"ipAddress":[{"privateIpAddress":""},{"publicIpAddress":"1.2.3.4"}]}},
            "not an object",
            {"ipv4":{"ipAddress":[{"privateIpAddress":"10.0.0.7"},{"privateIpAddress":""}]}}
        ]}})";
    EXPECT_EQ(0, api_->processGetInstanceDetailsResp(
                     document, instance, ANF_API_CONST::ANF_GET_INSTANCE_FLAG_EXTENDED));
    ASSERT_EQ(1u, instance.networkInfo.interfaces.size());
    EXPECT_EQ(std::vector<std::string>{"10.0.0.7"}, instance.networkInfo.interfaces[0].privateIPv4);
    EXPECT_TRUE(Logged("Failed to parse instance network details, tag [ipv4] not found."));
    EXPECT_TRUE(Logged("Failed to parse instance network details, tag [ipAddress] not found."));
    EXPECT_TRUE(Logged("Invalid IPv4 private address found : [{\"privateIpAddress\":\"\"}] "));
    EXPECT_TRUE(Logged("Failed to parse network interface ["));
}

TEST_F(AnfConnectionTest, DiagnosticLoggingDumpsRecordsButNeverTheToken) {
    AzureNetApp::ANFArrayConfigs configs;
    configs.diagnosticLogging = true;
    api_->setConfigs(configs);
    ASSERT_TRUE(api_->Logging());
    Connect();
    ServeInstance(cloudtest::InstanceDocument("sub-1", "rg-1", {"10.20.0.4"}));
    AzureNetApp::AzureInstanceInfo instance;
    EXPECT_EQ(0, api_->rest_getInstanceDetails(instance, 1));
    EXPECT_TRUE(Logged("Dump of AzureAccessTokenInfo [access_token(length) : [" +
                       std::to_string(std::string(kToken).size()) + "] expires_in : [3599]"));
    EXPECT_TRUE(Logged("Dump of AzureInstanceInfo [subscriptionId : [sub-1]"));
    EXPECT_TRUE(Logged("Response for URL [", "KXSnapRESTAPI_ANF"));
    for (const kxsnap::LogEntry& entry : host_.Log())
        EXPECT_EQ(std::string::npos, entry.text.find("anf-token")) << entry.text;
    EXPECT_EQ(std::string::npos, platformLog_.Text().find("anf-token"));
}

TEST_F(AnfConnectionTest, ConfigsTakeOnlyPositiveValues) {
    AzureNetApp::ANFArrayConfigs configs;
    configs.retryCount = 0;
    configs.retryInterval = -5;
    TestableAPI fresh(&host_.Record(0));
    EXPECT_TRUE(fresh.setConfigs(configs));
    EXPECT_EQ(1440, fresh.RetryCount());
    EXPECT_EQ(30, fresh.RetryInterval());
    EXPECT_FALSE(fresh.Logging());
    configs.retryCount = 7;
    configs.retryInterval = 2;
    fresh.setConfigs(configs);
    EXPECT_EQ(7, fresh.RetryCount());
    EXPECT_EQ(2, fresh.RetryInterval());
    TestableAPI silent(nullptr);
    EXPECT_FALSE(silent.enableLogging());
}

// Resource Manager's error shape and the metadata service's: neither reads
// as the other. `code` is LastAzureError's code, `text` getRESTErrorString's
// (nullptr: not checked).
TEST_F(AnfConnectionTest, ErrorShapes) {
    struct Case {
        const char* body;
        bool metadata;
        bool found;
        const char* text;
        const char* code;
    };
    // clang-format off
    const Case cases[] = {
        {R"({"error":{"code":"Conflict","message":"busy","details":[]}})", false, true,
         "Azure error code : \"Conflict\", Azure error message : \"busy\"", "Conflict"},
        {"<html>Bad Gateway</html>", false, false,
         "Failed to parse response as JSON. Response [<html>Bad Gateway</html>]", ""},
        {R"({"status":"Failed"})", false, false, "\"error\" tag not found in REST error response",
         nullptr},
        {R"({"error":{"target":"x"}})", false, false,
         "\"code\"  and \"message\" tag not found in REST error response", nullptr},
        {R"({"error":"invalid_request"})", false, false, nullptr, nullptr},
        {R"({"error":"bad_request_102","error_description":"Required metadata header )"
         R"(not specified"})", true, true,
         "Azure error code : \"bad_request_102\", Azure error message : \"Required metadata "
         "header not specified\"", nullptr},
        {"not json", true, false, "", nullptr},
        {R"({"newest-versions":[]})", true, false,
         "\"error\"  and \"error_description\" tag not found in REST error response", nullptr},
    };
    // clang-format on
    for (const Case& c : cases) {
        api_->resetRESTErr();
        EXPECT_EQ(c.found, api_->extractErrorMessage(c.body, c.metadata)) << c.body;
        EXPECT_EQ(c.text ? c.text : api_->getRESTErrorString(), api_->getRESTErrorString());
        EXPECT_EQ(c.code ? c.code : api_->LastAzureError().code, api_->LastAzureError().code);
    }
    EXPECT_TRUE(Logged("Invalid REST error response. \"error\" tag not found"));
}

TEST(AnfAsyncLink, TheConfiguredEndpointIsStrippedWhateverItsLength) {
    KXSnapAzureNetAppAPI api(nullptr);
    {
        kxtest::ScopedEnv arm("KXSO_ARM_ENDPOINT", nullptr);
        EXPECT_EQ("subscriptions/s/providers/Microsoft.NetApp/locations/l/operationResults/o?a=1",
                  api.processAsyncURL(
                      "Azure-AsyncOperation: https://management.azure.com/subscriptions/"
                      "s/providers/Microsoft.NetApp/locations/l/operationResults/o?a=1\r\n"));
    }
    {
        kxtest::ScopedEnv arm("KXSO_ARM_ENDPOINT", "https://127.0.0.1:8443");
        EXPECT_EQ(
            "subscriptions/s/operationResults/o",
            api.processAsyncURL(" https://127.0.0.1:8443/subscriptions/s/operationResults/o \n"));
        // A link elsewhere is refused: grafted onto our base it would address
        // something else, followed as it is it would take the token along.
        EXPECT_EQ("", api.processAsyncURL("\r\nhttps://other.example/subscriptions/s\r\n"));
        EXPECT_EQ("", api.processAsyncURL("https://127.0.0.1:9443/subscriptions/s"));
        EXPECT_EQ("", api.processAsyncURL("http://127.0.0.1:8443/subscriptions/s"));
        EXPECT_NE(std::string::npos,
                  api.getErrorString().find("Refusing to follow the operation link [https://"
                                            "other.example/subscriptions/s]"));
    }
}

TEST_F(AnfConnectionTest, RunningOperationsArePolledUntilTheySucceed) {
    Connect();
    api_->SetRetries(10, 0);
    AzureNetApp::AzureAsyncOpInfo op;
    EXPECT_EQ(0, Monitor({Status("InProgress", R"(,"percentComplete":50)"), Status("Creating"),
                          Status("Creating", R"(,"percentComplete":1e308)"),
                          Status("Succeeded", R"(,"startTime":"t0","endTime":"t1",)"
                                              R"("properties":{"resourceName":"acc/pool/vol"})")},
                         ANF_API_CONST::ANF_OP_CREATE_CLONE, op));
    EXPECT_EQ(4u, Polls());
    EXPECT_EQ("acc/pool/vol", op.resourceName);
    EXPECT_EQ("t0", op.startTime);
    EXPECT_EQ("t1", op.endTime);
    EXPECT_TRUE(Logged("Azure async operation status [InProgress] , progress [50.000000]"));
    EXPECT_TRUE(Logged("Azure async operation status [Creating] , progress [-1.000000]"));
    EXPECT_TRUE(Logged("Azure async operation succeeded."));
    EXPECT_TRUE(Logged("Monitoring Azure async operation - try [4/10]", "KXSnapAzureNetAppAPI"));
}

// How a monitored operation ends, by its status documents, the operation's
// kind and the retry count: the code, the polls spent and the error kept.
struct MonitorCase {
    const char* name;
    std::vector<Reply> replies;
    int opKind;
    int retries;
    int code;
    size_t polls;
    const char* errorText;  // in getRESTErrorString(), or else getErrorString()
    const char* logged;
};

class AnfMonitorOutcome : public AnfConnectionTest,
                          public ::testing::WithParamInterface<MonitorCase> {};

TEST_P(AnfMonitorOutcome, EndsWithTheCodeAfterThePollsItNeeds) {
    const MonitorCase& c = GetParam();
    Connect();
    api_->SetRetries(c.retries, 0);
    AzureNetApp::AzureAsyncOpInfo op;
    EXPECT_EQ(c.code, Monitor(c.replies, c.opKind, op));
    const std::vector<SeenRequest> polls = server_.RequestsTo("/operationResults/");
    EXPECT_EQ(c.polls, polls.size());
    for (const SeenRequest& poll : polls) {
        // The loopback endpoint is plain HTTP: the token travels over HTTPS only.
        EXPECT_FALSE(poll.HasHeader("Authorization"));
        EXPECT_EQ("/" + std::string(kOperationLink), poll.target);
    }
    const std::string error = api_->getRESTErrorString() + "|" + api_->getErrorString();
    EXPECT_NE(std::string::npos, error.find(c.errorText)) << error;
    EXPECT_TRUE(Logged(c.logged)) << c.logged;
    EXPECT_EQ(c.code == 18, Logged("doesn't exist"));
}

std::string FailedWith(const std::string& error) {
    return R"(,"error":)" + error;
}

// A cancelled operation never ends otherwise: it fails at once with Azure's
// reason, where the monitor used to poll it for hours. A failed delete of a
// resource not found is 18 ("already gone"), every other failure 17.
namespace K = ANF_API_CONST;
const char* const kFailed = "Azure async operation failed.";
const char* const kCanceled = "Azure async operation canceled.";
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Outcomes, AnfMonitorOutcome,
    ::testing::Values(
        MonitorCase{"StatusWordsInAnyCase", {Status("succeeded")}, K::ANF_OP_CREATE_SNAP, 2, 0, 1,
                    "", "Azure async operation succeeded."},
        MonitorCase{"AtMostRetryCountMinusOnePolls", {Status("InProgress")}, K::ANF_OP_REVERT_VOL,
                    4, 25, 3,
                    "Azure async operation did not complete in time. Last Status [InProgress]",
                    "Azure async operation monitoring - End (exhausted retry) Status [25]"},
        MonitorCase{"ExhaustedFailuresKeepTheLastCode", {{503, "", {}}}, K::ANF_OP_CREATE_SNAP, 3,
                    15, 2, "",
                    "Azure async operation monitoring - End (exhausted retry) Status [15]"},
        MonitorCase{"CancelledWithItsReason",
                    {Status("Cancelled",
                            FailedWith(R"({"code":"OperationPreempted","message":"overtaken"})"))},
                    K::ANF_OP_REVERT_VOL, 1440, 17, 1,
                    "\"OperationPreempted\", Azure error message : \"overtaken\"", kCanceled},
        MonitorCase{"CancelledWithoutAnError", {Status("Canceled")}, K::ANF_OP_CREATE_CLONE, 1440,
                    17, 1, "The operation was canceled without an error code or message",
                    kCanceled},
        MonitorCase{"DeleteSnapOfAResourceNotFound",
                    {Status("Failed", R"(,"properties":{"resourceName":"snap-1"})" +
                                          FailedWith(R"({"code":"resourcenotfound"})"))},
                    K::ANF_OP_DELETE_SNAP, 5, 18, 1, "", "The resource [snap-1] doesn't exist."},
        MonitorCase{"DeleteCloneNotFound", {Status("Failed", FailedWith(R"({"code":"NotFound"})"))},
                    K::ANF_OP_DELETE_CLONE, 5, 18, 1, "", kFailed},
        MonitorCase{"CreateCloneOfAResourceNotFound",
                    {Status("Failed",
                            FailedWith(R"({"code":"resourcenotfound","message":"gone"})"))},
                    K::ANF_OP_CREATE_CLONE, 5, 17, 1, "resourcenotfound", kFailed},
        MonitorCase{"DeleteSnapConflict", {Status("Failed", FailedWith(R"({"code":"Conflict"})"))},
                    K::ANF_OP_DELETE_SNAP, 5, 17, 1, "Conflict", kFailed},
        // A poll failing with "NotFound" before an operation that ends
        // "Failed" without saying why: a failure, not "already deleted".
        MonitorCase{"FailedWithoutErrorObject",
                    {{404, R"({"error":{"code":"NotFound","message":"x"}})", {}}, Status("Failed")},
                    K::ANF_OP_DELETE_SNAP, 5, 17, 2, "", kFailed}),
    [](const ::testing::TestParamInfo<MonitorCase>& info) { return info.param.name; });
// clang-format on

// A poll that fails says nothing about the operation: it waits like one
// still running, longer after each failure in a row, and never less than the
// server's Retry-After.
TEST_F(AnfConnectionTest, AFailedPollWaitsLikeARunningOperation) {
    Connect();
    api_->SetRetries(6, 0);
    AzureNetApp::AzureAsyncOpInfo op;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        0,
        Monitor(
            {{200, R"({"percentComplete":10})", {}},
             {200, "<html/>", {}},
             {500, R"({"error":{"code":"Internal","message":"x"}})", {}},
             {429, R"({"error":{"code":"TooManyRequests","message":"x"}})", {{"Retry-After", "1"}}},
             Status("Succeeded")},
            ANF_API_CONST::ANF_OP_CREATE_SNAP, op));
    // Back-off 0.1 + 0.2 + 0.4 s, then the server's second.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1700));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(5u, Polls());
    EXPECT_TRUE(Logged("Failure when trying to parse async operation details - retrying"));
    EXPECT_TRUE(Logged("Failure when trying to get async operation details - retrying"));
    EXPECT_TRUE(Logged("-1-{Azure error code : \"Internal\""));
}

}  // namespace
}  // namespace anftest
