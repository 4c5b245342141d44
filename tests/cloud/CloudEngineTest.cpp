// The vendor utility, the cloud engine and the NetApp Files service engine's
// set-up phases short of Azure.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CloudTestSupport.h"
#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapCloudAzureUtil.h"
#include "KXSnapCloud/KXSnapCloudEngine.h"
#include "KXSnapCloud/KXSnapMicroEngine.h"
#include "support/TestEnv.h"
#include "support/TestHost.h"

namespace {

using cloudtest::AnfRecord;
using kxtest::TestHost;

constexpr const char* kUtilTag = "KXSnapCloudAzureUtil";
constexpr const char* kEngineTag = "KXSnapAzureNetapp";

std::vector<KXSO::SnapInfo*> DeviceList(TestHost& host) {
    return std::vector<KXSO::SnapInfo*>(host.devices(), host.devices() + host.count());
}

TEST(CloudUtil, OnlyAzureHasAUtilityAndOnlyNetAppFilesAnEngine) {
    TestHost host;
    std::shared_ptr<KXSnapCloudUtil> azure = KXSnapCloudUtil::getInstance(100, host.util());
    ASSERT_NE(nullptr, azure);
    EXPECT_NE(nullptr, dynamic_cast<KXSnapCloudAzureUtil*>(azure.get()));
    EXPECT_EQ(host.util(), azure->osUtil());
    EXPECT_EQ(nullptr, KXSnapCloudUtil::getInstance(101, host.util()));
    EXPECT_EQ(nullptr, KXSnapCloudUtil::getInstance(-1, host.util()));
    KXSnapCloudAzureUtil util(host.util());
    ASSERT_EQ(1u, util.serviceEngineDevices().size());
    EXPECT_TRUE(util.serviceEngineDevices().at(101).empty());

    std::unique_ptr<KXSnapMicroEngine> engine = KXSnapMicroEngine::getInstance(101);
    EXPECT_NE(nullptr, dynamic_cast<KXSnapAzureNetApp*>(engine.get()));
    EXPECT_EQ(nullptr, KXSnapMicroEngine::getInstance(5));
    EXPECT_EQ(nullptr, KXSnapMicroEngine::getInstance(100));
}

TEST(CloudUtil, CheckSupportTakesTagsAndRemovesNetAppFilesRecordsOnly) {
    TestHost host;
    host.Add(AnfRecord(1));
    host.Add(kxtest::DiskRecord("/dev/sdc"));
    host.Add(AnfRecord(3, "vol3"));
    KXSnapCloudAzureUtil util(host.util());
    std::vector<KXSO::SnapInfo*> remaining = DeviceList(host);
    ASSERT_TRUE(util.checkSupport(remaining));
    ASSERT_EQ(1u, remaining.size());
    EXPECT_EQ(&host.Record(1), remaining[0]);
    const std::vector<KXSO::SnapInfo*>& filed = util.serviceEngineDevices().at(101);
    ASSERT_EQ(2u, filed.size());
    EXPECT_EQ(&host.Record(0), filed[0]);
    EXPECT_EQ(&host.Record(2), filed[1]);
    for (size_t i : {0u, 2u}) {
        const kxsnap::RecordData& data = host.Record(i).data();
        EXPECT_EQ("100|101", data.metadata.at(160));
        EXPECT_EQ(0x1000000000000ULL, data.snapFlags);
        EXPECT_EQ(83, data.snapEngineId);
    }
    EXPECT_TRUE(host.Logged("Unsupported device found :[/dev/sdc]", kUtilTag));
    EXPECT_EQ(0u, host.Record(1).data().snapFlags);
}

TEST(CloudUtil, AFailedTagStopsTheWalkWithTheRecordFiledAndListed) {
    TestHost host;
    kxsnap::RecordData refusing = AnfRecord(1);
    refusing.refuse = {"setSnapFlags"};
    host.Add(refusing);
    host.Add(AnfRecord(2));
    KXSnapCloudAzureUtil util(host.util());
    std::vector<KXSO::SnapInfo*> remaining = DeviceList(host);
    EXPECT_FALSE(util.checkSupport(remaining));
    EXPECT_EQ(2u, remaining.size());
    EXPECT_EQ(1u, util.serviceEngineDevices().at(101).size());
    EXPECT_EQ(0u, host.Record(1).data().metadata.count(160));
}

TEST(CloudUtil, AssignFilesUnderAnyEngineAndCacheAnswersFalse) {
    TestHost host;
    host.Add(AnfRecord(1));
    KXSnapCloudAzureUtil util(host.util());
    EXPECT_TRUE(util.assignDeviceToServiceEngine(&host.Record(0), 5));
    EXPECT_EQ(1u, util.serviceEngineDevices().at(5).size());
    std::vector<KXSO::SnapInfo*> devices = DeviceList(host);
    EXPECT_FALSE(util.getCachedServiceEngine(devices));
    EXPECT_EQ(83, util.getSnapEngineIdFromServiceEngine(101));
    EXPECT_EQ(0, util.getSnapEngineIdFromServiceEngine(5));
    int other = 5;
    EXPECT_TRUE(util.assignSnapEngine(&host.Record(0), other));
    EXPECT_EQ(0, host.Record(0).data().snapEngineId);
}

TEST(CloudEngine, APhaseBeforeInitializationFails) {
    TestHost host;
    std::unique_ptr<KXSnapCloudEngineInterface> engine = KXSnapCloudEngineInterface::getInstance(
        std::make_shared<KXSnapCloudAzureUtil>(host.util()));
    ASSERT_NE(nullptr, engine);
    EXPECT_FALSE(engine->connectToArray());
    EXPECT_FALSE(engine->reconSnaps());
}

TEST(CloudEngine, TheNetAppFilesEngineRunsEvenWithoutRecordsAnUnknownEngineFails) {
    cloudtest::PlatformLog platformLog;
    TestHost none;
    KXSnapCloudEngine empty(std::make_shared<KXSnapCloudAzureUtil>(none.util()));
    EXPECT_TRUE(empty.initializeServiceEngines(5));
    EXPECT_TRUE(platformLog.Contains("Initializing [1] service engines"));
    // Built and called: with nothing to work on it refuses the phase.
    EXPECT_FALSE(empty.processDeviceDetails());
    EXPECT_TRUE(empty.getArrayDetails());

    TestHost host;
    host.Add(AnfRecord(1));
    auto util = std::make_shared<KXSnapCloudAzureUtil>(host.util());
    util->assignDeviceToServiceEngine(&host.Record(0), 5);
    KXSnapCloudEngine engine(util);
    EXPECT_FALSE(engine.initializeServiceEngines(1));
    EXPECT_TRUE(platformLog.Contains("Initializing [2] service engines"));
    EXPECT_TRUE(platformLog.Contains("Failed to initialize micro engine [5]"));
}

class NetAppEngineTest : public ::testing::Test {
protected:
    // A prepared engine over the host's records.
    std::unique_ptr<KXSnapAzureNetApp> Prepared(TestHost& host, short operation = 5) {
        auto engine = std::make_unique<KXSnapAzureNetApp>();
        util_ = std::make_shared<KXSnapCloudAzureUtil>(host.util());
        std::vector<KXSO::SnapInfo*> devices = DeviceList(host);
        initialized_ = engine->initialize(devices, util_, operation);
        return engine;
    }

