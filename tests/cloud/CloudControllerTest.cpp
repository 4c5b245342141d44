// The cloud controller: reached through the real exports where the flow
// starts there, and driven directly where that is clearer. The endpoints
// point at a closed port, so that no test here reaches any Azure.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CloudTestSupport.h"
#include "KXSnapCloud/KXSnapCloudController.h"
#include "kxso/kxso_exports.h"
#include "support/TestEnv.h"
#include "support/TestHost.h"

namespace {

using cloudtest::AnfRecord;
using cloudtest::TaggedRecord;
using kxtest::TestHost;

constexpr const char* kControllerTag = "KXSnapCloudController";
constexpr uint64_t kCloudFlag = 0x1000000000000ULL;

using Operation = KXSO::ResultCode (*)(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*);

class CloudControllerTest : public ::testing::Test {
protected:
    KXSnapCloudController NewController() { return KXSnapCloudController(std::vector<int>{100}); }

    cloudtest::PlatformLog platformLog_;
    // Nothing listens on port 9: a connection attempt fails at once.
    kxtest::ScopedEnv imds_{"KXSO_IMDS_ENDPOINT", "http://127.0.0.1:9/"};
    kxtest::ScopedEnv arm_{"KXSO_ARM_ENDPOINT", "https://127.0.0.1:9/"};
    kxtest::ScopedSettings settings_{"[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n"};
};

TEST_F(CloudControllerTest, PrepareOfANetAppFilesDeviceReachesTheControllerAndTagsTheRecord) {
    TestHost host;
    host.Add(AnfRecord(11));
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_prepareDevices(host.devices(), host.count(), host.util()));
    const kxsnap::RecordData& record = host.Record(0).data();
    EXPECT_EQ("100|101", record.metadata.at(160));
    EXPECT_EQ(kCloudFlag, record.snapFlags & kCloudFlag);
    EXPECT_EQ(83, record.snapEngineId);
    ASSERT_FALSE(record.statusHistory.empty());
    EXPECT_EQ(2, record.statusHistory.front());
    EXPECT_EQ(2, record.status);
    EXPECT_EQ("AzureNetAppFiles-Default-MI", record.arrayName.value_or(""));
    EXPECT_TRUE(
        host.Logged("Cloud snap device found (Azure NetApp Files)", "AzureSnapCloudSwitch"));
    EXPECT_TRUE(host.Logged("Service engine detected : Azure NetApp Files [{idatype:NFS",
                            "KXSnapCloudAzureUtil"));
    EXPECT_TRUE(host.Logged("Vendor discovered for all devices.", kControllerTag));
    // The connection is the first phase that needs Azure; the closed port fails it.
    EXPECT_TRUE(host.Logged("Failed to connectToArray [100]", kControllerTag));
    EXPECT_EQ(62008, record.errorCode);
    EXPECT_EQ(0u, record.errorText.find("Failed to connect to Azure Management Portal"));
}

TEST_F(CloudControllerTest, CountZeroAndInvalidArgumentsFailSilently) {
    TestHost host;
    host.Add(AnfRecord(1));
    host.Add(AnfRecord(2));
    KXSnapCloudController controller = NewController();
    EXPECT_EQ(KXSO::RESULT_FAILURE, controller.kxso_prepareDevices(host.devices(), 0, host.util()));
    EXPECT_EQ(KXSO::RESULT_FAILURE, controller.kxso_snapDevices(host.devices(), 0, host.util()));
    EXPECT_EQ(KXSO::RESULT_FAILURE, controller.kxso_prepareDevices(nullptr, 1, host.util()));
    EXPECT_EQ(KXSO::RESULT_FAILURE,
              controller.kxso_prepareDevices(host.devices(), host.count(), nullptr));
    host.SetPointer(1, nullptr);
    EXPECT_EQ(KXSO::RESULT_FAILURE,
              controller.kxso_deleteSnaps(host.devices(), host.count(), host.util()));
    EXPECT_TRUE(host.Log().empty());
    EXPECT_TRUE(host.Record(0).data().statusHistory.empty());
}

