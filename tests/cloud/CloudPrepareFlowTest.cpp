// A prepare of NetApp Files devices through the real export, against the
// emulator's instance metadata service: controller, Azure utility, cloud
// engine and the service engine's set-up phases as far as the connection.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CloudTestSupport.h"
#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "kxso/kxso_exports.h"
#include "support/TestEnv.h"
#include "support/TestHost.h"

#ifdef KXSO_CLOUD_TESTS_WITH_EMULATOR
#include "AzureEmulator.h"
#endif

namespace {

#ifdef KXSO_CLOUD_TESTS_WITH_EMULATOR

using cloudtest::AnfRecord;
using kxtest::TestHost;

constexpr const char* kScenario = R"({
    "subscriptionId": "3f2a9c10-7d4e-4b6a-9c8d-1e2f3a4b5c6d",
    "resourceGroup": "kx-anf-rg",
    "location": "westeurope",
    "vm": {
        "name": "kxanfvm",
        "networkInterfaces": [
            {"privateIpAddresses": ["10.20.0.4", "10.20.0.5"], "subnet": "10.20.0.0/24"}
        ]
    }
})";

class CloudPrepareFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        emu_ = std::make_unique<azemu::Emulator>(azemu::Json::parse(kScenario), dir_ / "root");
        emu_->start();
        env_.push_back(
            std::make_unique<kxtest::ScopedEnv>("KXSO_ARM_ENDPOINT", emu_->armUrl().c_str()));
        env_.push_back(
            std::make_unique<kxtest::ScopedEnv>("KXSO_IMDS_ENDPOINT", emu_->imdsUrl().c_str()));
        env_.push_back(std::make_unique<kxtest::ScopedEnv>("KXSO_CA_FILE", emu_->caFile().c_str()));
    }
    void TearDown() override { emu_->stop(); }

    std::vector<azemu::RequestRecord> MetadataRequests(const std::string& pathPart) const {
        std::vector<azemu::RequestRecord> matching;
        for (const azemu::RequestRecord& request : emu_->requestLog()) {
            if (request.listener == "http" && request.url.find(pathPart) != std::string::npos) {
                matching.push_back(request);
            }
        }
        return matching;
    }

    static std::string Header(const azemu::RequestRecord& request, const std::string& name) {
        for (const auto& header : request.headers) {
            if (strcasecmp(header.first.c_str(), name.c_str()) == 0) {
                return header.second;
            }
        }
        return "";
    }

    kxtest::TempDir dir_;
    cloudtest::PlatformLog platformLog_;
    kxtest::ScopedSettings settings_{"[Ferrolink]\n"};
    std::unique_ptr<azemu::Emulator> emu_;
    std::vector<std::unique_ptr<kxtest::ScopedEnv>> env_;
};

TEST_F(CloudPrepareFlowTest, PrepareRunsThroughTheSetUpPhasesAsFarAsTheConnection) {
    TestHost host;
    host.Add(AnfRecord(21, "vol1", "10.20.0.9"));
    host.Add(AnfRecord(22, "vol2", "10.20.0.9"));
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_prepareDevices(host.devices(), host.count(), host.util()));

    for (size_t i = 0; i < 2; ++i) {
        const kxsnap::RecordData& record = host.Record(i).data();
        EXPECT_EQ("100|101", record.metadata.at(160));
        EXPECT_TRUE((record.snapFlags & 0x1000000000000ULL) != 0);
        EXPECT_EQ(83, record.snapEngineId);
        EXPECT_EQ("AzureNetAppFiles-Default-MI", record.arrayName.value_or(""));
        EXPECT_EQ(2, record.status);
    }
    // Token and instance details came from the emulator; this scenario has no
    // NetApp Files volume behind 10.20.0.9, so discovery resolves neither export.
    const std::vector<azemu::RequestRecord> tokens = MetadataRequests("/identity/oauth2/token");
    ASSERT_EQ(1u, tokens.size());
    EXPECT_NE(std::string::npos, tokens[0].url.find("api-version=2019-08-15"));
    EXPECT_NE(std::string::npos, tokens[0].url.find("resource="));
    EXPECT_EQ("true", Header(tokens[0], "Metadata"));
    const std::vector<azemu::RequestRecord> instances = MetadataRequests("/metadata/instance");
    ASSERT_EQ(1u, instances.size());
    EXPECT_EQ(200, instances[0].status);
    EXPECT_TRUE(host.Logged("End : Connect to ANF - done", "KXSnapAzureNetapp"));
    EXPECT_TRUE(host.Logged("End : Getting Instance Info", "KXSnapAzureNetapp"));
    EXPECT_TRUE(host.Logged("Failed to discoverVolumeDetails [100]", "KXSnapCloudController"));
    EXPECT_FALSE(host.Logged("Failed to connectToArray"));
    EXPECT_EQ(62008, host.Record(0).data().errorCode);
    EXPECT_EQ("Failed to find volume information for volume [vol1] from array ip [10.20.0.9]",
              host.Record(0).data().errorText);
    EXPECT_EQ(62008, host.Record(1).data().errorCode);
    EXPECT_EQ("Failed to find volume information for volume [vol2] from array ip [10.20.0.9]",
              host.Record(1).data().errorText);
}

