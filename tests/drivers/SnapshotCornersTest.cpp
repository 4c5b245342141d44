// Snapshot records that used to be stuck or to stall others: metadata naming
// a snapshot in another subscription, a refused snapshot name, and one clone
// disk whose owner cannot be read during a bulk unmap.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"
#include "platform/FXString.h"

namespace drivertest {
namespace {

class SnapshotCornersTest : public DriverTest {
protected:
    static std::string OtherSubscriptionMetadata() {
        return "snapURL:subscriptions/0b1c2d3e-0000-4000-8000-00000000000f/resourceGroups/far-rg/"
               "providers/Microsoft.Compute/snapshots/farSnap;sourceDiskURL:subscriptions/"
               "0b1c2d3e-0000-4000-8000-00000000000f/resourceGroups/far-rg/providers/"
               "Microsoft.Compute/disks/farDisk;sourceDiskName:farDisk;sourceDiskSku:Premium_LRS;";
    }
    std::unique_ptr<kxtest::TestHost> FarHost() {
        auto host = std::make_unique<kxtest::TestHost>(41);
        host->Add(SnapshotRecord("farSnap", OtherSubscriptionMetadata()));
        return host;
    }
};

// Metadata outside the VM's subscription was refused as unparsable by every
// operation, so such a snapshot could never be deleted.
TEST_F(SnapshotCornersTest, ASnapshotInAnotherSubscriptionIsDeletedAndItsRecordRetired) {
    auto host = FarHost();
    emu_->clearRequestLog();
    ASSERT_EQ(kxso_deleteSnaps(host->devices(), host->count(), host->util()), 0)
        << ErrorText(*host, 0);
    EXPECT_EQ(Status(*host, 0), 20);
    EXPECT_EQ(Sent("DELETE", "0b1c2d3e-0000-4000-8000-00000000000f").size(), 1u);
}

TEST_F(SnapshotCornersTest, MapUnmapAndRevertReadSuchMetadataInsteadOfRefusingIt) {
    const struct {
        Export operation;
        const char* text;  // the start of the record's error, "" for none
    } cases[] = {
        {kxso_mapSnaps, "Failed to verify Azure disk snapshot with url subscriptions/0b1c2d3e"},
        {kxso_revertSnaps, "Failed to verify Azure  snapshot with url subscriptions/0b1c2d3e"},
        {kxso_unmapSnaps, ""},
    };
    for (const auto& c : cases) {
        auto host = FarHost();
        c.operation(host->devices(), host->count(), host->util());
        EXPECT_EQ(ErrorText(*host, 0).rfind(c.text, 0), 0u) << ErrorText(*host, 0);
        EXPECT_EQ(ErrorText(*host, 0).find("Failed to parse"), std::string::npos);
    }
}

// A name the name check refuses used to leave "snapURL:;sourceDiskURL:;..."
// behind, after which every delete failed with 60004.
TEST_F(SnapshotCornersTest, ARefusedSnapshotNameKeepsFullMetadataAndIsRetiredByDelete) {
    auto backup = DeviceHost({"/dev/sdc"});
    backup->Record(0).data().snapName = "bad?name";
    ASSERT_EQ(kxso_prepareDevices(backup->devices(), backup->count(), backup->util()), 0);
    EXPECT_EQ(kxso_snapDevices(backup->devices(), backup->count(), backup->util()), 1);
    EXPECT_EQ(ErrorCode(*backup, 0), 60001);
    const std::string metadata = SnapMetadata(*backup, 0);
    EXPECT_EQ(metadata.rfind("snapURL:subscriptions/", 0), 0u) << metadata;
    EXPECT_NE(FXString::FindString(metadata, "/snapshots/bad?name;sourceDiskURL:subscriptions/",
                                   true),
              std::string::npos)
        << metadata;
    EXPECT_NE(FXString::FindString(metadata, "/disks/data0;sourceDiskName:data0;", true),
              std::string::npos)
        << metadata;

    // That record, and one an older version left with empty ids, retire without a request.
    auto host = SnapshotHost(*backup);
    host->Add(SnapshotRecord("bad?name",
                             "snapURL:;sourceDiskURL:;sourceDiskName:data0;sourceDiskSku:Premium_LRS;"));
    emu_->clearRequestLog();
    EXPECT_EQ(kxso_deleteSnaps(host->devices(), host->count(), host->util()), 0)
        << ErrorText(*host, 0) << ErrorText(*host, 1);
    EXPECT_EQ(Status(*host, 0), 20);
    EXPECT_EQ(Status(*host, 1), 20);
    EXPECT_TRUE(Sent("DELETE").empty());
    EXPECT_TRUE(DiskExists("data0"));
}

// One clone disk whose tags cannot be read used to stop the detach of every
// disk of a bulk unmap. The fault stays for the whole call, as an outage would.
TEST_F(SnapshotCornersTest, OneUnreadableCloneDiskFailsOnlyItsOwnRecord) {
    auto backup = Backup({"/dev/sdc", "/dev/sdd", "/dev/sde"});
    auto host = SnapshotHost(*backup);
    ASSERT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 0);
    const std::string mappedDevice = host->Record(1).data().mappedDevicePath;
    ASSERT_FALSE(mappedDevice.empty());
    InjectFault("GET", "/disks/snap-sdd_CLONE", azemu::FaultAction::Error, -1);

    EXPECT_EQ(kxso_unmapSnaps(host->devices(), host->count(), host->util()), 2);
    EXPECT_EQ(ErrorCode(*host, 1), 62010);
    EXPECT_NE(ErrorText(*host, 1).find("snap-sdd_CLONE"), std::string::npos)
        << ErrorText(*host, 1);
    EXPECT_EQ(Status(*host, 1), 15);
    EXPECT_EQ(host->Record(1).data().mappedDevicePath, mappedDevice);
    EXPECT_GE(AttachedLun("snap-sdd_CLONE"), 0);
    for (size_t i : {0u, 2u}) {
        EXPECT_EQ(Status(*host, i), 14) << i;
        EXPECT_EQ(ErrorCode(*host, i), 0) << ErrorText(*host, i);
        EXPECT_EQ(host->Record(i).data().mappedDevicePath, "");
    }
    for (const char* name : {"snap-sdc_CLONE", "snap-sde_CLONE"}) {
        EXPECT_EQ(AttachedLun(name), -1) << name;
        EXPECT_FALSE(DiskExists(name)) << name;
    }
}

}  // namespace
}  // namespace drivertest
