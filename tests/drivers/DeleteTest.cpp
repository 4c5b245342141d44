// Delete and reconcile through the real exports.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

class DeleteTest : public DriverTest {};

TEST_F(DeleteTest, DeletesTheSnapshotsAndCanBeRepeated) {
    auto backup = Backup({"/dev/sdc", "/dev/sdd"});
    auto host = SnapshotHost(*backup);
    host->Record(0).data().mappedDevicePath = "/dev/sdx";
    ASSERT_EQ(kxso_deleteSnaps(host->devices(), host->count(), host->util()), 0);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(Status(*host, i), 20);
        EXPECT_EQ(host->Record(i).data().mappedDevicePath, "");
    }
    EXPECT_FALSE(SnapshotExists("snap-sdc"));
    EXPECT_FALSE(SnapshotExists("snap-sdd"));
    EXPECT_TRUE(host->Logged("Deleted snapshot [snap-sdd]"));

    auto again = SnapshotHost(*backup);
    EXPECT_EQ(kxso_deleteSnaps(again->devices(), again->count(), again->util()), 0);
    EXPECT_EQ(Status(*again, 1), 20);
}

TEST_F(DeleteTest, OneUnparsableRecordOfThreeIsAPartialFailure) {
    auto backup = Backup({"/dev/sdc", "/dev/sdd", "/dev/sde"});
    auto host = SnapshotHost(*backup);
    host->Record(1).data().metadata[6] = "snapURL;";
    emu_->clearRequestLog();
    EXPECT_EQ(kxso_deleteSnaps(host->devices(), host->count(), host->util()), 2);
    EXPECT_EQ(Status(*host, 0), 20);
    EXPECT_EQ(Status(*host, 2), 20);
    EXPECT_EQ(Status(*host, 1), 21);
    EXPECT_EQ(ErrorCode(*host, 1), 60004);
    EXPECT_EQ(ErrorText(*host, 1), "Failed to parse metadata for Azure snapshot snap-sdd");
    EXPECT_TRUE(SnapshotExists("snap-sdd"));
    EXPECT_EQ(Sent("DELETE").size(), 2u);
}

TEST_F(DeleteTest, WithoutMetadataTheSnapshotIsDeletedByNameInTheVmGroup) {
    auto backup = Backup({"/dev/sdc"});
    auto host = std::make_unique<kxtest::TestHost>(4);
    kxsnap::RecordData byName;
    byName.snapName = "snap-sdc";
    host->Add(byName);
    kxsnap::RecordData badName;
    badName.snapName = "../disks/data0";
    host->Add(badName);
    EXPECT_EQ(kxso_deleteSnaps(host->devices(), host->count(), host->util()), 2);
    EXPECT_EQ(Status(*host, 0), 20);
    EXPECT_FALSE(SnapshotExists("snap-sdc"));
    EXPECT_TRUE(
        host->Logged("Failed to retrieve Azure snapshot URL for [snap-sdc]. Look for "
                     "snapshot in vm resource group [KX-RG]"));
    // A name that cannot be deleted leaves no error, only the up-front status.
    EXPECT_EQ(Status(*host, 1), 21);
    EXPECT_EQ(ErrorCode(*host, 1), 0);
    EXPECT_TRUE(host->Logged("Failed to delete Azure snapshot [../disks/data0]"));
    EXPECT_TRUE(DiskExists("data0"));
}

TEST_F(DeleteTest, MetadataNamingAnythingButASnapshotDeletesNothing) {
    auto host = std::make_unique<kxtest::TestHost>(4);
    // A disk of this VM in the snapshot's place, and a snapshot whose source is no disk.
    host->Add(SnapshotRecord("a", "snapURL:" + emu_->diskId("data0") + ";"));
    host->Add(SnapshotRecord("b",
                             "snapURL:/subscriptions/other/resourceGroups/g/providers/"
                             "Microsoft.Compute/snapshots/s;sourceDiskURL:/subscriptions/other/"
                             "resourceGroups/g/providers/Microsoft.Compute/snapshots/t;"));
    emu_->clearRequestLog();
    EXPECT_EQ(kxso_deleteSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_TRUE(Sent("DELETE").empty());
    EXPECT_TRUE(DiskExists("data0"));
    EXPECT_EQ(ErrorText(*host, 0), "Failed to parse metadata for Azure snapshot a");
    EXPECT_EQ(ErrorText(*host, 1), "Failed to parse metadata for Azure snapshot b");
}

TEST_F(DeleteTest, DeleteErrorIsRecordedAndReconcileDoesNothing) {
    auto backup = Backup({"/dev/sdc"});
    auto host = SnapshotHost(*backup);
    // Every retry of the request meets the failure too.
    InjectFault("DELETE", "snapshots/", azemu::FaultAction::Error, -1);
    EXPECT_EQ(kxso_deleteSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(ErrorCode(*host, 0), 60004);
    EXPECT_EQ(ErrorText(*host, 0).rfind("Failed to delete Azure snapshot subscriptions/", 0), 0u);

    emu_->clearRequestLog();
    auto other = SnapshotHost(*backup);
    EXPECT_EQ(kxso_reconcileSnaps(other->devices(), other->count(), other->util()), 1);
    EXPECT_TRUE(emu_->requestLog().empty());
    EXPECT_EQ(Status(*other, 0), 0);
}

}  // namespace
}  // namespace drivertest
