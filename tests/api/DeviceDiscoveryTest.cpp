// Device discovery against device trees laid out under a temporary root.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KxSnapAzureUtils.h"
#include "support/TestEnv.h"

namespace {

using kxtest::MakeDirs;
using kxtest::WriteFile;

// A machine's /sys/block and /dev/disk/azure under a temporary root, with a
// stand-in udevadm first on PATH that notes its arguments.
class DeviceTreeTest : public ::testing::Test {
protected:
    DeviceTreeTest()
        : settings_("[Ferrolink]\nnAzureWaitTimeForDeviceRefresh=7\n"),
          rootEnv_("KXSO_ROOT", root_.path().c_str()),
          pathEnv_(
              "PATH",
              (bin_.path() + ":" + std::string(getenv("PATH") ? getenv("PATH") : "")).c_str()) {
        const std::string script = bin_ / "udevadm";
        WriteFile(script, "#!/bin/sh\necho \"$@\" >> '" + (bin_ / "calls") + "'\nexit 0\n");
        chmod(script.c_str(), 0755);
        MakeDirs(root_ / "sys/block");
        MakeDirs(root_ / "dev");
    }

    // A SCSI device as the kernel shows it: /sys/block/<name>/device links to
    // its address directory (with the SCSI type) under the VMBus controller,
    // whose device_id is, unless told, the one the Azure device rules give
    // host 0 (OS disk), host 1 (resource disk) or any other host (data disks).
    void AddDisk(const std::string& name, const std::string& scsiAddress,
                 const std::string& type = "0", const char* controllerId = nullptr) {
        if (scsiAddress.find(':') == std::string::npos) {
            const std::string device = root_ / ("sys/block/" + name + "/device/scsi_device");
            MakeDirs(scsiAddress.empty() ? device : device + "/" + scsiAddress);
            WriteFile(root_ / ("dev/" + name), "");
            return;
        }
        const std::string host = scsiAddress.substr(0, scsiAddress.find(':'));
        const std::string vmbus = "sys/devices/vmbus" + host;
        const std::string device = vmbus + "/host" + host + "/" + scsiAddress;
        MakeDirs(root_ / (device + "/scsi_device/" + scsiAddress));
        WriteFile(root_ / (device + "/type"), type + "\n");
        if (controllerId == nullptr) {
            controllerId = host == "0"   ? "{00000000-0000-8899-0000-000000000000}"
                           : host == "1" ? "{00000000-0001-8899-0000-000000000000}"
                                         : "{f8b3781b-1e82-4818-a1c3-63d806ec15bb}";
        }
        if (*controllerId != '\0')
            WriteFile(root_ / (vmbus + "/device_id"), std::string(controllerId) + "\n");
        MakeDirs(root_ / ("sys/block/" + name));
        const std::string link = root_ / ("sys/block/" + name + "/device");
        ASSERT_EQ(symlink(("../../../" + device).c_str(), link.c_str()), 0) << link;
        WriteFile(root_ / ("dev/" + name), "");
    }
    void AddPlainBlockDevice(const std::string& name) { MakeDirs(root_ / ("sys/block/" + name)); }
    void AddLink(const std::string& relativeLink, const std::string& target) {
        const std::string link = root_ / ("dev/disk/azure/" + relativeLink);
        MakeDirs(link.substr(0, link.rfind('/')));
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
    }
    std::string UdevadmCalls() { return kxtest::ReadFile(bin_ / "calls"); }