TEST_F(CloudPrepareFlowTest, DiagnosticLoggingKeepsTheTokenOutOfEveryLog) {
    TestHost host;
    kxsnap::RecordData data = AnfRecord(21);
    data.config["SMCONFIG_ANF_ENABLE_DIAGNOSTIC_LOGGING_KEY"] = 1;
    host.Add(data);
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_prepareDevices(host.devices(), host.count(), host.util()));
    EXPECT_TRUE(host.Logged("Dump of AzureAccessTokenInfo [access_token(length) : ["));
    EXPECT_TRUE(host.Logged("Response for URL [", "KXSnapRESTAPI_ANF"));
    const std::string token = emu_->issueToken();
    ASSERT_GT(token.size(), 20u);
    // Tokens of one emulator share their form; no logged line may hold one.
    const std::string tokenStart = token.substr(0, 12);
    for (const kxsnap::LogEntry& entry : host.Log()) {
        EXPECT_EQ(std::string::npos, entry.text.find("\"access_token\":\"" + tokenStart))
            << entry.text;
    }
    EXPECT_TRUE(host.Logged("\"access_token\":\"*****\"", "KXSnapRESTAPI_ANF"));
}

TEST(CloudEmulatorConnection, TokenAndInstanceWithTheNetworkSection) {
    kxtest::TempDir dir;
    azemu::Emulator emu(azemu::Json::parse(kScenario), dir / "root");
    emu.start();
    kxtest::ScopedEnv arm("KXSO_ARM_ENDPOINT", emu.armUrl().c_str());
    kxtest::ScopedEnv imds("KXSO_IMDS_ENDPOINT", emu.imdsUrl().c_str());
    kxtest::ScopedEnv ca("KXSO_CA_FILE", emu.caFile().c_str());
    TestHost host;
    host.Add(AnfRecord(1));
    KXSnapAzureNetAppAPI api(&host.Record(0));
    AzureNetApp::AzureInstanceInfo instance;
    ASSERT_EQ(0, api.rest_connectToArray(instance));
    ASSERT_EQ(0,
              api.rest_getInstanceDetails(instance, ANF_API_CONST::ANF_GET_INSTANCE_FLAG_EXTENDED));
    EXPECT_EQ(emu.subscriptionId(), instance.subscriptionId);
    EXPECT_EQ("kx-anf-rg", instance.resourceGroupName);
    EXPECT_EQ("kxanfvm", instance.name);
    ASSERT_EQ(1u, instance.networkInfo.interfaces.size());
    EXPECT_EQ((std::vector<std::string>{"10.20.0.4", "10.20.0.5"}),
              instance.networkInfo.interfaces[0].privateIPv4);
    emu.stop();
}

#else

TEST(CloudPrepareFlowTest, NeedsTheEmulator) {
    GTEST_SKIP() << "azure_emulator_lib is not part of this build";
}

#endif

}  // namespace
