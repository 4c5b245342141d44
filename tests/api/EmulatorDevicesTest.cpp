// Device discovery on the emulated VM's device tree: the OS and resource
// disks also sit at LUN 0 of their SCSI hosts and must never be taken for the
// data disk at LUN 0; a disk attached through the client shows up as a new
// device at its LUN.
#include <string>
#include <vector>

#include "EmulatorFixture.h"
#include "KxSnapAzureUtils.h"

namespace apitest {
namespace {

using EmulatorDevicesTest = EmulatorTest;

TEST_F(EmulatorDevicesTest, OnlyDataDisksGiveALun) {
    std::string detail;
    int dataDisks = 0;
    for (const azemu::BlockDevice& device : emu_->devices()) {
        int lun = 99;
        const bool found = GetLunidForScsiDiskName("/dev/" + device.name, lun, detail);
        if (device.lun >= 0) {
            EXPECT_TRUE(found) << device.name;
            EXPECT_EQ(lun, device.lun) << device.name;
            ++dataDisks;
        } else {
            EXPECT_FALSE(found) << device.name << " " << device.scsiAddress;
            EXPECT_EQ(lun, -1) << device.name;
        }
    }
    EXPECT_EQ(dataDisks, 3);
}

TEST_F(EmulatorDevicesTest, AttachedDiskAppearsAtItsLun) {
    InitAndClearLog();
    std::vector<std::string> before;
    ASSERT_TRUE(FetchAllDiskNamesList(before));
    AzureDiskInfo disk;
    disk.name = "spare";
    disk.id = emu_->diskId("spare");
    disk.storageAccountType = "Standard_LRS";
    int lun = -1;
    ASSERT_TRUE(api_->AttachAzureDiskToVM(disk, instance_, lun).IsSuccess());
    ASSERT_EQ(lun, 2);

    std::vector<std::string> found;
    ASSERT_TRUE(DiscoverMappedDiskNames(before, found));
    ASSERT_EQ(found.size(), 1u);
    std::string detail;
    std::string byCandidates;
    ASSERT_TRUE(GetScsiDiskNameForLunid(found, lun, byCandidates, detail));
    std::string byLink;
    ASSERT_TRUE(GetScsiDiskNameForLunid2({}, lun, byLink, detail));
    EXPECT_EQ(byCandidates, found[0]);
    EXPECT_EQ(byLink, found[0]);
}

}  // namespace
}  // namespace apitest
