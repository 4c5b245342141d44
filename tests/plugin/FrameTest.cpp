// The frame every managed-disk driver shares: argument check and its log
// lines, the up-front statuses, the bulk switch, the connection failure and
// the two exception endings.
#include <stdexcept>

#include <gtest/gtest.h>

#include "kxso/kxso_exports.h"
#include "platform/KxException.h"
#include "src/KXSOSnapAzure.h"
#include "support/TestEnv.h"
#include "support/TestHost.h"

namespace {

using kxsnap::RecordData;
using kxtest::DiskRecord;
using kxtest::TestHost;

using Export = KXSO::ResultCode (*)(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*);

// Map, unmap and revert run their bulk variants by default, which set the
// up-front status once more.
struct DriverCase {
    const char* name;
    Export operation;
    int upFrontStatus;
    int errorCode;
    bool bulk;
};

const DriverCase kDrivers[] = {
    {"prepare", kxso_prepareDevices, 2, 62008, false},
    {"snap", kxso_snapDevices, 6, 60001, false},
    {"postSnap", kxso_postSnapDevices, 6, 60001, false},
    {"mapSnaps", kxso_mapSnaps, 11, 62009, true},
    {"unmapSnaps", kxso_unmapSnaps, 15, 62010, true},
    {"delete", kxso_deleteSnaps, 21, 60004, false},
    {"revertSnaps", kxso_revertSnaps, 23, 60005, true},
};

class FrameTest : public ::testing::Test {
protected:
    std::string PlatformLog() const { return kxtest::ReadFile(dir_ / "kxso.log"); }