// A host that will not take the starting status ends the call before any
// engine runs; the refusing record says why, so the failure is not silent.
TEST_F(CloudControllerTest, ARecordRefusingItsStartingStatusEndsTheCallAndSaysWhy) {
    TestHost host;
    host.Add(TaggedRecord(3));
    kxsnap::RecordData refusing = TaggedRecord(4);
    refusing.refuse = {"setStatus"};
    host.Add(refusing);
    KXSnapCloudController controller = NewController();
    EXPECT_EQ(KXSO::RESULT_FAILURE,
              controller.kxso_deleteSnaps(host.devices(), host.count(), host.util()));
    EXPECT_EQ(0, host.Record(0).data().errorCode);
    EXPECT_EQ(60004, host.Record(1).data().errorCode);
    EXPECT_EQ("Failed to set status [21] on the device", host.Record(1).data().errorText);
    ASSERT_EQ(1u, host.Log().size());
    EXPECT_EQ(KXSO::LOG_ERROR, host.Log()[0].level);

    // An error the record already carries is kept.
    TestHost again;
    refusing.errorCode = 7;
    refusing.errorText = "earlier";
    again.Add(refusing);
    EXPECT_EQ(KXSO::RESULT_FAILURE,
              NewController().kxso_mapSnaps(again.devices(), again.count(), again.util()));
    EXPECT_EQ(7, again.Record(0).data().errorCode);
    EXPECT_EQ("earlier", again.Record(0).data().errorText);
}

TEST_F(CloudControllerTest, EachOperationStartsWithItsFailureStatus) {
    const std::pair<Operation, int> cases[] = {
        {kxso_deleteSnaps, 21}, {kxso_mapSnaps, 11},   {kxso_unmapSnaps, 15},
        {kxso_revertSnaps, 23}, {kxso_snapDevices, 6},
    };
    for (const auto& [operation, status] : cases) {
        TestHost host;
        host.Add(TaggedRecord(5));
        host.Add(TaggedRecord(6));
        EXPECT_EQ(KXSO::RESULT_FAILURE, operation(host.devices(), host.count(), host.util()));
        for (size_t i = 0; i < 2; ++i) {
            ASSERT_FALSE(host.Record(i).data().statusHistory.empty()) << status;
            EXPECT_EQ(status, host.Record(i).data().statusHistory.front());
        }
    }
}

TEST_F(CloudControllerTest, PostSnapAndReconcileLeaveTheStatusAlone) {
    for (Operation operation : {Operation(kxso_postSnapDevices), Operation(kxso_reconcileSnaps)}) {
        TestHost host;
        kxsnap::RecordData data = TaggedRecord(8);
        data.status = 5;
        host.Add(data);
        EXPECT_EQ(KXSO::RESULT_FAILURE, operation(host.devices(), host.count(), host.util()));
        EXPECT_EQ(5, host.Record(0).data().status);
        EXPECT_TRUE(host.Record(0).data().statusHistory.empty());
        // The call did reach the controller and the engine.
        EXPECT_TRUE(host.Logged("Identified cloud vendor [100] service engine [101] for snap [8]",
                                kControllerTag));
    }
}

TEST_F(CloudControllerTest, PrepareOfAnUnsupportedDeviceRunsNoPhase) {
    TestHost host;
    kxsnap::RecordData data;
    data.sourceDevicePath = "/dev/sdc";
    host.Add(data);
    KXSnapCloudController controller = NewController();
    EXPECT_EQ(KXSO::RESULT_FAILURE,
              controller.kxso_prepareDevices(host.devices(), host.count(), host.util()));
    EXPECT_TRUE(host.Logged("Initializing cloud engine [100]", kControllerTag));
    EXPECT_TRUE(host.Logged("Unsupported device found :[/dev/sdc]", "KXSnapCloudAzureUtil"));
    EXPECT_TRUE(host.Logged("No devices are compatible with cloud vendor [100]", kControllerTag));
    EXPECT_TRUE(host.Logged("Failed to identify cloud vendor for [1] devices", kControllerTag));
    EXPECT_TRUE(host.Logged("Failed to discover cloud vendors", kControllerTag));
    EXPECT_FALSE(host.Logged("", "KXSnapAzureNetapp"));
    EXPECT_EQ(0u, host.Record(0).data().metadata.count(160));
    EXPECT_EQ(0u, host.Record(0).data().snapFlags);
}

TEST_F(CloudControllerTest, PrepareWithAManagedDiskAfterTheFirstRecordFailsDiscovery) {
    TestHost host;
    host.Add(AnfRecord(1));
    host.Add(kxtest::DiskRecord("/dev/sdd"));
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_prepareDevices(host.devices(), host.count(), host.util()));
    EXPECT_EQ("100|101", host.Record(0).data().metadata.at(160));
    EXPECT_EQ(0u, host.Record(1).data().metadata.count(160));
    EXPECT_TRUE(host.Logged("Failed to identify cloud vendor for [1] devices", kControllerTag));
    EXPECT_TRUE(host.Logged("Failed to discover cloud vendors", kControllerTag));
}