    std::shared_ptr<KXSnapCloudUtil> util_;
    bool initialized_ = false;
    cloudtest::PlatformLog platformLog_;
    kxtest::ScopedEnv imds_{"KXSO_IMDS_ENDPOINT", "http://127.0.0.1:9/"};
    kxtest::ScopedEnv arm_{"KXSO_ARM_ENDPOINT", "https://127.0.0.1:9/"};
};

TEST_F(NetAppEngineTest, DeviceDetailsFileTheRecordsUnderTheDefaultArray) {
    kxtest::ScopedSettings settings("[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n");
    TestHost host;
    host.Add(AnfRecord(2, "vol2", "10.0.0.5"));
    host.Add(AnfRecord(1, "data/vol1", "10.0.0.4"));
    auto engine = Prepared(host);
    ASSERT_TRUE(initialized_);
    EXPECT_TRUE(engine->processDeviceDetails());
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ("AzureNetAppFiles-Default-MI", host.Record(i).data().arrayName.value_or(""));
        EXPECT_NE(0, host.Record(i).data().arrayId);
    }
    EXPECT_TRUE(
        host.Logged("Fetching configs for array [AzureNetAppFiles-Default-MI].", kEngineTag));
    EXPECT_TRUE(
        host.Logged("Config [SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY] not found - setting "
                    "default value [30]"));
    EXPECT_TRUE(host.Logged(
        "Config [SMCONFIG_ANF_ENABLE_DIAGNOSTIC_LOGGING_KEY] not found - setting default value "
        "[disabled]"));
    EXPECT_TRUE(host.Logged(
        "Array configs fetched [{ Retry count [1440], Retry interval [30], Diagnostic logging "
        "[disabled] }] for array [AzureNetAppFiles-Default-MI]"));
}

