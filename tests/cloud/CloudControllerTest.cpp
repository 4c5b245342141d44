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
constexpr const char* kEngineTag = "KXSnapAzureNetapp";
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
    host.Add(AnfRecord(10, "vol2"));
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
    // The connection is the first phase that needs Azure; the closed port fails
    // it, on the job's first record whatever its snapshot number.
    EXPECT_TRUE(host.Logged("Failed to connectToArray [100]", kControllerTag));
    EXPECT_TRUE(
        host.Logged("Failed to connect to Azure Management Portal. REST API error : ", kEngineTag));
    EXPECT_EQ(62008, record.errorCode);
    EXPECT_EQ(0u, record.errorText.find("Failed to connect to Azure Management Portal"));
    EXPECT_NE(std::string::npos,
              record.errorText.find("to the instance metadata service failed (HTTP status [0])."));
    EXPECT_EQ(0, host.Record(1).data().errorCode);
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

// Each operation starts with its failure status on every record; post-snapshot
// and reconcile (0) leave the status alone, though they reach the engine.
TEST_F(CloudControllerTest, EachOperationStartsWithItsFailureStatus) {
    const std::pair<Operation, int> cases[] = {
        {kxso_deleteSnaps, 21},   {kxso_mapSnaps, 11},   {kxso_unmapSnaps, 15},
        {kxso_revertSnaps, 23},   {kxso_snapDevices, 6}, {kxso_postSnapDevices, 0},
        {kxso_reconcileSnaps, 0},
    };
    for (const auto& [operation, status] : cases) {
        TestHost host;
        for (int64_t snapId : {5, 6}) {
            kxsnap::RecordData data = TaggedRecord(snapId);
            data.status = 5;
            host.Add(data);
        }
        EXPECT_EQ(KXSO::RESULT_FAILURE, operation(host.devices(), host.count(), host.util()));
        for (size_t i = 0; i < 2; ++i) {
            const kxsnap::RecordData& record = host.Record(i).data();
            EXPECT_EQ(status == 0, record.statusHistory.empty()) << status;
            EXPECT_EQ(status == 0 ? 5 : status,
                      record.statusHistory.empty() ? record.status : record.statusHistory.front());
        }
        EXPECT_TRUE(host.Logged("Identified cloud vendor [100] service engine [101] for snap [5]",
                                kControllerTag));
    }
}

kxsnap::RecordData Refusing(kxsnap::RecordData data, const char* call) {
    data.refuse = {call};
    return data;
}

// Prepares that fail before any phase reaches Azure: the log says where, and
// a record is tagged for the cloud only when discovery got that far.
TEST_F(CloudControllerTest, PrepareFailuresBeforeAzureSayWhereAndTagOnlyWhatWasFound) {
    struct Case {
        std::vector<kxsnap::RecordData> records;
        int vendor;
        std::vector<std::pair<const char*, const char*>> logged;  // text, tag
        const char* firstMetadata;                                // "": none
    };
    const char* util = "KXSnapCloudAzureUtil";
    const std::pair<const char*, const char*> unidentified{
        "Failed to identify cloud vendor for [1] devices", kControllerTag};
    const std::pair<const char*, const char*> undiscovered{
        "Failed to discover devices with cloud vendor [100].", kControllerTag};
    // clang-format off
    const Case cases[] = {
        {{kxtest::DiskRecord("/dev/sdc")}, 100,
         {{"Initializing cloud engine [100]", kControllerTag},
          {"Unsupported device found :[/dev/sdc]", util},
          {"No devices are compatible with cloud vendor [100]", kControllerTag}, unidentified}, ""},
        {{AnfRecord(1), kxtest::DiskRecord("/dev/sdd")}, 100, {unidentified}, "100|101"},
        {{kxsnap::RecordData{}}, 100,
         {{"Failed to retrieve source device information", util}, undiscovered}, ""},
        {{AnfRecord(1)}, 7,
         {{"Failed to get instance for cloud vendor id [7]", kControllerTag}, unidentified}, ""},
        {{Refusing(AnfRecord(4), "setSnapFlags")}, 100,
         {{"Failed to set snap flag for cloud framework in device", util}, undiscovered},
         "100|101"},
        {{Refusing(AnfRecord(4), "setSnapMetadata")}, 100,
         {{"Failed to set cloud controller metadata [100|101] in device", util}}, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        TestHost host;
        for (const kxsnap::RecordData& record : c.records)
            host.Add(record);
        KXSnapCloudController controller(std::vector<int>{c.vendor});
        EXPECT_EQ(KXSO::RESULT_FAILURE,
                  controller.kxso_prepareDevices(host.devices(), host.count(), host.util()));
        for (const auto& [text, tag] : c.logged)
            EXPECT_TRUE(host.Logged(text, tag)) << text;
        const std::string context = c.logged[0].first;
        EXPECT_FALSE(host.Logged("", kEngineTag)) << context;
        const kxsnap::RecordData& first = host.Record(0).data();
        EXPECT_EQ(c.firstMetadata,
                  first.metadata.count(160) ? first.metadata.at(160) : std::string())
            << context;
        if (std::string(c.firstMetadata).empty() || !first.refuse.empty()) {
            EXPECT_EQ(0u, first.snapFlags) << context;
        }
        for (size_t i = 1; i < host.count(); ++i)
            EXPECT_EQ(0u, host.Record(i).data().metadata.count(160)) << context;
    }
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
    // Only 83 means NetApp Files.
    host.Record(0).data().snapEngineId = 82;
    int vendor = 0;
    int engine = 0;
    EXPECT_FALSE(controller.getCloudEngineInfoFromSnapEngine(&host.Record(0), vendor, engine));
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
    const std::string unidentified = "Failed to identify cloud vendors and service engines";
    // clang-format off
    const Case cases[] = {
        {"100|0", kxso_snapDevices,
         {"Invalid vendor id or service engine id found. (100,0)",
          "Failed to identify cloud vendor and service engine from metadata for snap [7]",
          unidentified}, 6},
        {nullptr, kxso_mapSnaps, {"Failed to get cloud controller from device", unidentified}, 11},
        {"200|101", kxso_unmapSnaps,
         {"Failed to get cloud util instance for cloud vendor id [200]"}, 15},
        {"100|5", kxso_deleteSnaps,
         {"Failed to initalize cloud engine [100]", "Failed to setup service engines"}, 21},
        {"-4|101", kxso_revertSnaps,
         {"Invalid vendor id or service engine id found. (-4,101)", unidentified}, 23},
    };
    // clang-format on
    for (const Case& c : cases) {
        TestHost host;
        kxsnap::RecordData data = TaggedRecord(7, c.metadata ? c.metadata : "", false);
        if (c.metadata == nullptr)
            data.metadata.clear();
        host.Add(data);
        EXPECT_EQ(KXSO::RESULT_FAILURE, c.operation(host.devices(), host.count(), host.util()));
        for (const std::string& line : c.logged)
            EXPECT_TRUE(host.Logged(line)) << line;
        EXPECT_EQ(c.status, host.Record(0).data().status) << c.logged[0];
    }
    EXPECT_TRUE(platformLog_.Contains("Failed to initialize micro engine [5]"));
}

TEST_F(CloudControllerTest, MalformedMetadataIsAParseErrorWithTheWholeText) {
    // clang-format off
    const std::string malformed[] = {
        "100|x", "100101", "100|", "|101", "", " 100|101", "100|101 ", "+100|101", "100|101|5",
        "100|0x65", "1e2|101", "100|99999999999999999999", "2147483648|101",
        std::string(100000, '9') + "|101"};
    // clang-format on
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