TEST_F(CloudControllerTest, PrepareWithAnUnreadableSourcePathFailsThatVendor) {
    TestHost host;
    host.Add(kxsnap::RecordData{});
    KXSnapCloudController controller = NewController();
    EXPECT_EQ(KXSO::RESULT_FAILURE,
              controller.kxso_prepareDevices(host.devices(), host.count(), host.util()));
    EXPECT_TRUE(
        host.Logged("Failed to retrieve source device information", "KXSnapCloudAzureUtil"));
    EXPECT_TRUE(host.Logged("Failed to discover devices with cloud vendor [100].", kControllerTag));
    EXPECT_TRUE(host.Logged("Failed to discover cloud vendors", kControllerTag));
}

TEST_F(CloudControllerTest, AVendorWithoutUtilityIsSkipped) {
    TestHost host;
    host.Add(AnfRecord(1));
    KXSnapCloudController controller(std::vector<int>{7});
    EXPECT_EQ(KXSO::RESULT_FAILURE,
              controller.kxso_prepareDevices(host.devices(), host.count(), host.util()));
    EXPECT_TRUE(host.Logged("Failed to get instance for cloud vendor id [7]", kControllerTag));
    EXPECT_TRUE(host.Logged("Failed to identify cloud vendor for [1] devices", kControllerTag));
}

TEST_F(CloudControllerTest, HostRefusingTheSnapFlagKeepsTheMetadataButFailsPrepare) {
    TestHost host;
    kxsnap::RecordData data = AnfRecord(4);
    data.refuse = {"setSnapFlags"};
    host.Add(data);
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_prepareDevices(host.devices(), host.count(), host.util()));
    EXPECT_EQ("100|101", host.Record(0).data().metadata.at(160));
    EXPECT_EQ(0u, host.Record(0).data().snapFlags);
    EXPECT_TRUE(host.Logged("Failed to set snap flag for cloud framework in device",
                            "KXSnapCloudAzureUtil"));
    EXPECT_TRUE(host.Logged("Failed to discover devices with cloud vendor [100].", kControllerTag));
    EXPECT_TRUE(host.Logged("Failed to discover cloud vendors", kControllerTag));
}

TEST_F(CloudControllerTest, HostRefusingTheMetadataFailsPrepare) {
    TestHost host;
    kxsnap::RecordData data = AnfRecord(4);
    data.refuse = {"setSnapMetadata"};
    host.Add(data);
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_prepareDevices(host.devices(), host.count(), host.util()));
    EXPECT_TRUE(host.Logged("Failed to set cloud controller metadata [100|101] in device",
                            "KXSnapCloudAzureUtil"));
    EXPECT_EQ(0u, host.Record(0).data().snapFlags);
}

TEST_F(CloudControllerTest, SnapEngineIdIdentifiesWithoutReadingTheMetadata) {
    TestHost host;
    kxsnap::RecordData data = TaggedRecord(5);
    data.metadata.clear();
    data.refuse = {"getSnapMetadata", "getSnapMetadataString"};
    host.Add(data);
    KXSnapCloudController controller = NewController();
    ASSERT_TRUE(controller.initializeCloudController(host.devices(), host.count(), host.util(), 6));
    EXPECT_TRUE(controller.identifyCloudVendorServices());
    EXPECT_TRUE(host.Logged("Identified cloud vendor [100] service engine [101] for snap [5]",
                            kControllerTag));
    EXPECT_FALSE(host.Logged("from snap engine id"));
    EXPECT_FALSE(host.Logged("Failed to get cloud controller from device"));
}

TEST_F(CloudControllerTest, MetadataIdentifiesARecordWithoutSnapEngineId) {
    TestHost host;
    host.Add(TaggedRecord(9, "100|101", false));
    KXSnapCloudController controller = NewController();
    ASSERT_TRUE(controller.initializeCloudController(host.devices(), host.count(), host.util(), 1));
    EXPECT_TRUE(controller.identifyCloudVendorServices());
    EXPECT_TRUE(host.Logged(
        "Failed to identify cloud vendor and service engine from snap engine id for snap [9]",
        kControllerTag));
    EXPECT_TRUE(host.Logged("Identified cloud vendor [100] service engine [101] for snap [9]"));
}