    kxtest::TempDir root_;
    kxtest::TempDir bin_;
    kxtest::ScopedSettings settings_;
    kxtest::ScopedEnv rootEnv_;
    kxtest::ScopedEnv pathEnv_;
    std::string detail_;
};

bool Contains(const std::vector<std::string>& list, const std::string& value) {
    for (const std::string& item : list) {
        if (item == value)
            return true;
    }
    return false;
}

TEST_F(DeviceTreeTest, ListSkipsRamLoopMapperFloppyAndHiddenEntries) {
    AddDisk("sda", "0:0:0:0");
    AddDisk("sdc", "3:0:0:1");
    for (const char* name : {"ram0", "loop1", "dm-0", "fd0", ".hidden", "sr0", "nvme0n1"})
        AddPlainBlockDevice(name);
    std::vector<std::string> names = {"stale"};
    ASSERT_TRUE(FetchAllDiskNamesList(names));
    EXPECT_EQ(names.size(), 4u);
    for (const char* wanted : {"/dev/sda", "/dev/sdc", "/dev/sr0", "/dev/nvme0n1"})
        EXPECT_TRUE(Contains(names, wanted)) << wanted;
    EXPECT_EQ(UdevadmCalls(), "settle --timeout=7\n");

    kxtest::TempDir empty;  // no sys/block
    kxtest::ScopedEnv otherRoot("KXSO_ROOT", empty.path().c_str());
    EXPECT_FALSE(FetchAllDiskNamesList(names));
}

// LUN lookups of one device tree: the last field of the SCSI address gives
// the LUN, but never for the OS or resource disk or a device beside the OS disk.
TEST_F(DeviceTreeTest, LunComesFromTheScsiAddressOfDataDisksOnly) {
    AddDisk("sda", "0:0:0:0");
    AddDisk("sdb", "1:0:1:0");
    AddDisk("sdc", "3:0:0:0");
    AddDisk("sdd", "0:0:0:2");
    AddDisk("sde", "2:0:0:10");
    AddDisk("sdf", "weird");
    AddLink("root", "../../sda");
    AddLink("resource", "../../sdb");
    AddLink("scsi1/lun0", "../../../sdc");
    const std::pair<const char*, int> cases[] = {
        {"/dev/sde", 10}, {"/dev/SDE", 10},
        {"/dev/sdc", 0},  {"/dev/sda", -1},
        {"/dev/sdb", -1}, {"/dev/sdd", -1},
        {"/dev/sdf", -1}, {"/dev/sde1", -1},
        {"", -1},         {"/dev/disk/azure/scsi1/lun0", -1},
    };
    for (const auto& [device, wanted] : cases) {
        int lun = 7;
        EXPECT_EQ(wanted >= 0, GetLunidForScsiDiskName(device, lun, detail_)) << device;
        if (*device != '\0') {  // an empty name is refused before any lookup
            EXPECT_EQ(wanted, lun) << device;
        }
    }
}

TEST_F(DeviceTreeTest, CandidateAtTheWantedLunButNeverTheOsDisk) {
    AddDisk("sda", "0:0:0:0");
    AddDisk("sdb", "3:0:0:0");
    AddDisk("sdc", "3:0:0:1");
    AddDisk("sdd", "3:0:0:2");
    AddLink("root", "../../sda");
    std::string device;
    ASSERT_TRUE(GetScsiDiskNameForLunid({"/dev/sdc", "/dev/sdd"}, 2, device, detail_));
    EXPECT_EQ(device, "/dev/sdd");
    ASSERT_TRUE(GetScsiDiskNameForLunid({"/dev/sda", "/dev/sdb"}, 0, device, detail_));
    EXPECT_EQ(device, "/dev/sdb");
    device.clear();
    EXPECT_FALSE(GetScsiDiskNameForLunid({"/dev/sdc"}, 2, device, detail_));
    EXPECT_FALSE(GetScsiDiskNameForLunid({"/dev/sdd"}, -1, device, detail_));
    EXPECT_FALSE(GetScsiDiskNameForLunid({"/dev/nothere", "/dev/sdd"}, 2, device, detail_));
    EXPECT_EQ(device, "");
}

TEST_F(DeviceTreeTest, AzureLinkGivesThePlainDevicePath) {
    AddDisk("sdc", "3:0:0:1");
    AddDisk("sde", "3:0:0:3");
    std::string missing;
    EXPECT_FALSE(GetScsiDiskNameForLunid2({}, 1, missing, detail_));  // no link directory yet
    AddLink("by-other/lun3", "../../../sdc");
    AddLink("scsi1/lun1", "../../../sdc");
    AddLink("scsi1/LUN3", "../../../sde");
    std::string device;
    ASSERT_TRUE(GetScsiDiskNameForLunid2({}, 3, device, detail_));
    EXPECT_EQ(device, "/dev/sde");
    EXPECT_FALSE(GetScsiDiskNameForLunid2({}, 4, missing, detail_));
    EXPECT_FALSE(GetScsiDiskNameForLunid2({}, -1, missing, detail_));
    AddLink("scsi1/lun2", "../../../../../../../../../../etc");  // leaves the root
    EXPECT_FALSE(GetScsiDiskNameForLunid2({}, 2, missing, detail_));
}

TEST_F(DeviceTreeTest, DiscoverReportsOnlyNewDevicesUnlessPrimed) {
    AddDisk("sda", "0:0:0:0");
    std::vector<std::string> before;
    ASSERT_TRUE(FetchAllDiskNamesList(before));
    std::vector<std::string> found;
    EXPECT_FALSE(DiscoverMappedDiskNames(before, found));
    EXPECT_TRUE(found.empty());
    std::vector<std::string> primed = {"/dev/sdq"};
    EXPECT_TRUE(DiscoverMappedDiskNames(before, primed));
    EXPECT_EQ(primed.size(), 1u);

    AddDisk("sdf", "3:0:0:4");
    ASSERT_TRUE(DiscoverMappedDiskNames(before, found));
    EXPECT_EQ(found, std::vector<std::string>{"/dev/sdf"});
}

}  // namespace
