// Map and unmap, per device and bulk, through the real exports.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

class MapUnmapTest : public DriverTest {
protected:
    // Mapping records for snapshots taken of sdc, sdd, sde.
    std::unique_ptr<kxtest::TestHost> BackedUpHost() {
        backup_ = Backup({"/dev/sdc", "/dev/sdd", "/dev/sde"});
        emu_->clearRequestLog();
        return SnapshotHost(*backup_);
    }
    // Records for the clone disks s0_CLONE, s1_CLONE, s2_CLONE.
    std::unique_ptr<kxtest::TestHost> CloneRecordsHost() const {
        auto host = std::make_unique<kxtest::TestHost>(5);
        for (int i = 0; i < 3; ++i)
            host->Add(SnapshotRecord("s" + std::to_string(i), Metadata("spareSnap", "spare")));
        return host;
    }
    std::unique_ptr<kxtest::TestHost> backup_;
};

void ExpectMapped(kxtest::TestHost& host, size_t index, int lun, const std::string& device) {
    EXPECT_EQ(Status(host, index), 12) << index;
    EXPECT_EQ(host.Record(index).data().mappedDevicePath, device) << index;
    EXPECT_FALSE(device.empty());
    EXPECT_GE(lun, 0);
}

TEST_F(MapUnmapTest, BulkMapAttachesAllInOneUpdateAndUnmapRemovesThem) {
    auto host = BackedUpHost();
    ASSERT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 0);
    EXPECT_EQ(Sent("PUT", "/virtualMachines/").size(), 1u);
    for (size_t i = 0; i < 3; ++i) {
        const std::string disk = host->Record(i).data().snapName.value() + "_CLONE";
        const int lun = AttachedLun(disk);
        ASSERT_GE(lun, 0) << disk;
        ExpectMapped(*host, i, lun, DeviceAtLun(lun));
        EXPECT_EQ(host->Record(i).data().statusHistory.front(), 11);
    }
    EXPECT_TRUE(host->Logged("Successfully discovered all the mapped devices"));
    EXPECT_FALSE(host->Logged("User chose to disable bulk http requests"));

    emu_->clearRequestLog();
    ASSERT_EQ(kxso_unmapSnaps(host->devices(), host->count(), host->util()), 0);
    EXPECT_EQ(Sent("PUT", "/virtualMachines/").size(), 1u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Status(*host, i), 14);
        EXPECT_EQ(host->Record(i).data().mappedDevicePath, "");
        EXPECT_FALSE(DiskExists(host->Record(i).data().snapName.value() + "_CLONE"));
    }
    EXPECT_EQ(emu_->dataDisks().size(), 4u);
    EXPECT_TRUE(host->Logged("Successfully unmapped all the snapshot disks"));
}

TEST_F(MapUnmapTest, BulkMapOfDisksAlreadyAttachedSendsNoAttach) {
    auto host = BackedUpHost();
    ASSERT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 0);
    const std::string device = host->Record(1).data().mappedDevicePath;
    emu_->clearRequestLog();
    auto again = SnapshotHost(*backup_);
    ASSERT_EQ(kxso_mapSnaps(again->devices(), again->count(), again->util()), 0);
    EXPECT_TRUE(Sent("PUT").empty());
    EXPECT_EQ(again->Record(1).data().mappedDevicePath, device);
    EXPECT_EQ(Status(*again, 2), 12);
}

TEST_F(MapUnmapTest, PerDeviceMapStopsAtASnapshotThatCannotBeVerified) {
    UseSettings(kPerDevice);
    auto host = BackedUpHost();
    const std::string missing = Metadata("gone", "data1");
    host->Record(1).data().metadata[6] = missing;
    EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_TRUE(host->Logged(
        "Found bAzureEngineDisableHttpBulkRequest setting. User chose to disable bulk http "
        "requests"));
    const int lun = AttachedLun("snap-sdc_CLONE");
    ExpectMapped(*host, 0, lun, DeviceAtLun(lun));
    EXPECT_EQ(ErrorCode(*host, 1), 62009);
    EXPECT_EQ(ErrorText(*host, 1).rfind("Failed to verify Azure disk snapshot with url " +
                                            missing.substr(8, missing.find(';') - 8) + "error: ",
                                        0),
              0u)
        << ErrorText(*host, 1);
    EXPECT_EQ(Status(*host, 2), 11);
    EXPECT_EQ(ErrorCode(*host, 2), 0);
    EXPECT_FALSE(DiskExists("snap-sde_CLONE"));
}