    kxtest::TempDir dir_;
    kxtest::ScopedEnv log_{"KXSO_LOG_FILE", (dir_ / "kxso.log").c_str()};
    // Nothing listens on port 9: connecting fails at once.
    kxtest::ScopedEnv imds_{"KXSO_IMDS_ENDPOINT", "http://127.0.0.1:9/"};
    kxtest::ScopedEnv arm_{"KXSO_ARM_ENDPOINT", "https://127.0.0.1:9/"};
    // A refused connection is retried; here at once, so that no test waits.
    kxtest::ScopedSettings settings_{"[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n"};
};

TEST_F(FrameTest, ValidationChecksInOrderAndLogsEachProblem) {
    TestHost host;
    host.Add(DiskRecord("/dev/sdc"));
    EXPECT_FALSE(ValidateInputDeviceArguments(nullptr, 0, nullptr, KXSO::SNAP_STATUS_SNAP_FAILED));
    EXPECT_NE(std::string::npos, PlatformLog().find("Invalid device count [0]"));
    EXPECT_FALSE(ValidateInputDeviceArguments(nullptr, 1, nullptr, KXSO::SNAP_STATUS_SNAP_FAILED));
    EXPECT_NE(std::string::npos, PlatformLog().find("Invalid snap util object"));
    EXPECT_FALSE(
        ValidateInputDeviceArguments(nullptr, 1, host.util(), KXSO::SNAP_STATUS_SNAP_FAILED));
    EXPECT_NE(std::string::npos, PlatformLog().find("1Invalid snap devices object"));
    KXSO::SnapInfo* nullFirst[] = {nullptr, &host.Record(0)};
    EXPECT_FALSE(
        ValidateInputDeviceArguments(nullFirst, 2, host.util(), KXSO::SNAP_STATUS_SNAP_FAILED));
    EXPECT_NE(std::string::npos, PlatformLog().find("2Invalid snap devices object"));
    EXPECT_TRUE(host.Record(0).data().statusHistory.empty());
}

TEST_F(FrameTest, RecordsBeforeANullEntryKeepTheirStatus) {
    TestHost host;
    host.Add(DiskRecord("/dev/sdc"));
    host.Add(DiskRecord("/dev/sdd"));
    host.Add(DiskRecord("/dev/sde"));
    host.SetPointer(2, nullptr);
    for (const DriverCase& driver : kDrivers) {
        // Bad arguments fail before any record is touched.
        const size_t statusesBefore = host.Record(0).data().statusHistory.size();
        EXPECT_EQ(KXSO::RESULT_FAILURE, driver.operation(nullptr, 1, host.util()));
        EXPECT_EQ(KXSO::RESULT_FAILURE, driver.operation(host.devices(), 0, host.util()));
        EXPECT_EQ(KXSO::RESULT_FAILURE, driver.operation(host.devices(), -3, host.util()));
        EXPECT_EQ(KXSO::RESULT_FAILURE, driver.operation(host.devices(), host.count(), nullptr));
        EXPECT_EQ(statusesBefore, host.Record(0).data().statusHistory.size()) << driver.name;
        EXPECT_EQ(KXSO::RESULT_FAILURE, driver.operation(host.devices(), host.count(), host.util()))
            << driver.name;
        EXPECT_EQ(driver.upFrontStatus, host.Record(0).data().status) << driver.name;
        EXPECT_EQ(driver.upFrontStatus, host.Record(1).data().status) << driver.name;
        EXPECT_TRUE(host.Record(2).data().statusHistory.empty()) << driver.name;
        // A failed argument check never reaches Azure, so nothing is recorded.
        EXPECT_EQ(0, host.Record(0).data().errorCode) << driver.name;
    }
    EXPECT_NE(std::string::npos, PlatformLog().find("Invalid snap device pointer [2]"));
}

TEST_F(FrameTest, ConnectionFailureIsRecordedOnTheFirstRecordOnly) {
    for (const DriverCase& driver : kDrivers) {
        TestHost host(7);
        host.Add(DiskRecord("/dev/sdc"));
        host.Add(DiskRecord("/dev/sdd"));
        EXPECT_EQ(KXSO::RESULT_FAILURE, driver.operation(host.devices(), host.count(), host.util()))
            << driver.name;
        const RecordData& first = host.Record(0).data();
        EXPECT_EQ(driver.errorCode, first.errorCode) << driver.name;
        EXPECT_EQ(0u, first.errorText.find("Failed to connect to Azure.error: "))
            << first.errorText;
        EXPECT_EQ(driver.upFrontStatus, first.status) << driver.name;
        EXPECT_EQ(0, host.Record(1).data().errorCode) << driver.name;
        EXPECT_EQ(driver.upFrontStatus, host.Record(1).data().status) << driver.name;
        EXPECT_EQ(std::vector<int>(driver.bulk ? 2 : 1, driver.upFrontStatus), first.statusHistory)
            << driver.name;
        const std::string signature = std::string("KXSO::ResultCode kxso_") +
                                      (driver.bulk ? driver.name + std::string("2(") : "");
        EXPECT_TRUE(host.Logged("Failed to connect to Azure.", signature)) << driver.name;
    }
    // Error lines carry the driver's signature as their tag.
    TestHost host;
    host.Add(DiskRecord("/dev/sdc"));
    kxso_prepareDevices(host.devices(), host.count(), host.util());
    EXPECT_TRUE(host.Logged("Failed to connect to Azure.",
                            "KXSO::ResultCode kxso_prepareDevicesAzureNative(KXSO::SnapInfo**, "
                            "int16_t, KXSO::KXOSUtil*)"));
}

// Only "true" in our own section switches the bulk variants off.
TEST_F(FrameTest, DisablingBulkRequestsKeepsTheCallPerDevice) {
    TestHost host;
    host.Add(DiskRecord("/dev/sdc"));
    for (const char* ini : {"[Ferrolink]\nbAzureEngineDisableHttpBulkRequest=false\n",
                            "[Other]\nbAzureEngineDisableHttpBulkRequest=true\n"}) {
        kxtest::ScopedSettings settings(ini);
        EXPECT_FALSE(ShouldDisableBulkRequests(&host.Record(0))) << ini;
    }
    EXPECT_TRUE(host.Log().empty());
    kxtest::ScopedSettings settings("[Ferrolink]\nbAzureEngineDisableHttpBulkRequest = TRUE\n");
    for (Export operation : {kxso_mapSnaps, kxso_unmapSnaps, kxso_revertSnaps}) {
        TestHost perDevice;
        perDevice.Add(DiskRecord("/dev/sdc"));
        operation(perDevice.devices(), perDevice.count(), perDevice.util());
        EXPECT_EQ(1u, perDevice.Record(0).data().statusHistory.size());
        EXPECT_TRUE(
            perDevice.Logged("Found bAzureEngineDisableHttpBulkRequest setting. User chose to "
                             "disable bulk http requests",
                             "AZUREAPI >>>>>"));
    }
}

TEST(SetErrorMessageTest, LogsStoresAndSetsAPositiveStatusOnly) {
    TestHost host;
    host.Add(DiskRecord("/dev/sdc"));
    SetErrorMessage(&host.Record(0), 62009, "tag", "the disk %s vanished", KXSO::SNAP_STATUS_NONE);
    EXPECT_EQ(62009, host.Record(0).data().errorCode);
    // The message is text, never a format.
    EXPECT_EQ("the disk %s vanished", host.Record(0).data().errorText);
    EXPECT_TRUE(host.Record(0).data().statusHistory.empty());
    ASSERT_EQ(1u, host.Log().size());
    EXPECT_EQ(2, host.Log()[0].level);
    EXPECT_EQ("tag", host.Log()[0].tag);

    SetErrorMessage(&host.Record(0), 1, "tag", "again", KXSO::SNAP_STATUS_MAP_FAILED);
    EXPECT_EQ(11, host.Record(0).data().status);
    SetErrorMessage(nullptr, 1, "tag", "nobody", KXSO::SNAP_STATUS_MAP_FAILED);
}

// --- Exceptions end the call with one line on the first record ---------------

class ThrowingUtil final : public KXSO::KXOSUtil {
public:
    explicit ThrowingUtil(bool platformException) : platform_(platformException) {}
    long long getJobId() override {
        if (platform_)
            throw KxException("KxJobSource.cpp", 77, "job number unavailable");
        throw std::logic_error("broken host");
    }

private:
    bool platform_;
};

TEST_F(FrameTest, PlatformExceptionsEndWithErrorsAnyOtherUnhandled) {
    TestHost host;
    host.Add(DiskRecord("/dev/sdc"));
    ThrowingUtil platform(true);
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_snapDevices(host.devices(), host.count(), &platform));
    EXPECT_TRUE(host.Logged("End with errors [KxJobSource.cpp][77][job number unavailable]",
                            "AZUREAPI >>>>>"));
    EXPECT_EQ(6, host.Record(0).data().status);
    ThrowingUtil other(false);
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_revertSnaps(host.devices(), host.count(), &other));
    EXPECT_TRUE(host.Logged("End with unhandled exception", "AZUREAPI >>>>>"));
}

}  // namespace
