// InitAzureContext against the emulator: settings, endpoint, token, instance
// metadata and the VM description, and what went over the wire.
#include <regex>
#include <string>

#include "EmulatorFixture.h"
#include "platform/KXPassword.h"

namespace apitest {
namespace {

using ContextTest = EmulatorTest;

TEST_F(ContextTest, DescribesThisVmWithUpperCaseResourceGroupFromTheRequestsItSent) {
    const CUxError err = Init();
    ASSERT_TRUE(err.IsSuccess()) << err.AsString();
    EXPECT_EQ(instance_.name, "kxvm");
    EXPECT_EQ(instance_.resourceGroupName, "KX-RG");
    EXPECT_EQ(instance_.subscriptionId, emu_->subscriptionId());
    EXPECT_EQ(instance_.location, "westeurope");
    ASSERT_EQ(instance_.disks.size(), 4u);
    EXPECT_EQ(instance_.disks[0].lun, 0);
    EXPECT_EQ(instance_.disks[2].lun, 3);
    EXPECT_EQ(instance_.disks[3].lun, -1);  // OS disk last
    EXPECT_EQ(api_->GetArrayToAssociateWithSnaps(), "Azure-Default-MSI");
    EXPECT_EQ(api_->GetManagementEndpoint(), emu_->armUrl());
    EXPECT_TRUE(
        record_.Logged("Identified vm [kxvm] location [westeurope] resourceGrpName [KX-RG]"));
    EXPECT_TRUE(record_.Logged("Identified Azure Endpoint [" + emu_->armUrl() + "]"));

    // What went over the wire, with the headers.
    const auto tokens = Sent("GET", "/metadata/identity/oauth2/token?");
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].url, "/metadata/identity/oauth2/token?resource=" + emu_->armUrl() +
                                 "&api-version=2018-02-01");
    EXPECT_EQ(Header(tokens[0], "Metadata"), "true");
    EXPECT_EQ(Header(tokens[0], "authorization"), "<absent>");
    EXPECT_EQ(Header(tokens[0], "Accept"), "application/json");
    EXPECT_EQ(Header(tokens[0], "content-type"), "application/json");

    const auto metadata = Sent("GET", "/metadata/instance/compute?");
    ASSERT_EQ(metadata.size(), 1u);
    EXPECT_EQ(metadata[0].url, "/metadata/instance/compute?api-version=2018-02-01");
    EXPECT_EQ(Header(metadata[0], "Metadata"), "true");

    const auto vm = Sent("GET", "/virtualMachines/kxvm");
    ASSERT_EQ(vm.size(), 1u);
    EXPECT_EQ(vm[0].url, "/subscriptions/" + emu_->subscriptionId() +
                             "/resourceGroups/KX-RG/providers/Microsoft.Compute/virtualMachines/"
                             "kxvm?api-version=2018-04-01");
    EXPECT_EQ(vm[0].listener, "https");
    EXPECT_NE(Header(vm[0], "authorization"), "<absent>");
    EXPECT_EQ(Header(vm[0], "Metadata"), "<absent>");
}

TEST_F(ContextTest, ANullRecordOrAnUnknownRegionIsRefusedBeforeAnyRequest) {
    const CUxError err = api_->InitAzureContext(nullptr, instance_, 0);
    EXPECT_EQ(err.Code(), 774);
    EXPECT_EQ(err.Message(), "Invalid Snap device object");

    // The region compares case-sensitively.
    UseSettings(std::string(kFastSettings) + "AzureRegion=global\n");
    const CUxError region = Init();
    EXPECT_EQ(region.Code(), 774);
    EXPECT_EQ(region.Message(), "Failed to get Azure Endpoint for azureRegion [global]");
    EXPECT_TRUE(emu_->requestLog().empty());
}

TEST_F(ContextTest, RealCloudEndpointsUnlessTheTestEndpointRedirectsThem) {
    UseSettings(std::string(kFastSettings) + "AzureRegion=usgov\n");
    ASSERT_TRUE(Init().IsSuccess());
    EXPECT_EQ(api_->GetManagementEndpoint(), emu_->armUrl());

    kxtest::ScopedEnv noOverride("KXSO_ARM_ENDPOINT", nullptr);
    const std::pair<const char*, const char*> clouds[] = {
        {"Global", "https://management.azure.com/"},
        {"China", "https://management.chinacloudapi.cn/"},
        {"usgov", "https://management.usgovcloudapi.net/"},
        {"Germany", "https://management.microsoftazure.de/"},
    };
    std::string endpoint;
    for (const auto& [region, wanted] : clouds) {
        ASSERT_TRUE(api_->GetAzureEndPoint(region, endpoint).IsSuccess()) << region;
        EXPECT_EQ(endpoint, wanted);
    }
    EXPECT_TRUE(api_->GetAzureEndPoint("Mars", endpoint).IsError());
    EXPECT_EQ(endpoint, "");
}