TEST_F(MapUnmapTest, PerDeviceMapAndUnmapWithCloneIndex) {
    UseSettings(kPerDevice);
    auto host = BackedUpHost();
    for (size_t i = 0; i < 3; ++i) {
        host->Record(i).data().snapOptions = 0x8000;
        host->Record(i).data().cloneIndex = 2;
    }
    ASSERT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 0);
    EXPECT_EQ(Sent("PUT", "/virtualMachines/").size(), 3u);
    const int lun = AttachedLun("snap-sdd_2_CLONE");
    ASSERT_GE(lun, 0);
    EXPECT_EQ(host->Record(1).data().mappedDevicePath, DeviceAtLun(lun));
    EXPECT_EQ(host->Record(1).data().statusHistory.back(), 12);
    EXPECT_TRUE(host->Logged("Mapped snapshot disk at lunid [" + std::to_string(lun) +
                             "] as device name [" + DeviceAtLun(lun) + "]"));

    // Unmap: the second record's disk cannot be named; the others go.
    host->Record(1).data().metadata[6] = "sourceDiskSku";
    EXPECT_EQ(kxso_unmapSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(Status(*host, 0), 14);
    EXPECT_EQ(Status(*host, 2), 14);
    EXPECT_EQ(ErrorText(*host, 1), "Failed to parse Azure snapshot URL from metadata");
    EXPECT_FALSE(DiskExists("snap-sdc_2_CLONE"));
    EXPECT_TRUE(DiskExists("snap-sdd_2_CLONE"));
    EXPECT_TRUE(host->Logged("Failed to unmap the snapshot disks"));
}

// Disks that look like ours by name but do not carry our tag are never detached.
azemu::Json ScenarioWithCloneDisks(int ownedCount) {
    azemu::Json scenario = FourDiskScenario();
    for (int i = 0; i < 3; ++i) {
        azemu::Json disk = {{"lun", 10 + i}, {"name", "s" + std::to_string(i) + "_CLONE"}};
        if (i < ownedCount) {
            disk["tags"] = {{"DiskCreatedByHarrowind", "made from snapshot"}};
        }
        scenario["vm"]["dataDisks"].push_back(disk);
    }
    return scenario;
}

TEST_F(MapUnmapTest, BulkUnmapJudgesByWhatStaysAttached) {
    for (int owned : {1, 0, 3}) {
        StartEmulator(ScenarioWithCloneDisks(owned));
        auto host = CloneRecordsHost();
        const int result = kxso_unmapSnaps(host->devices(), host->count(), host->util());
        if (owned == 1) {
            EXPECT_EQ(result, 2);
            EXPECT_EQ(Status(*host, 0), 14);
            EXPECT_FALSE(DiskExists("s0_CLONE"));
            EXPECT_EQ(Status(*host, 1), 15);
            EXPECT_EQ(AttachedLun("s2_CLONE"), 12);
            EXPECT_TRUE(host->Logged("Failed to unmap some of the snapshot disks"));
        } else if (owned == 0) {
            EXPECT_EQ(result, 1);
            EXPECT_TRUE(host->Logged("Failed to unmap the snapshot disks"));
        } else {
            EXPECT_EQ(result, 0);
        }
    }
    // A record without metadata counts as not unmapped; the others go.
    StartEmulator(ScenarioWithCloneDisks(3));
    auto host = CloneRecordsHost();
    host->Record(2).data().metadata.clear();
    EXPECT_EQ(kxso_unmapSnaps(host->devices(), host->count(), host->util()), 2);
    EXPECT_EQ(ErrorText(*host, 2), "Failed to fetch Azure snapshot URL from metadata.");
    EXPECT_EQ(ErrorCode(*host, 2), 62010);
    EXPECT_EQ(Status(*host, 0), 14);
    EXPECT_EQ(Status(*host, 1), 14);
}

TEST_F(MapUnmapTest, PerDeviceUnmapFailuresNameOnlyTheirOwnDisk) {
    StartEmulator(ScenarioWithCloneDisks(3));
    UseSettings(kPerDevice);
    auto host = CloneRecordsHost();
    // The first record's detach goes through.
    InjectFault("PUT", "virtualMachines/", azemu::FaultAction::Error, -1, 500,
                "InternalServerError", false, 1);
    EXPECT_EQ(kxso_unmapSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(Status(*host, 0), 14);
    for (size_t i = 1; i < 3; ++i) {
        const std::string own = "[s" + std::to_string(i) + "_CLONE]";
        const std::string other = "[s" + std::to_string(3 - i) + "_CLONE]";
        EXPECT_EQ(ErrorText(*host, i).rfind("Failed to unmap Azure snapshot disk " + own, 0), 0u);
        EXPECT_EQ(ErrorText(*host, i).find(other), std::string::npos);
        EXPECT_EQ(ErrorCode(*host, i), 62010);
        EXPECT_EQ(Status(*host, i), 15);
    }
}

TEST_F(MapUnmapTest, FailedAttachLeavesNothingBehind) {
    for (const char* mode : {"bulk", "per-device"}) {
        StartEmulator(FourDiskScenario());
        if (std::string(mode) == "per-device")
            UseSettings(kPerDevice);
        auto host = BackedUpHost();
        InjectFault("PUT", "virtualMachines/", azemu::FaultAction::AsyncFail);
        EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 1) << mode;
        EXPECT_EQ(emu_->dataDisks().size(), 4u) << mode;
        for (const char* disk : {"snap-sdc_CLONE", "snap-sdd_CLONE", "snap-sde_CLONE"})
            EXPECT_FALSE(DiskExists(disk)) << mode << " " << disk;
        const size_t failing = std::string(mode) == "bulk" ? 2 : 0;
        EXPECT_EQ(ErrorCode(*host, failing), 62009) << mode;
        EXPECT_EQ(
            ErrorText(*host, failing)
                .rfind(std::string(mode) == "bulk" ? "Failed to map Azure disk snapshots. error: "
                                                   : "Failed to map Azure disk snapshot with url ",
                       0),
            0u)
            << ErrorText(*host, failing);
    }
}

