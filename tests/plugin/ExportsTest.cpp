// The exported operations through the real entry points: fixed answers, the
// choice between the managed-disk and the cloud path, and that nothing thrown
// by a host record leaves the plug-in.
#include <stdexcept>

#include <gtest/gtest.h>

#include "kxso/kxso_exports.h"
#include "src/KXSOSnapAzure.h"
#include "support/TestEnv.h"
#include "support/TestHost.h"

namespace {

using kxsnap::RecordData;
using kxtest::DiskRecord;
using kxtest::TestHost;

constexpr const char* kNetAppDevice =
    "{idatype:nfs,type:nfs,lunuuid:\\/share1,targethostname:10.0.0.4}";

// Every test runs without Azure: the metadata service points at a closed
// loopback port, so a connection attempt fails at once.
class ExportsTest : public ::testing::Test {
protected:
    kxtest::TempDir dir_;
    kxtest::ScopedEnv log_{"KXSO_LOG_FILE", (dir_ / "kxso.log").c_str()};
    kxtest::ScopedEnv imds_{"KXSO_IMDS_ENDPOINT", "http://127.0.0.1:9/"};
    kxtest::ScopedEnv arm_{"KXSO_ARM_ENDPOINT", "https://127.0.0.1:9/"};
    kxtest::ScopedSettings settings_{""};
};

TEST_F(ExportsTest, VersionIsOneZeroZeroAndEverythingIsSupported) {
    int16_t major = -1, minor = -1, patch = -1;
    kxso_version(&major, &minor, &patch);
    EXPECT_EQ(1, major);
    EXPECT_EQ(0, minor);
    EXPECT_EQ(0, patch);
    kxso_version(nullptr, nullptr, nullptr);  // must not crash
    // isSupported answers 1 without reading its arguments.
    EXPECT_EQ(1, kxso_isSupported(nullptr, 0, nullptr, nullptr, 0));
    EXPECT_EQ(1, kxso_isSupported(reinterpret_cast<void*>(0x1), -5, nullptr, nullptr, -1));
}

// Reconcile is offered for NetApp Files only: for managed disks it too fails
// and changes nothing.
TEST_F(ExportsTest, OperationsNotOfferedTouchNothingAndFail) {
    using Export = KXSO::ResultCode (*)(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*);
    for (Export operation : {kxso_unprepareDevices, kxso_isMapped, kxso_prepareRemoteSnaps,
                             kxso_createRemoteSnaps, kxso_deleteRemoteSnaps, kxso_reconcileSnaps}) {
        TestHost host;
        RecordData data = DiskRecord("/dev/sdc");
        data.status = 5;
        host.Add(data);
        EXPECT_EQ(KXSO::RESULT_FAILURE, operation(host.devices(), host.count(), host.util()));
        EXPECT_EQ(5, host.Record(0).data().status);
        EXPECT_TRUE(host.Record(0).data().statusHistory.empty());
        EXPECT_EQ(0, host.Record(0).data().errorCode);
        EXPECT_TRUE(host.Log().empty());
        EXPECT_EQ(KXSO::RESULT_FAILURE, operation(nullptr, 0, nullptr));
    }
}

// --- Choosing the path ------------------------------------------------------

TEST_F(ExportsTest, PrepareChoosesTheCloudPathFromTheFirstRecordOnly) {
    TestHost host;
    RecordData cloud;
    cloud.sourceDevicePath = kNetAppDevice;
    host.Add(cloud);
    host.Add(DiskRecord("/dev/sdc"));
    EXPECT_TRUE(isCloudSnapOp(host.devices(), host.count(), host.util(), KXSO_OP_PREPARE));
    EXPECT_TRUE(host.Logged("Cloud snap device found (Azure NetApp Files). Source device path [" +
                                std::string(kNetAppDevice) + "]",
                            "AzureSnapCloudSwitch"));

    TestHost reversed;
    reversed.Add(DiskRecord("/dev/sdc"));
    reversed.Add(cloud);
    EXPECT_FALSE(
        isCloudSnapOp(reversed.devices(), reversed.count(), reversed.util(), KXSO_OP_PREPARE));
    EXPECT_TRUE(reversed.Logged("Azure Disk device found. Source device path [/dev/sdc]",
                                "AzureSnapCloudSwitch"));
}

TEST_F(ExportsTest, WithoutANetAppSourceOrRecordsTheManagedDiskPathIsTaken) {
    TestHost host;
    RecordData plain;  // the backslash before the slash is needed
    plain.sourceDevicePath = "{lunuuid:/share1,targethostname:10.0.0.4}";
    host.Add(plain);
    EXPECT_FALSE(isCloudSnapOp(host.devices(), host.count(), host.util(), KXSO_OP_PREPARE));

    TestHost refusingHost;
    RecordData refusing;
    refusing.sourceDevicePath = kNetAppDevice;
    refusing.refuse = {"getSourceDevicePath"};
    refusingHost.Add(refusing);
    EXPECT_FALSE(isCloudSnapOp(refusingHost.devices(), refusingHost.count(), refusingHost.util(),
                               KXSO_OP_PREPARE));
    EXPECT_TRUE(refusingHost.Log().empty());

    EXPECT_FALSE(isCloudSnapOp(nullptr, 1, host.util(), KXSO_OP_PREPARE));
    EXPECT_FALSE(isCloudSnapOp(host.devices(), 0, host.util(), KXSO_OP_SNAP));
    KXSO::SnapInfo* nothing[1] = {nullptr};
    EXPECT_FALSE(isCloudSnapOp(nothing, 1, host.util(), KXSO_OP_SNAP));
}

TEST_F(ExportsTest, LaterOperationsFollowOnlyTheFirstRecordsCloudFlag) {
    for (short operation : {KXSO_OP_SNAP, KXSO_OP_POST_SNAP, KXSO_OP_MAP, KXSO_OP_UNMAP,
                            KXSO_OP_DELETE, KXSO_OP_REVERT, KXSO_OP_RECONCILE}) {
        TestHost flagged;
        RecordData cloud;
        cloud.snapFlags = KXSO::SNAP_FLAG_CLOUD_SNAP | 0x10;
        // A NetApp-looking source device does not matter after prepare.
        RecordData disk = DiskRecord(kNetAppDevice);
        flagged.Add(cloud);
        flagged.Add(disk);
        EXPECT_TRUE(isCloudSnapOp(flagged.devices(), flagged.count(), flagged.util(), operation));

        TestHost second;
        second.Add(disk);
        second.Add(cloud);
        EXPECT_FALSE(isCloudSnapOp(second.devices(), second.count(), second.util(), operation));
        // The managed-disk snapshot flag is not the cloud flag.
        TestHost managed;
        RecordData snapped = DiskRecord("/dev/sdc");
        snapped.snapFlags = KXSO::SNAP_FLAG_AZURE_DISK_SNAP;
        managed.Add(snapped);
        EXPECT_FALSE(isCloudSnapOp(managed.devices(), managed.count(), managed.util(), operation));
    }
}

// --- Host records that misbehave ----------------------------------------------

class ThrowingRecord : public kxsnap::HostRecord {
public:
    using HostRecord::HostRecord;
    bool getSourceDevicePath(std::string&) override { throw std::runtime_error("host broke"); }
    bool isSnapFlagSet(uint64_t) override { throw 42; }
};

TEST_F(ExportsTest, NothingThrownByTheHostLeavesAnExport) {
    kxsnap::JobLog log;
    kxsnap::JobArrays arrays;
    ThrowingRecord record(0, DiskRecord("/dev/sdc"), log, arrays);
    KXSO::SnapInfo* devices[] = {&record};
    kxsnap::HostUtil util(1);
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_prepareDevices(devices, 1, &util));
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_snapDevices(devices, 1, &util));
    EXPECT_EQ(KXSO::RESULT_FAILURE, kxso_deleteSnaps(devices, 1, &util));
}

}  // namespace
