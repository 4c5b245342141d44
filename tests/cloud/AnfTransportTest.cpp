// The NetApp Files HTTP transport against a loopback server: URLs, headers,
// the connect rules, the method mapping and what reaches the log.
#include <string>

#include <gtest/gtest.h>

#include "CloudTestSupport.h"
#include "KXSnapCloud/KXSnapAzureNetAppDS.h"
#include "KXSnapCloud/KXSnapAzureNetAppEndpoints.h"
#include "KXSnapCloud/KXSnapRESTAPI_ANF.h"
#include "support/TestEnv.h"
#include "support/TestHost.h"

namespace {

using cloudtest::LoopbackServer;
using cloudtest::Reply;
using cloudtest::SeenRequest;

constexpr const char* kTokenPath = "identity/oauth2/token?api-version=2019-08-15&resource=x";
constexpr const char* kSecretToken = "eyJ0eXAiOiJKV1QiLCJhbGciOi.secret-payload.sig";

class AnfTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_.Add(cloudtest::AnfRecord(1));
        server_.OnFixed("GET", "/metadata/identity/oauth2/token",
                        {200, cloudtest::TokenDocument(kSecretToken), {}});
        Configure(transport_);
    }

    void Configure(KXSnapRESTAPI_ANF& transport) {
        transport.setLogger(&host_.Record(0));
        transport.setBasePath(server_.Url());
        transport.setMetaBasePath(AzureNetApp::withoutScheme(server_.Url()) + "metadata/");
        transport.setProtocolType("http");
        transport.setAcceptTypeInHdr("Accept:application/json");
        transport.setContentTypeInHdr("Content-Type:application/json; charset=UTF-8");
        transport.setUserAgentHeaderInHdr("User-Agent:KxSnapAzure");
        transport.setMetaFetchInHdr("Metadata:true");
    }

    bool Connect() {
        std::string response;
        return transport_.connect(kTokenPath, "", response);
    }

    bool LogContains(const std::string& text) const { return host_.Logged(text, kTag); }

    static constexpr const char* kTag = "KXSnapRESTAPI_ANF";
    kxtest::TestHost host_;
    LoopbackServer server_;
    KXSnapRESTAPI_ANF transport_;
};

TEST_F(AnfTransportTest, BasePathKeepsWhatFollowsTheFirstScheme) {
    std::string url;
    transport_.setProtocolType("https");
    transport_.setBasePath("https://management.example/");
    transport_.formUrlPath("subscriptions", url, false);
    EXPECT_EQ("https://management.example/subscriptions", url);
    transport_.setBasePath("plain.example/base/");
    transport_.formUrlPath("x", url, false);
    EXPECT_EQ("https://plain.example/base/x", url);
    transport_.setBasePath("a://b://c/");
    transport_.formUrlPath("", url, false);
    EXPECT_EQ("https://b://c/", url);
    transport_.setMetaBasePath("169.254.169.254/metadata/");
    transport_.formUrlPath("instance", url, true);
    EXPECT_EQ("http://169.254.169.254/metadata/instance", url);
}

TEST_F(AnfTransportTest, RequestsBeforeConnectOrAfterDisconnectOrResetAreRefusedUnsent) {
    std::string response = "left over";
    EXPECT_FALSE(transport_.get("subscriptions", "", response));
    EXPECT_TRUE(response.empty());
    EXPECT_EQ(0, transport_.getHttpErrorCode());
    EXPECT_TRUE(server_.Requests().empty());
    EXPECT_TRUE(LogContains("Error:Connect module has to be called before making any queries."));

    ASSERT_TRUE(Connect());
    EXPECT_TRUE(transport_.disconnect());
    EXPECT_FALSE(transport_.get("subscriptions", "", response));
    ASSERT_TRUE(Connect());
    transport_.reset();
    EXPECT_FALSE(transport_.get("subscriptions", "", response));
    EXPECT_EQ(2u, server_.Requests().size());  // the two token requests
}