TEST_F(ContextTest, SettingsAreLoggedAndKept) {
    UseSettings(
        "[Ferrolink]\nnAzureRESTAPIReqWaitTimeSecs=7\nnAzureRESTAPIReqPollIntervalSecs=0\n"
        "bAzureDisablePostCreateSnapPhase=true\nsAzureArray=ArrayX\n");
    ASSERT_TRUE(Init(42).IsSuccess());
    EXPECT_EQ(api_->GetMaxWaitSecs(), 7u);
    EXPECT_EQ(api_->GetPollIntervalSecs(), 0u);
    EXPECT_TRUE(api_->IsPostCreateSnapPhaseDisabled());
    EXPECT_EQ(api_->GetJobId(), 42);
    EXPECT_EQ(api_->GetArrayToAssociateWithSnaps(), "ArrayX");
    EXPECT_TRUE(
        record_.LoggedExactly("Azure REST api request maximum wait time is set to [7 secs]"));
    EXPECT_TRUE(
        record_.LoggedExactly("Azure REST api request polling interval is set to [0 secs]"));
    EXPECT_TRUE(record_.LoggedExactly("Found setting to disable post create snapshot phase"));
}

TEST_F(ContextTest, BrokenAnswersFailWithTheirMessageAndGoNoFurther) {
    const std::string msi = "Failed to get Azure access token using MSI authentication scheme";
    struct Case {
        const char* path;
        azemu::FaultAction action;
        int status;
        int code;  // 0: any error
        std::string message;
    };
    const Case cases[] = {
        {"/metadata/identity/oauth2/token", azemu::FaultAction::Error, 500, 774, msi},
        {"/metadata/identity/oauth2/token", azemu::FaultAction::NonJson, 200, 0, msi},
        {"/metadata/instance/compute", azemu::FaultAction::NonJson, 200, 1,
         "Exception while parsing instance metadata json response"},
        {"/virtualMachines/kxvm", azemu::FaultAction::Truncate, 500, 0, ""},
    };
    for (const Case& c : cases) {
        StartEmulator(DefaultScenario());
        InjectFault("*", c.path, c.action, -1, c.status);  // every retry meets it too
        const CUxError err = Init();
        EXPECT_TRUE(err.IsError()) << c.path;
        if (c.code != 0) {
            EXPECT_EQ(err.Code(), c.code) << c.path;
        }
        if (!c.message.empty()) {
            EXPECT_EQ(err.Message(), c.message) << c.path;
        }
        if (c.message == msi) {
            EXPECT_TRUE(Sent("*", "virtualMachines").empty());
        }
    }
}

TEST_F(ContextTest, NoBearerTokenReachesALogLine) {
    UseSettings(std::string(kFastSettings) + "bEnableLibCurlTrace=true\n");
    ASSERT_TRUE(Init().IsSuccess());
    const std::regex token("[0-9a-f]{64}");
    for (const kxsnap::LogEntry& line : record_.Lines()) {
        EXPECT_FALSE(std::regex_search(line.text, token)) << line.text;
        EXPECT_EQ(line.text.find("Bearer "), std::string::npos) << line.text;
    }
    EXPECT_TRUE(record_.Logged("\"access_token\":\"*****\""));
    EXPECT_TRUE(record_.Logged("libcurl tracing is enabled"));
    const std::string platformLog = kxtest::ReadFile(dir_ / "kxso.log");
    EXPECT_FALSE(std::regex_search(platformLog, token));
}

TEST_F(ContextTest, ClientZeroProxyOverInstallationProxyStillReachesAzure) {
    UseSettings(std::string("[GlobalParam]\nSENDLOGS_USE_HTTP_PROXY=1\n"
                            "SENDLOGS_HTTP_PROXY_SITE=127.0.0.1\nSENDLOGS_HTTP_PROXY_PORT=9\n") +
                kFastSettings + "httpProxyName=0.0.0.0\n");
    ASSERT_TRUE(Init().IsSuccess());
    EXPECT_FALSE(api_->GetProxyInfo().useProxy);
    EXPECT_TRUE(record_.Logged("Registry key is set to disable HTTP proxy settings."));
    EXPECT_TRUE(record_.Logged("UseWebProxy [0] url [] username[]"));
}

TEST_F(ContextTest, MetadataServiceBypassesAProxyAndPasswordsStayOutOfLogs) {
    // The proxy is unreachable: the token still comes from the metadata
    // service, which is reached directly.
    UseSettings(std::string(kFastSettings) +
                "bEnableLibCurlTrace=true\nhttpProxyName=127.0.0.1\nhttpProxyPort=9\n"
                "httpProxyUser=bob\nhttpProxyPassword=" +
                KXPassword::encrypt("pw-secret-9") + "\n");
    Init();
    EXPECT_EQ(Sent("GET", "/metadata/identity/oauth2/token").size(), 1u);
    EXPECT_TRUE(
        record_.Logged("Override Dornhold level setting with client level setting  proxy "
                       "[127.0.0.1:9]  user [bob]"));
    EXPECT_EQ(record_.AllText().find("pw-secret-9"), std::string::npos);
    EXPECT_EQ(kxtest::ReadFile(dir_ / "kxso.log").find("pw-secret-9"), std::string::npos);
}

}  // namespace
}  // namespace apitest
