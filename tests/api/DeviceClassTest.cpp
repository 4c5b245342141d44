// The device classifier on the emulated VM's device tree, in the layouts of a
// generation 1 and a generation 2 VM: only SCSI disks on a data-disk
// controller are data disks; the OS disk, the resource disk, the optical
// drive, partitions, loop, device-mapper and NVMe devices are refused with a
// reason, and a tree that does not say is refused with what is missing.
#include <filesystem>
#include <string>

#include "EmulatorFixture.h"
#include "KxSnapAzureUtils.h"
#include "KxSnapAzureUtilsDeviceClass.h"

namespace apitest {
namespace {

namespace fs = std::filesystem;

class DeviceClassTest : public EmulatorTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        azemu::Json scenario = DefaultScenario();
        scenario["vm"]["generation"] = GetParam();
        scenario["blockDevices"] = azemu::Json::array({"loop0", "dm-0"});
        StartEmulator(scenario);
    }

    AzureDeviceVerdict Classify(const std::string& device) const {
        return KxSnapAzureDeviceClassifier().Classify(device);
    }
    void RemoveUnderRoot(const std::string& relative) const {
        fs::remove_all(fs::path(emu_->root()) / relative);
    }
    void RemoveControllerIds() const {
        for (const auto& entry : fs::directory_iterator(fs::path(emu_->root()) / "sys/devices/emulated"))
            fs::remove(entry.path() / "device_id");
    }
    static bool Says(const AzureDeviceVerdict& verdict, const std::string& text) {
        return verdict.reason.find(text) != std::string::npos;
    }
};

TEST_P(DeviceClassTest, OnlyDataDisksAreDataDisks) {
    for (const azemu::BlockDevice& device : emu_->devices()) {
        const AzureDeviceVerdict verdict = Classify("/dev/" + device.name);
        EXPECT_EQ(verdict.IsDataDisk(), device.lun >= 0) << device.name << ": " << verdict.reason;
        EXPECT_EQ(verdict.lun, device.lun) << device.name;
        EXPECT_EQ(verdict.reason.empty(), device.lun >= 0) << device.name;
    }
}

TEST_P(DeviceClassTest, EachRefusalNamesItsReason) {
    const struct {
        const char* device;
        AzureDeviceClass expected;
        const char* reason;
    } cases[] = {
        {"/dev/sda", AzureDeviceClass::kOsDisk, "OS disk"},
        {"/dev/sdb", AzureDeviceClass::kResourceDisk, "resource"},
        {"/dev/sr0", AzureDeviceClass::kNotADisk, "type 5 (optical drive)"},
        {"/dev/sda1", AzureDeviceClass::kPartition, "partition of /dev/sda"},
        {"/dev/loop0", AzureDeviceClass::kLoop, "loop device"},
        {"/dev/dm-0", AzureDeviceClass::kDeviceMapper, "device-mapper"},
        {"/dev/nvme0n1", AzureDeviceClass::kNvme, "NVMe"},
        {"/dev/sdq", AzureDeviceClass::kNotFound, "no entry under /sys/block"},
    };
    for (const auto& c : cases) {
        const AzureDeviceVerdict verdict = Classify(c.device);
        EXPECT_EQ(verdict.deviceClass, c.expected) << c.device << ": " << verdict.reason;
        EXPECT_TRUE(Says(verdict, c.reason)) << c.device << ": " << verdict.reason;
        EXPECT_EQ(verdict.lun, -1) << c.device;
    }
}

TEST_P(DeviceClassTest, WithoutLinksTheControllerIdsDecide) {
    RemoveUnderRoot("dev/disk/azure");
    const AzureDeviceVerdict data = Classify("/dev/sdd");
    EXPECT_TRUE(data.IsDataDisk()) << data.reason;
    EXPECT_EQ(data.lun, 1);
    EXPECT_EQ(Classify("/dev/sda").deviceClass, AzureDeviceClass::kOsDisk);
    EXPECT_EQ(Classify("/dev/sdb").deviceClass, AzureDeviceClass::kResourceDisk);
    EXPECT_EQ(Classify("/dev/sr0").deviceClass, AzureDeviceClass::kNotADisk);
}

TEST_P(DeviceClassTest, WithoutLinksOrControllerIdsEveryDiskIsRefused) {
    RemoveUnderRoot("dev/disk/azure");
    RemoveControllerIds();
    for (const char* device : {"/dev/sdc", "/dev/sdd", "/dev/sda"}) {
        const AzureDeviceVerdict verdict = Classify(device);
        EXPECT_EQ(verdict.deviceClass, AzureDeviceClass::kUnknown) << device;
        EXPECT_TRUE(Says(verdict, "device_id cannot be read")) << verdict.reason;
        int lun = 5;
        std::string detail;
        EXPECT_FALSE(GetLunidForScsiDiskName(device, lun, detail)) << device;
        EXPECT_EQ(detail, verdict.reason);
    }
}

TEST_P(DeviceClassTest, ADeviceWithoutItsScsiTypeIsRefused) {
    fs::remove(fs::path(emu_->root()) / "sys/block/sdc/device/type");
    const AzureDeviceVerdict verdict = Classify("/dev/sdc");
    EXPECT_EQ(verdict.deviceClass, AzureDeviceClass::kUnknown);
    EXPECT_TRUE(Says(verdict, "no readable SCSI device type")) << verdict.reason;
}

// The optical drive's address ends in a number like any other; before the
// classifier its last field was taken for the LUN of a data disk.
TEST_P(DeviceClassTest, TheOpticalDriveGivesNoLun) {
    int lun = 9;
    std::string detail;
    EXPECT_FALSE(GetLunidForScsiDiskName("/dev/sr0", lun, detail));
    EXPECT_EQ(lun, -1);
    EXPECT_NE(detail.find("optical drive"), std::string::npos) << detail;
}

// The same on the way back, from a LUN to the device that appeared for it.
TEST_P(DeviceClassTest, TheOpticalDriveIsNeverTheDeviceAtALun) {
    const int opticalLun = GetParam() == 2 ? 2 : 0;
    std::string device;
    std::string detail;
    EXPECT_FALSE(GetScsiDiskNameForLunid({"/dev/sr0"}, opticalLun, device, detail));
    EXPECT_EQ(device, "");
    ASSERT_TRUE(GetScsiDiskNameForLunid({"/dev/sr0", "/dev/sde"}, 3, device, detail));
    EXPECT_EQ(device, "/dev/sde");
}

INSTANTIATE_TEST_SUITE_P(Generations, DeviceClassTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Gen" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace apitest
