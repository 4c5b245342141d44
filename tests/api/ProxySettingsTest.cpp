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

TEST(ProxySettings, NoneByDefault) {
    const HttpWebProxyInfo proxy = ProxyFor("[Ferrolink]\n");
    EXPECT_FALSE(proxy.useProxy);
    EXPECT_FALSE(proxy.useAuthentication);
    EXPECT_EQ(proxy.proxy, "");
}

TEST(ProxySettings, InstallationProxyIsSiteColonPort) {
    const HttpWebProxyInfo proxy = ProxyFor(kInstallationProxy);
    EXPECT_TRUE(proxy.useProxy);
    EXPECT_EQ(proxy.proxy, "proxy.example:3128");
    EXPECT_FALSE(proxy.useAuthentication);
}

TEST(ProxySettings, InstallationProxyWithoutPortOrAtZeroAddressIsOff) {
    EXPECT_FALSE(ProxyFor("[GlobalParam]\nSENDLOGS_USE_HTTP_PROXY=1\n"
                          "SENDLOGS_HTTP_PROXY_SITE=proxy.example\n")
                     .useProxy);
    EXPECT_FALSE(ProxyFor("[GlobalParam]\nSENDLOGS_USE_HTTP_PROXY=1\n"
                          "SENDLOGS_HTTP_PROXY_SITE=0.0.0.0\nSENDLOGS_HTTP_PROXY_PORT=8080\n")
                     .useProxy);
    EXPECT_FALSE(ProxyFor("[GlobalParam]\nSENDLOGS_USE_HTTP_PROXY=0\n"
                          "SENDLOGS_HTTP_PROXY_SITE=proxy.example\nSENDLOGS_HTTP_PROXY_PORT=8080\n")
                     .useProxy);
}

TEST(ProxySettings, InstallationAuthenticationDecryptsThePassword) {
    const std::string ini = std::string(kInstallationProxy) +
                            "MARLGATE_USE_PROXY_AUTHENTICATION=1\n"
                            "SENDLOGS_HTTP_PROXY_USER=alice\n"
                            "SENDLOGS_HTTP_PROXY_PASSWORD=" +
                            KXPassword::encrypt("s3cret") + "\n";
    const HttpWebProxyInfo proxy = ProxyFor(ini);
    EXPECT_TRUE(proxy.useAuthentication);
    EXPECT_EQ(proxy.user, "alice");
    EXPECT_EQ(proxy.password, "s3cret");
}

TEST(ProxySettings, InstallationAuthenticationWithoutPasswordIsDropped) {
    const std::string ini = std::string(kInstallationProxy) +
                            "MARLGATE_USE_PROXY_AUTHENTICATION=1\nSENDLOGS_HTTP_PROXY_USER=alice\n";
    const HttpWebProxyInfo proxy = ProxyFor(ini);
    EXPECT_TRUE(proxy.useProxy);
    EXPECT_FALSE(proxy.useAuthentication);
}

TEST(ProxySettings, ClientZeroAddressTurnsTheInstallationProxyOff) {
    const HttpWebProxyInfo proxy =
        ProxyFor(std::string(kInstallationProxy) + "[Ferrolink]\nhttpProxyName=0.0.0.0\n");
    EXPECT_FALSE(proxy.useProxy);
    EXPECT_EQ(proxy.proxy, "");
    EXPECT_EQ(proxy.user, "");
    EXPECT_EQ(proxy.password, "");
}

TEST(ProxySettings, ClientNameWithoutPortIsUsedUnchanged) {
    EXPECT_EQ(ProxyFor("[Ferrolink]\nhttpProxyName=client.proxy\n").proxy, "client.proxy");
    EXPECT_EQ(ProxyFor("[Ferrolink]\nhttpProxyName=client.proxy\nhttpProxyPort=0\n").proxy,
              "client.proxy");
    const HttpWebProxyInfo withPort =
        ProxyFor(std::string(kInstallationProxy) +
                 "[Ferrolink]\nhttpProxyName=client.proxy\nhttpProxyPort=8888\n");
    EXPECT_TRUE(withPort.useProxy);
    EXPECT_EQ(withPort.proxy, "client.proxy:8888");
}

TEST(ProxySettings, ClientCredentials) {
    const HttpWebProxyInfo proxy = ProxyFor(
        "[Ferrolink]\nhttpProxyName=client.proxy\nhttpProxyUser=bob\n"
        "httpProxyPassword=" +
        KXPassword::encrypt("pw-9") + "\n");
    EXPECT_TRUE(proxy.useAuthentication);
    EXPECT_EQ(proxy.user, "bob");
    EXPECT_EQ(proxy.password, "pw-9");
    const HttpWebProxyInfo noPassword =
        ProxyFor("[Ferrolink]\nhttpProxyName=client.proxy\nhttpProxyUser=bob\n");
    EXPECT_FALSE(noPassword.useAuthentication);
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

TEST(RequestMethods, LogTexts) {
    EXPECT_EQ(KxSnapAzureAPI::ConvertHttpReqToString(0), "GET");
    EXPECT_EQ(KxSnapAzureAPI::ConvertHttpReqToString(1), "POST");
    EXPECT_EQ(KxSnapAzureAPI::ConvertHttpReqToString(2), "PUT");
    EXPECT_EQ(KxSnapAzureAPI::ConvertHttpReqToString(3), "DEL");
    EXPECT_EQ(KxSnapAzureAPI::ConvertHttpReqToString(9), "");
}

TEST(RequestMethods, UnknownOperationSendsNothingAndSucceeds) {
    KxSnapAzureAPI api;
    AzureAPIRequest request;
    request.operation = static_cast<AzureOperation>(77);
    request.baseUrl = "https://unreachable.invalid/";
    std::string response = "kept";
    EXPECT_TRUE(api.SendRESTURLRequest(request, "", response).IsSuccess());
    EXPECT_EQ(response, "kept");
}

TEST(RequestMethods, SendingBeforeTheContextFailsCleanly) {
    KxSnapAzureAPI api;
    std::string response;
    const CUxError err = api.SendGetRequest("https://unreachable.invalid/", AZURE_OP_GET, response);
    EXPECT_EQ(err.Code(), 774);
}

}  // namespace