// The token request is a metadata GET without authorization; later plain
// HTTP requests never carry the stored token: it travels over HTTPS only.
TEST_F(AnfTransportTest, NoRequestOverPlainHttpCarriesAToken) {
    server_.OnFixed("GET", "/subscriptions", {200, R"({"value":[]})", {}});
    std::string response;
    ASSERT_TRUE(transport_.connect(kTokenPath, "", response));
    EXPECT_NE(std::string::npos, response.find(kSecretToken));
    transport_.setAccessToken("Bearer tok-123");
    ASSERT_TRUE(transport_.get("subscriptions?api-version=2019-11-01", "", response));
    EXPECT_EQ(R"({"value":[]})", response);
    EXPECT_EQ(200, transport_.getHttpErrorCode());
    const std::vector<SeenRequest> seen = server_.Requests();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("GET", seen[0].method);
    EXPECT_EQ("/metadata/" + std::string(kTokenPath), seen[0].target);
    EXPECT_EQ("true", seen[0].Header("Metadata"));
    EXPECT_EQ("KxSnapAzure", seen[0].Header("User-Agent"));
    EXPECT_EQ("application/json", seen[0].Header("Accept"));
    EXPECT_TRUE(LogContains("**  Meta REST call  **"));
    EXPECT_EQ("/subscriptions?api-version=2019-11-01", seen[1].target);
    EXPECT_FALSE(seen[1].HasHeader("Metadata"));
    for (const SeenRequest& request : seen)
        EXPECT_FALSE(request.HasHeader("Authorization"));
}

TEST_F(AnfTransportTest, MethodsMapOntoTheClientsMethodsAndAnswersComeBackWhole) {
    for (const char* method : {"POST", "PUT", "PATCH"}) {
        server_.OnFixed(method, "/r", {200, R"({"ok":true})", {}});
    }
    server_.OnFixed("DELETE", "/r", {204, "", {}});
    server_.OnFixed("GET", "/missing",
                    {404, R"({"error":{"code":"ResourceNotFound","message":"no"}})", {}});
    server_.OnFixed("PUT", "/snap",
                    {202, "{}", {{"Azure-AsyncOperation", "http://127.0.0.1/op/1?x=y"}}});
    ASSERT_TRUE(Connect());
    std::string response;
    EXPECT_TRUE(transport_.post("r", R"({"a":1})", response));
    EXPECT_TRUE(transport_.put("r", R"({"b":2})", response));
    EXPECT_TRUE(transport_.patch("r", "{}", response));
    EXPECT_EQ(R"({"ok":true})", response);
    response = "old";
    EXPECT_TRUE(transport_.del("r", "", response));  // an empty body is a success
    EXPECT_TRUE(response.empty());
    EXPECT_EQ(204, transport_.getHttpErrorCode());
    const std::vector<SeenRequest> seen = server_.RequestsTo("/r");
    ASSERT_EQ(4u, seen.size());
    EXPECT_EQ("POST", seen[0].method);
    EXPECT_EQ(R"({"a":1})", seen[0].body);
    EXPECT_EQ("PUT", seen[1].method);
    EXPECT_EQ("PATCH", seen[2].method);
    EXPECT_EQ("{}", seen[2].body);
    EXPECT_EQ("DELETE", seen[3].method);

    // A failure status keeps status and body.
    EXPECT_FALSE(transport_.get("missing", "", response));
    EXPECT_EQ(404, transport_.getHttpErrorCode());
    EXPECT_NE(std::string::npos, response.find("ResourceNotFound"));
    EXPECT_TRUE(LogContains("Error while processing the request. URL["));

    // Response headers come back as whole lines.
    ASSERT_TRUE(transport_.put("snap", "{}", response));
    std::string value = "old";
    ASSERT_TRUE(transport_.getResponseHeader("Azure-AsyncOperation:", value));
    EXPECT_NE(std::string::npos, value.find("http://127.0.0.1/op/1?x=y"));
    EXPECT_FALSE(transport_.getResponseHeader("Location:", value));
    EXPECT_TRUE(value.empty());
}