// Records whose cloud metadata names no usable engine: the operation fails,
// saying why, and the record keeps the operation's starting status.
TEST_F(CloudControllerTest, MetadataWithoutAUsableEngineFailsTheOperationSayingWhy) {
    struct Case {
        const char* metadata;  // nullptr: none at all
        Operation operation;
        std::vector<std::string> logged;
        int status;
    };
    const Case cases[] = {
        {"100|0", kxso_snapDevices,
         {"Invalid vendor id or service engine id found. (100,0)",
          "Failed to identify cloud vendor and service engine from metadata for snap [7]",
          "Failed to identify cloud vendors and service engines"},
         6},
        {nullptr, kxso_mapSnaps,
         {"Failed to get cloud controller from device",
          "Failed to identify cloud vendors and service engines"},
         11},
        {"200|101", kxso_unmapSnaps,
         {"Failed to get cloud util instance for cloud vendor id [200]"}, 15},
        {"100|5", kxso_deleteSnaps,
         {"Failed to initalize cloud engine [100]", "Failed to setup service engines"}, 21},
    };
    for (const Case& c : cases) {
        TestHost host;
        kxsnap::RecordData data = TaggedRecord(7, c.metadata ? c.metadata : "", false);
        if (c.metadata == nullptr) {
            data.metadata.clear();
        }
        host.Add(data);
        EXPECT_EQ(KXSO::RESULT_FAILURE, c.operation(host.devices(), host.count(), host.util()));
        for (const std::string& line : c.logged) {
            EXPECT_TRUE(host.Logged(line)) << line;
        }
        EXPECT_EQ(c.status, host.Record(0).data().status) << c.logged[0];
    }
    EXPECT_TRUE(platformLog_.Contains("Failed to initialize micro engine [5]"));
}

TEST_F(CloudControllerTest, InvalidIdsAreReportedAsZero) {
    TestHost host;
    host.Add(TaggedRecord(7, "-4|101", false));
    KXSnapCloudController controller = NewController();
    ASSERT_TRUE(controller.initializeCloudController(host.devices(), host.count(), host.util(), 6));
    int vendor = 55;
    int engine = 66;
    EXPECT_FALSE(controller.getCloudMetadataFromDevice(&host.Record(0), vendor, engine));
    EXPECT_EQ(0, vendor);
    EXPECT_EQ(0, engine);
    EXPECT_TRUE(host.Logged("Invalid vendor id or service engine id found. (-4,101)"));
}

TEST_F(CloudControllerTest, MalformedMetadataIsAParseErrorWithTheWholeText) {
    const std::string malformed[] = {
        "100|x",
        "100101",
        "100|",
        "|101",
        "",
        " 100|101",
        "100|101 ",
        "+100|101",
        "100|101|5",
        "100|0x65",
        "1e2|101",
        "100|99999999999999999999",
        "2147483648|101",
        std::string(100000, '9') + "|101",
    };
    for (const std::string& text : malformed) {
        TestHost host;
        host.Add(TaggedRecord(7, text, false));
        EXPECT_EQ(KXSO::RESULT_FAILURE,
                  kxso_deleteSnaps(host.devices(), host.count(), host.util()));
        EXPECT_TRUE(host.Logged("Error on parsing cloud controller metadata [" + text + "]",
                                kControllerTag))
            << text.substr(0, 40);
        EXPECT_TRUE(host.Logged("Failed to identify cloud vendors and service engines"));
    }
}

TEST_F(CloudControllerTest, InitializeServiceEnginesWithoutEnginesFails) {
    TestHost host;
    host.Add(TaggedRecord(7));
    KXSnapCloudController controller = NewController();
    ASSERT_TRUE(controller.initializeCloudController(host.devices(), host.count(), host.util(), 6));
    EXPECT_FALSE(controller.initializeServiceEngines());
    EXPECT_TRUE(host.Logged("Failed to fetch identified cloud engines", kControllerTag));
}

TEST_F(CloudControllerTest, EngineIdEightyThreeOnlyMeansNetAppFiles) {
    TestHost host;
    kxsnap::RecordData data;
    data.snapEngineId = 82;
    host.Add(data);
    KXSnapCloudController controller = NewController();
    int vendor = 0;
    int engine = 0;
    EXPECT_FALSE(controller.getCloudEngineInfoFromSnapEngine(&host.Record(0), vendor, engine));
    host.Record(0).data().snapEngineId = 83;
    EXPECT_TRUE(controller.getCloudEngineInfoFromSnapEngine(&host.Record(0), vendor, engine));
    EXPECT_EQ(100, vendor);
    EXPECT_EQ(101, engine);
}

TEST_F(CloudControllerTest, LaterOperationsOfATaggedRecordReachTheEngineThatReadsItsMetadata) {
    TestHost host;
    host.Add(TaggedRecord(12));
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_snapDevices(host.devices(), host.count(), host.util()));
    EXPECT_TRUE(host.Logged("Failed to populate snap info from metadata", "KXSnapAzureNetapp"));
    EXPECT_TRUE(host.Logged("Failed to setup service engines", kControllerTag));
    EXPECT_EQ(60001, host.Record(0).data().errorCode);
    // A tagged record without the engine's metadata records cannot be snapshot.
    EXPECT_EQ("Failed to get snap uuid metadata and hence failing",
              host.Record(0).data().errorText);
}

}  // namespace
