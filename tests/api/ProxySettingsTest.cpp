// The web proxy decision: installation-wide parameters, then the client's
// own settings. Only settings are read; nothing is sent.
#include <string>

#include <gtest/gtest.h>

#include "KxSnapAzureAPI.h"
#include "platform/KXPassword.h"
#include "support/TestEnv.h"

namespace {

constexpr const char* kInstallationProxy =
    "[GlobalParam]\n"
    "SENDLOGS_USE_HTTP_PROXY=1\n"
    "SENDLOGS_HTTP_PROXY_SITE=proxy.example\n"
    "SENDLOGS_HTTP_PROXY_PORT=3128\n";

HttpWebProxyInfo ProxyFor(const std::string& ini) {
    kxtest::ScopedSettings settings(ini);
    KxSnapAzureAPI api;
    EXPECT_TRUE(api.QueryWebProxySettings().IsSuccess());
    return api.GetProxyInfo();
}

std::string WithPassword(const std::string& ini, const char* key, const char* password) {
    return ini + key + "=" + KXPassword::encrypt(password) + "\n";
}

struct ProxyCase {
    std::string ini;
    bool useProxy;
    std::string proxy;
    bool useAuthentication;
    std::string user;
    std::string password;
};

TEST(ProxySettings, InstallationProxyThenTheClientsOwnSettings) {
    const std::string installation = kInstallationProxy;
    const std::string client = "[Ferrolink]\nhttpProxyName=client.proxy\n";
    const std::string installationAuth =
        installation + "MARLGATE_USE_PROXY_AUTHENTICATION=1\nSENDLOGS_HTTP_PROXY_USER=alice\n";
    const ProxyCase cases[] = {
        {"[Ferrolink]\n", false, "", false, "", ""},
        {installation, true, "proxy.example:3128", false, "", ""},
        // Without a port, at the zero address or switched off: no proxy.
        {"[GlobalParam]\nSENDLOGS_USE_HTTP_PROXY=1\nSENDLOGS_HTTP_PROXY_SITE=proxy.example\n",
         false, "", false, "", ""},
        {"[GlobalParam]\nSENDLOGS_USE_HTTP_PROXY=1\n"
         "SENDLOGS_HTTP_PROXY_SITE=0.0.0.0\nSENDLOGS_HTTP_PROXY_PORT=8080\n",
         false, "", false, "", ""},
        {"[GlobalParam]\nSENDLOGS_USE_HTTP_PROXY=0\n"
         "SENDLOGS_HTTP_PROXY_SITE=proxy.example\nSENDLOGS_HTTP_PROXY_PORT=8080\n",
         false, "", false, "", ""},
        {WithPassword(installationAuth, "SENDLOGS_HTTP_PROXY_PASSWORD", "s3cret"), true,
         "proxy.example:3128", true, "alice", "s3cret"},
        {installationAuth, true, "proxy.example:3128", false, "alice", ""},
        // The client's zero address turns the installation's proxy off.
        {installation + "[Ferrolink]\nhttpProxyName=0.0.0.0\n", false, "", false, "", ""},
        {client, true, "client.proxy", false, "", ""},
        {client + "httpProxyPort=0\n", true, "client.proxy", false, "", ""},
        {installation + client + "httpProxyPort=8888\n", true, "client.proxy:8888", false, "", ""},
        {WithPassword(client + "httpProxyUser=bob\n", "httpProxyPassword", "pw-9"), true,
         "client.proxy", true, "bob", "pw-9"},
        {client + "httpProxyUser=bob\n", true, "client.proxy", false, "bob", ""},
    };
    for (const ProxyCase& c : cases) {
        const HttpWebProxyInfo proxy = ProxyFor(c.ini);
        EXPECT_EQ(c.useProxy, proxy.useProxy) << c.ini;
        EXPECT_EQ(c.proxy, proxy.proxy) << c.ini;
        EXPECT_EQ(c.useAuthentication, proxy.useAuthentication) << c.ini;
        if (c.useAuthentication || c.ini.find("0.0.0.0") != std::string::npos) {
            EXPECT_EQ(c.user, proxy.user) << c.ini;
            EXPECT_EQ(c.password, proxy.password) << c.ini;
        }
    }
}

TEST(RequestUrl, PartsThenQueryWithoutTrailingAmpersand) {
    KxSnapAzureAPI api;
    AzureAPIRequest request;
    request.baseUrl = "https://arm/";
    request.resourcePath = "subscriptions/s/disks/";
    request.leaf = "d1";
    std::string url;
    ASSERT_TRUE(api.FormRESTURLRequest(request, url).IsSuccess());
    EXPECT_EQ(url, "https://arm/subscriptions/s/disks/d1?");
    request.queryParams = {"resource=https://arm/", "api-version=2018-02-01"};
    api.FormRESTURLRequest(request, url);
    EXPECT_EQ(url,
              "https://arm/subscriptions/s/disks/d1?resource=https://arm/&api-version=2018-02-01");
}

TEST(RequestMethods, SendingBeforeTheContextFailsCleanly) {
    KxSnapAzureAPI api;
    std::string response;
    const CUxError err = api.SendGetRequest("https://unreachable.invalid/", AZURE_OP_GET, response);
    EXPECT_EQ(err.Code(), 774);
    // An operation of no known kind sends nothing and succeeds.
    AzureAPIRequest request;
    request.operation = static_cast<AzureOperation>(77);
    request.baseUrl = "https://unreachable.invalid/";
    response = "kept";
    EXPECT_TRUE(api.SendRESTURLRequest(request, "", response).IsSuccess());
    EXPECT_EQ(response, "kept");
}

}  // namespace