TEST_F(AnfTransportTest, AFailedConnectionLeavesTheTransportUnconnected) {
    // The refused token request is retried, at once.
    kxtest::ScopedSettings settings("[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n");
    KXSnapRESTAPI_ANF closed;
    Configure(closed);
    closed.setMetaBasePath("127.0.0.1:9/metadata/");
    std::string response;
    EXPECT_FALSE(closed.connect(kTokenPath, "", response));
    EXPECT_EQ(0, closed.getHttpErrorCode());
    EXPECT_FALSE(closed.get("subscriptions", "", response));
    EXPECT_TRUE(LogContains("Error while processing the request. URL[http://127.0.0.1:9/"));
}

TEST_F(AnfTransportTest, DiagnosticLoggingNeverShowsTheTokenAndReportsEmptyAnswers) {
    server_.OnFixed("DELETE", "/gone", {200, "", {}});
    transport_.setLogging(true);
    ASSERT_TRUE(Connect());
    std::string response;
    EXPECT_TRUE(transport_.del("gone", "", response));
    EXPECT_TRUE(LogContains("Computed URL [http://127.0.0.1:"));
    EXPECT_TRUE(LogContains("Response for URL [http://127.0.0.1:"));
    EXPECT_TRUE(LogContains(R"("access_token":"*****")"));
    EXPECT_TRUE(LogContains("Empty response received for request. URL["));
    for (const kxsnap::LogEntry& entry : host_.Log())
        EXPECT_EQ(std::string::npos, entry.text.find("secret-payload")) << entry.text;
}

TEST(AnfMasking, SecretsAreMaskedAndEverythingElseKept) {
    KXSnapRESTAPI_ANF transport;
    std::string out;
    transport.maskSensitiveDetails(
        R"({"access_token" : "abc.def\"ghi", "refresh_token":"r1","expires_in":"3599",)"
        R"("Password":"p","token_type":"Bearer"})",
        out);
    EXPECT_EQ(R"({"access_token" : "*****", "refresh_token":"*****","expires_in":"3599",)"
              R"("Password":"*****","token_type":"Bearer"})",
              out);
    transport.maskSensitiveDetails("Authorization: Bearer eyJabc.def\r\nAccept: x", out);
    EXPECT_EQ("Authorization: Bearer *****\r\nAccept: x", out);
    transport.maskSensitiveDetails(R"({"access_token":"unterminated)", out);
    EXPECT_EQ(R"({"access_token":"*****)", out);
    transport.maskSensitiveDetails(R"({"access_token":12,"x":"access_token"})", out);
    EXPECT_EQ(R"({"access_token":12,"x":"access_token"})", out);
    transport.maskSensitiveDetails("<html>plain</html>", out);
    EXPECT_EQ("<html>plain</html>", out);
}

TEST(AnfEndpoints, PublicCloudUnlessATestBaseIsSet) {
    {
        kxtest::ScopedEnv arm("KXSO_ARM_ENDPOINT", nullptr);
        kxtest::ScopedEnv imds("KXSO_IMDS_ENDPOINT", nullptr);
        EXPECT_EQ("https://management.azure.com/", AzureNetApp::managementBaseUrl());
        EXPECT_EQ("management.azure.com/", AzureNetApp::managementEndpoint());
        EXPECT_EQ("https", AzureNetApp::managementProtocol());
        EXPECT_EQ(ANF_API_CONST::AZURE_REST_API_META_BASE_EP, AzureNetApp::metadataBasePath());
    }
    kxtest::ScopedEnv arm("KXSO_ARM_ENDPOINT", "http://127.0.0.1:1234");
    kxtest::ScopedEnv imds("KXSO_IMDS_ENDPOINT", "http://127.0.0.1:99/");
    EXPECT_EQ("http://127.0.0.1:1234/", AzureNetApp::managementBaseUrl());
    EXPECT_EQ("127.0.0.1:1234/", AzureNetApp::managementEndpoint());
    EXPECT_EQ("http", AzureNetApp::managementProtocol());
    EXPECT_EQ("127.0.0.1:99/metadata/", AzureNetApp::metadataBasePath());
}

}  // namespace