TEST_F(NetAppEngineTest, AConfiguredArrayAndTunablesAreUsed) {
    kxtest::ScopedSettings settings("[Ferrolink]\nsANFCustomArrayName=MyNetAppArray\n");
    TestHost host;
    kxsnap::RecordData data = AnfRecord(1);
    data.config = {{"SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY", 0},
                   {"SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY", 3},
                   {"SMCONFIG_ANF_ENABLE_DIAGNOSTIC_LOGGING_KEY", 1}};
    host.Add(data);
    auto engine = Prepared(host);
    EXPECT_TRUE(engine->processDeviceDetails());
    EXPECT_EQ("MyNetAppArray", host.Record(0).data().arrayName.value_or(""));
    EXPECT_TRUE(host.Logged(
        "Found custom array set via additional setting [Ferrolink/sANFCustomArrayName] with value "
        "[MyNetAppArray]"));
    EXPECT_TRUE(host.Logged("Config [SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY] found - value [3]"));
    EXPECT_TRUE(
        host.Logged("Config [SMCONFIG_ANF_ENABLE_DIAGNOSTIC_LOGGING_KEY] found - value [enabled]"));
    EXPECT_TRUE(host.Logged(
        "{ Retry count [3], Retry interval [0], Diagnostic logging [enabled] }] for array "
        "[MyNetAppArray]"));
}

TEST_F(NetAppEngineTest, RecordsTheHostAnswersOddlyKeepTheirArrayOrFailWithTheirMessage) {
    kxtest::ScopedSettings settings("[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n");
    struct Case {
        void (*change)(kxsnap::RecordData&);
        bool success;
        int errorCode;
        const char* errorText;
        std::vector<const char*> logged;
        const char* arrayName;
    };
    // clang-format off
    const Case cases[] = {
        {[](kxsnap::RecordData& d) { d.arrayName = "Existing", d.arrayId = 4; }, true, 0, "",
         {"Fetching configs for array [Existing]."}, "Existing"},
        {[](kxsnap::RecordData& d) { d.refuse = {"setArrayName"}; }, false, 62008,
         "Failed to set array as [AzureNetAppFiles-Default-MI] for snap [1]", {}, nullptr},
        {[](kxsnap::RecordData& d) { d.refuse = {"getArrayInfo"}; }, true, 0, "",
         {"Warning, failed to fetch array information for array num [1].",
          "Fetching configs for array []."}, nullptr},
    };
    // clang-format on
    for (const Case& c : cases) {
        TestHost host;
        kxsnap::RecordData data = AnfRecord(1);
        c.change(data);
        host.Add(data);
        auto engine = Prepared(host);
        EXPECT_EQ(c.success, engine->processDeviceDetails()) << c.errorText;
        EXPECT_EQ(c.errorCode, host.Record(0).data().errorCode);
        EXPECT_EQ(c.errorText, host.Record(0).data().errorText);
        for (const char* line : c.logged)
            EXPECT_TRUE(host.Logged(line)) << line;
        if (c.arrayName != nullptr) {
            EXPECT_EQ(c.arrayName, host.Record(0).data().arrayName.value_or(""));
        }
    }
}

TEST_F(NetAppEngineTest, SourceDeviceNameGivesShareAndServer) {
    TestHost host;
    host.Add(AnfRecord(1, "exports/vol1", "10.0.0.4"));
    auto engine = Prepared(host);
    AzureNetApp::KxSnapANFSnapObj snapObj(&host.Record(0));
    ASSERT_TRUE(engine->parseSourceDeviceName(snapObj));
    EXPECT_EQ("NFS", snapObj.devInfo.idaType);
    EXPECT_EQ("nfs", snapObj.devInfo.shareType);
    EXPECT_EQ("exports/vol1", snapObj.devInfo.sharePath);
    EXPECT_EQ("10.0.0.4", snapObj.devInfo.arrayName);
    EXPECT_EQ("10.0.0.4:/exports/vol1", snapObj.deviceName);
}

TEST_F(NetAppEngineTest, AnEngineWithoutRecordsIsNotInitialized) {
    TestHost host;
    auto engine = Prepared(host);
    EXPECT_TRUE(initialized_);
    EXPECT_FALSE(engine->selfValidate());
    EXPECT_FALSE(engine->connectToArray());
}

TEST_F(NetAppEngineTest, ErrorCodesFollowTheOperation) {
    // An operation of no known kind keeps the code given.
    const std::pair<short, int> cases[] = {{1, 60004},  {2, 62009}, {3, 62010},
                                           {4, 60005},  {5, 62008}, {6, 60001},
                                           {15, 60001}, {7, 60298}, {42, 99}};
    for (const auto& [operation, code] : cases) {
        TestHost host;
        host.Add(AnfRecord(1));
        auto engine = Prepared(host, operation);
        // Initialisation already failed honestly for the later operations.
        host.Record(0).ClearError();
        AzureNetApp::KxSnapANFSnapObj snapObj(&host.Record(0));
        engine->setErrorDetailsForSnapObj(snapObj, 99, "text");
        EXPECT_EQ(code, host.Record(0).data().errorCode) << operation;
        EXPECT_EQ("text", host.Record(0).data().errorText);
    }
}

}  // namespace
