// LUN allocation over a VM's disk list; no request is involved.
#include <vector>

#include <gtest/gtest.h>

#include "KxSnapAzureAPI.h"

namespace {

std::vector<AzureDiskInfo> DisksAt(const std::vector<int>& luns) {
    std::vector<AzureDiskInfo> disks;
    for (int lun : luns) {
        AzureDiskInfo disk;
        disk.lun = lun;
        disks.push_back(disk);
    }
    return disks;
}

TEST(LunAllocation, FirstGapIsTaken) {
    KxSnapAzureAPI api;
    int lun = -5;
    ASSERT_TRUE(api.FindFirstFreeLUNIdForVM(DisksAt({0, 1, 3, -1}), lun, 0));
    EXPECT_EQ(lun, 2);
    ASSERT_TRUE(api.FindFirstFreeLUNIdForVM(DisksAt({0, 1, 3, -1}), lun, 3));
    EXPECT_EQ(lun, 4);
}

TEST(LunAllocation, OsDiskEntryNeverBlocksALun) {
    KxSnapAzureAPI api;
    int lun = -5;
    ASSERT_TRUE(api.FindFirstFreeLUNIdForVM(DisksAt({-1}), lun, 0));
    EXPECT_EQ(lun, 0);
}

TEST(LunAllocation, AllSixtyFourTakenLeavesOutputUntouched) {
    std::vector<int> all;
    for (int lun = 0; lun <= 63; ++lun) {
        all.push_back(lun);
    }
    KxSnapAzureAPI api;
    int lun = 99;
    EXPECT_FALSE(api.FindFirstFreeLUNIdForVM(DisksAt(all), lun, 0));
    EXPECT_EQ(lun, 99);
    all.pop_back();
    ASSERT_TRUE(api.FindFirstFreeLUNIdForVM(DisksAt(all), lun, 0));
    EXPECT_EQ(lun, 63);
    EXPECT_FALSE(api.FindFirstFreeLUNIdForVM(DisksAt({}), lun, 64));
}

}  // namespace
