// A per-device revert whose later record cannot attach its new disk gives
// that record's source disk back at its own LUN, also when the records come
// in another order than their LUNs: each new disk takes the LUN of the disk
// it replaces, never another record's.
#include <gtest/gtest.h>

#include "drivers/DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace {

using RevertSourceLunTest = drivertest::DriverTest;

TEST_F(RevertSourceLunTest, PerDeviceRevertGivesAFailedRecordsSourceDiskBackAtItsOwnLun) {
    UseSettings(drivertest::kPerDevice);
    // Record 0 is the disk at LUN 1, record 1 the disk at LUN 0.
    auto backup = Backup({"/dev/sdd", "/dev/sdc"});
    auto host = SnapshotHost(*backup, 21);
    ASSERT_EQ(AttachedLun("data0"), 0);
    ASSERT_EQ(AttachedLun("data1"), 1);
    // The VM updates: two detaches, record 0's attach, then record 1's
    // attach, which Azure refuses.
    azemu::FaultSpec refused;
    refused.method = "PUT";
    refused.path = "/virtualMachines/[^/]+$";
    refused.skip = 3;
    refused.times = 1;
    refused.status = 400;
    refused.code = "InvalidParameter";
    emu_->injectFault(refused);

    EXPECT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 1);
    ASSERT_EQ(emu_->faults().front().fired, 1);
    EXPECT_EQ(drivertest::Status(*host, 0), 22);
    EXPECT_EQ(AttachedLun("data1"), -1);
    EXPECT_EQ(drivertest::Status(*host, 1), 23);
    EXPECT_NE(drivertest::ErrorText(*host, 1).find("[data0]"), std::string::npos)
        << drivertest::ErrorText(*host, 1);
    EXPECT_EQ(AttachedLun("data0"), 0);
}

}  // namespace
