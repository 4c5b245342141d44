// Prepare, snapshot and post-snapshot through the real exports.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

class BackupTest : public DriverTest {};

TEST_F(BackupTest, PrepareTiesEachDeviceToItsLunAndFilesItUnderTheArray) {
    auto host = DeviceHost({"/dev/sdc", "/dev/sdf"});
    ASSERT_EQ(kxso_prepareDevices(host->devices(), host->count(), host->util()), 0);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(Status(*host, i), 1);
        EXPECT_EQ(host->Record(i).data().arrayName.value_or(""), "Azure-Default-MSI");
    }
    EXPECT_EQ(host->Record(0).data().transientMetadata.at(102), "0");
    EXPECT_EQ(host->Record(1).data().transientMetadata.at(102), "3");
    EXPECT_TRUE(host->Logged("Found scsi lunid [3] for source device name [/dev/sdf]"));
    EXPECT_TRUE(host->Logged("Identified source device [/dev/sdc] as Azure disk"));
}

TEST_F(BackupTest, PrepareStopsAtADeviceThatIsNoDataDisk) {
    auto host = DeviceHost({"/dev/sdc", "/dev/sda", "/dev/sdd"});
    host->Record(0).data().arrayId = 5;  // already filed: keeps its array
    host->Record(2).data().sourceDevicePath.reset();
    EXPECT_EQ(kxso_prepareDevices(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(Status(*host, 0), 1);
    EXPECT_FALSE(host->Record(0).data().arrayName.has_value());
    EXPECT_EQ(Status(*host, 1), 2);
    EXPECT_EQ(ErrorCode(*host, 1), 62008);
    EXPECT_EQ(ErrorText(*host, 1).rfind("Failed to get LUN id for the disk name [/dev/sda]", 0),
              0u);
    EXPECT_EQ(Status(*host, 2), 2);
    EXPECT_EQ(ErrorCode(*host, 2), 0);

    auto missing = DeviceHost({"/dev/sdc"});
    missing->Record(0).data().sourceDevicePath.reset();
    EXPECT_EQ(kxso_prepareDevices(missing->devices(), missing->count(), missing->util()), 1);
    EXPECT_EQ(ErrorCode(*missing, 0), 62001);
    EXPECT_EQ(ErrorText(*missing, 0), "Failed to get Azure vm disk name");
}

TEST_F(BackupTest, SnapshotStoresNameMetadataStatusAndFlag) {
    auto host = Backup({"/dev/sdc", "/dev/sdd", "/dev/sde", "/dev/sdf"});
    const char* disks[] = {"data0", "data1", "data2", "data3"};
    const char* skus[] = {"Premium_LRS", "Premium_LRS", "Standard_LRS", "StandardSSD_LRS"};
    for (size_t i = 0; i < 4; ++i) {
        const std::string snap = host->Record(i).data().snapName.value_or("");
        // Snapshot leaves 5; post-snapshot sets 6 up front and leaves it on success.
        EXPECT_EQ(host->Record(i).data().statusHistory, (std::vector<int>{2, 1, 6, 5, 6}));
        EXPECT_EQ(host->Record(i).data().snapFlags & 0x8000000ULL, 0x8000000ULL);
        EXPECT_EQ(SnapMetadata(*host, i), Metadata(snap, disks[i], disks[i], skus[i]));
        ASSERT_TRUE(SnapshotExists(snap)) << snap;
        EXPECT_EQ(emu_->resource(emu_->snapshotId(snap))->at("properties").at("incremental"), true);
    }
    EXPECT_TRUE(host->Logged("Creating incr snapshot for disk lunid [2] name [/dev/sde]"));
    EXPECT_TRUE(host->Logged("Created snapshot [snap-sdf] for source device [/dev/sdf]"));
}

TEST_F(BackupTest, IncrementalRefusedWith400IsRetriedAsFull) {
    Tune(&azemu::Settings::incrementalSnapshots, false);
    auto host = DeviceHost({"/dev/sdc"});
    ASSERT_EQ(kxso_snapDevices(host->devices(), host->count(), host->util()), 0);
    EXPECT_EQ(Status(*host, 0), 5);
    EXPECT_TRUE(host->Logged(
        "Unable to create incr snapshot. Creating full snapshot for disk lunid [0] name "
        "[/dev/sdc]"));
    const auto puts = Sent("PUT", "/snapshots/snap-sdc");
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_NE(puts[0].url.find("2019-03-01"), std::string::npos);
    EXPECT_NE(puts[1].url.find("2018-04-01"), std::string::npos);
    EXPECT_EQ(emu_->resource(emu_->snapshotId("snap-sdc"))->at("properties").at("incremental"),
              false);
}

TEST_F(BackupTest, OtherFailuresAndDisabledIncrementalAreNotRetried) {
    // Every retry of the request meets the failure too.
    InjectFault("PUT", "snapshots/snap-sdc", azemu::FaultAction::Error, -1);
    auto host = DeviceHost({"/dev/sdc", "/dev/sdd"});
    EXPECT_EQ(kxso_snapDevices(host->devices(), host->count(), host->util()), 1);
    // One request and its retries, never a full snapshot after them.
    EXPECT_EQ(Sent("PUT", "/snapshots/snap-sdc").size(), 5u);
    emu_->clearFaults();
    EXPECT_EQ(ErrorCode(*host, 0), 60001);
    EXPECT_EQ(
        ErrorText(*host, 0).rfind(
            "Failed to create snapshot for Azure disk at lunid [0] name [/dev/sdc]. error [", 0),
        0u);
    // Name and metadata are kept even so, for a later delete.
    EXPECT_EQ(SnapMetadata(*host, 0), Metadata("snap-sdc", "data0", "data0", "Premium_LRS"));
    EXPECT_EQ(Status(*host, 1), 6);
    // What was made for the device after the failing one meanwhile is gone again.
    EXPECT_FALSE(SnapshotExists("snap-sdd"));

    emu_->clearRequestLog();
    UseSettings("bAzureEngineDisableIncrSnapshot=true\nbAzureDisablePostCreateSnapPhase=true\n");
    auto full = DeviceHost({"/dev/sde"});
    ASSERT_EQ(kxso_snapDevices(full->devices(), full->count(), full->util()), 0);
    EXPECT_TRUE(full->Logged("User disabled incremental snapshots"));
    EXPECT_TRUE(full->Logged("Creating full snapshot for disk lunid [2] name [/dev/sde]"));
    EXPECT_EQ(full->Record(0).data().snapFlags, 0u);
}

TEST_F(BackupTest, PostSnapshotTimesOutAfterOneSleepWithMaximumWaitZero) {
    Tune(&azemu::Settings::provisioningDelayMs, 600000);
    auto host = DeviceHost({"/dev/sdc"});
    ASSERT_EQ(kxso_snapDevices(host->devices(), host->count(), host->util()), 0);
    UseSettings("nAzureRESTAPIReqWaitTimeSecs=0\nnAzureRESTAPIReqPollIntervalSecs=1\n");
    emu_->clearRequestLog();
    EXPECT_EQ(kxso_postSnapDevices(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(Sent("GET", "/snapshots/snap-sdc").size(), 2u);
    int sleeps = 0;
    for (const auto& line : host->Log()) {
        sleeps += line.text.find("Check the snapshot [snap-sdc] status in  [1] seconds ...") !=
                  std::string::npos;
    }
    EXPECT_EQ(sleeps, 1);
    EXPECT_TRUE(host->Logged(
        "Maximum wait time [0 secs] reached. Unable to check snapshot status for [snap-sdc]"));
    EXPECT_EQ(ErrorCode(*host, 0), 60001);
    EXPECT_NE(ErrorText(*host, 0).find("Timed out while checking on snapshot [snap-sdc] status"),
              std::string::npos);
    EXPECT_EQ(Status(*host, 0), 6);
}

TEST_F(BackupTest, PostSnapshotStopsAtASnapshotThatFailed) {
    InjectFault("PUT", "snapshots/", azemu::FaultAction::AsyncFail);
    auto host = DeviceHost({"/dev/sdc"});
    ASSERT_EQ(kxso_snapDevices(host->devices(), host->count(), host->util()), 0);
    EXPECT_EQ(kxso_postSnapDevices(host->devices(), host->count(), host->util()), 1);
    EXPECT_NE(ErrorText(*host, 0).find("provisioning failed"), std::string::npos);
    EXPECT_LE(Sent("GET", "/snapshots/snap-sdc").size(), 2u);
}

// The snapshot PUT's answer is not read: a 200 that is no Azure answer at all
// (a proxy's page) passes the snapshot phase, and post-snapshot, which every
// backup runs next, is what finds that no snapshot exists.
TEST_F(BackupTest, PostSnapshotFailsASnapshotWhosePutWasAnsweredByAnHtmlPage) {
    InjectFault("PUT", "/snapshots/", azemu::FaultAction::NonJson, 1, 200);
    auto host = DeviceHost({"/dev/sdc"});
    ASSERT_EQ(kxso_snapDevices(host->devices(), host->count(), host->util()), 0);
    EXPECT_FALSE(SnapshotExists("snap-sdc"));
    UseSettings("nAzureRESTAPIReqWaitTimeSecs=0\n");
    EXPECT_EQ(kxso_postSnapDevices(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(Status(*host, 0), 6);
    EXPECT_EQ(ErrorCode(*host, 0), 60001);
    EXPECT_NE(ErrorText(*host, 0).find("snap-sdc"), std::string::npos) << ErrorText(*host, 0);
}

TEST_F(BackupTest, BadMetadataIsRefusedWithoutRequests) {
    const std::string good = Metadata("spareSnap", "spare");
    // A disk where the snapshot belongs.
    const std::string other =
        "snapURL:subscriptions/00000000-0000-0000-0000-00000000beef/"
        "resourceGroups/kx-rg/providers/Microsoft.Compute/disks/x;"
        "sourceDiskURL:;sourceDiskName:;sourceDiskSku:;";
    for (const std::string& text :
         {std::string(), good.substr(0, 40), good.substr(0, good.find(";sourceDiskURL") + 9),
          good + "colour:blue;", other}) {
        auto host = std::make_unique<kxtest::TestHost>(3);
        host->Add(SnapshotRecord("s", text));
        emu_->clearRequestLog();
        EXPECT_EQ(kxso_postSnapDevices(host->devices(), host->count(), host->util()), 1) << text;
        EXPECT_EQ(ErrorText(*host, 0), "Failed to parse Azure snapshot URL from metadata.") << text;
        EXPECT_TRUE(Sent("*", "/snapshots/").empty()) << text;
    }
}

TEST_F(BackupTest, RefusingHostRecordsDoNotBreakTheCall) {
    auto host = DeviceHost({"/dev/sdc", "/dev/sdd", "/dev/sde"});
    host->Record(0).data().refuse = {"setStatus", "setSnapName"};
    host->Record(1).data().refuse = {"setSnapMetadata"};
    EXPECT_EQ(kxso_snapDevices(host->devices(), host->count(), host->util()), 1);
    // The first snapshot exists and is described; only its status could not be set.
    EXPECT_EQ(SnapMetadata(*host, 0), Metadata("snap-sdc", "data0", "data0", "Premium_LRS"));
    EXPECT_TRUE(SnapshotExists("snap-sdc"));
    // A snapshot the host cannot describe is no backup: failed and removed.
    EXPECT_EQ(ErrorCode(*host, 1), 60001);
    EXPECT_NE(ErrorText(*host, 1).find("Failed to store metadata of snapshot [snap-sdd]"),
              std::string::npos);
    EXPECT_FALSE(SnapshotExists("snap-sdd"));
    EXPECT_EQ(Status(*host, 2), 6);
    EXPECT_TRUE(SnapMetadata(*host, 2).empty());
}

}  // namespace
}  // namespace drivertest