TEST_F(MapUnmapTest, DeviceThatNeverAppearsLeavesTheDiskAttachedAndSaysSo) {
    for (const char* mode : {"bulk", "per-device"}) {
        StartEmulator(FourDiskScenario());
        if (std::string(mode) == "per-device")
            UseSettings(kPerDevice);
        auto host = BackedUpHost();
        Tune(&azemu::Settings::deviceDelayMs, 600000);
        EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 1) << mode;
        // The first record's disk is attached without a device: status 9 and the error.
        EXPECT_GE(AttachedLun("snap-sdc_CLONE"), 0) << mode;
        EXPECT_EQ(Status(*host, 0), 9) << mode;
        EXPECT_EQ(ErrorCode(*host, 0), 62009) << mode;
        EXPECT_EQ(host->Record(0).data().mappedDevicePath, "") << mode;
        if (std::string(mode) == "bulk") {
            // Every disk was attached in the one update; each record says so.
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(Status(*host, i), 9);
                EXPECT_EQ(ErrorText(*host, i).rfind("Failed to get disk name for lunid[", 0), 0u);
            }
        } else {
            EXPECT_EQ(ErrorText(*host, 0), "Failed to find newly mapped device names");
            EXPECT_FALSE(DiskExists("snap-sdd_CLONE"));
        }
        // Unmap takes the attached disks away again.
        emu_->completePending();
        EXPECT_EQ(kxso_unmapSnaps(host->devices(), host->count(), host->util()), 0) << mode;
        EXPECT_FALSE(DiskExists("snap-sdc_CLONE"));
        EXPECT_EQ(emu_->dataDisks().size(), 4u);
    }
}

// A host that will not store the mapped status has not learned of the disk:
// the call must not report success, and the record must name the disk that
// stays attached so that it can be found and removed.
TEST_F(MapUnmapTest, HostRefusingTheMappedStatusFailsTheRecordAndNamesTheDisk) {
    for (const char* mode : {"bulk", "per-device"}) {
        UseSettings(std::string(mode) == "bulk" ? "" : kPerDevice);
        auto host = BackedUpHost();
        host->Record(1).data().refuse = {"setStatus"};
        EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 1) << mode;
        EXPECT_EQ(Status(*host, 0), 12) << mode;
        const std::string disk = host->Record(1).data().snapName.value() + "_CLONE";
        const int lun = AttachedLun(disk);
        ASSERT_GE(lun, 0) << mode;
        EXPECT_EQ(ErrorCode(*host, 1), 62009) << mode;
        EXPECT_NE(ErrorText(*host, 1).find("refused to store status [12]"), std::string::npos)
            << ErrorText(*host, 1);
        EXPECT_NE(ErrorText(*host, 1).find("[" + disk + "]"), std::string::npos)
            << ErrorText(*host, 1);
        EXPECT_NE(ErrorText(*host, 1).find(DeviceAtLun(lun)), std::string::npos)
            << ErrorText(*host, 1);
        // The host refusing is no reason to take the disk away again: a later
        // unmap of the record removes it.
        host->Record(1).data().refuse.clear();
        ASSERT_EQ(kxso_unmapSnaps(host->devices(), host->count(), host->util()), 0) << mode;
        EXPECT_FALSE(DiskExists(disk)) << mode;
    }
}

TEST_F(MapUnmapTest, BadMetadataFailsBulkMapBeforeAnythingIsAttached) {
    auto host = BackedUpHost();
    host->Record(2).data().metadata[6] = "snapURL:x;colour:blue;";
    EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(ErrorText(*host, 2), "Failed to parse Azure snapshot URL from metadata.");
    EXPECT_TRUE(Sent("PUT").empty());
    EXPECT_EQ(Status(*host, 0), 11);
}

}  // namespace
}  // namespace drivertest
