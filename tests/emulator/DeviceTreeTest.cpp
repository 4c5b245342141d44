// The VM's device tree: initial layout, kernel-style naming, devices following attach and
// detach, delayed device events with the udevadm stand-in, and readers racing the changes.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "DeviceTree.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace azemu::test {
namespace {

std::string FirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

class DeviceTreeTest : public EmulatorTest {
protected:
    std::string root() const { return emu_->root(); }

    // Runs the udevadm stand-in as the plug-in would; returns its exit status.
    int runUdevadm(const std::vector<std::string>& args, const std::string& adminUrl) {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("KXSO_EMULATOR_ADMIN", adminUrl.c_str(), 1);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(AZEMU_UDEVADM));
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(AZEMU_UDEVADM, argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST(DeviceNamesTest, NamesFollowTheKernelsScheme) {
    const std::pair<int, const char*> names[] = {{0, "sda"},   {25, "sdz"},   {26, "sdaa"},
                                                 {27, "sdab"}, {701, "sdzz"}, {702, "sdaaa"}};
    for (const auto& [index, name] : names)
        EXPECT_EQ(scsiDiskName(index), name);
}

TEST_F(DeviceTreeTest, InitialLayoutLooksLikeAnAzureVm) {
    std::string r = root();
    EXPECT_TRUE(exists(r + "/sys/block/sda/device/scsi_device/0:0:0:0"));
    EXPECT_TRUE(exists(r + "/sys/block/sdb/device/scsi_device/1:0:1:0"));
    EXPECT_TRUE(exists(r + "/sys/block/sdc/device/scsi_device/3:0:0:0"));
    EXPECT_TRUE(exists(r + "/sys/block/sdd/device/scsi_device/3:0:0:1"));
    EXPECT_EQ(readLink(r + "/dev/disk/azure/root"), "../../sda");
    EXPECT_EQ(readLink(r + "/dev/disk/azure/resource"), "../../sdb");
    EXPECT_EQ(readLink(r + "/dev/disk/azure/scsi1/lun0"), "../../../sdc");
    EXPECT_EQ(readLink(r + "/dev/disk/azure/scsi1/lun1"), "../../../sdd");
    EXPECT_EQ(fs::canonical(r + "/dev/disk/azure/scsi1/lun1"), fs::path(r + "/dev/sdd"));
    EXPECT_TRUE(fs::is_regular_file(r + "/dev/sdd"));
    // As in sysfs, the entries of sys/block are symbolic links.
    EXPECT_TRUE(fs::is_symlink(r + "/sys/block/sdc"));
    // Devices the plug-in must skip: present, without a SCSI address.
    EXPECT_TRUE(exists(r + "/sys/block/loop0"));
    EXPECT_TRUE(exists(r + "/sys/block/dm-0"));
    EXPECT_FALSE(exists(r + "/sys/block/loop0/device"));
    // The optical drive beside the resource disk, as on a generation 1 VM: a CD-ROM.
    EXPECT_EQ(FirstLine(r + "/sys/block/sr0/device/type"), "5");
    EXPECT_TRUE(exists(r + "/sys/block/sr0/device/scsi_device/1:0:0:0"));
    EXPECT_EQ(FirstLine(r + "/sys/block/sdc/device/type"), "0");
    EXPECT_EQ(FirstLine(r + "/sys/devices/emulated/vmbus3/device_id"),
              "{f8b3781b-1e82-4818-a1c3-63d806ec15bb}");
    EXPECT_EQ(emu_->devices().size(), 7u);
}

TEST_F(DeviceTreeTest, NewDevicesTakeTheFirstFreeName) {
    ASSERT_EQ(detachLun(0).status, 200);  // sdc goes
    EXPECT_FALSE(exists(root() + "/sys/block/sdc"));
    ASSERT_EQ(attach(7, "spare").status, 200);
    EXPECT_EQ(readLink(root() + "/dev/disk/azure/scsi1/lun7"), "../../../sdc");
    EXPECT_TRUE(exists(root() + "/sys/block/sdc/device/scsi_device/3:0:0:7"));
}

TEST_F(DeviceTreeTest, DevicesCanTrailTheOperation) {
    tune(&Settings::deviceDelayMs, 300);
    Reply r = attachRaw(attachEntry(2, "spare"));
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(waitForOperation(r.header("Azure-AsyncOperation"))["status"], "Succeeded");
    EXPECT_FALSE(exists(root() + "/dev/disk/azure/scsi1/lun2"));  // the kernel is not that fast

    EXPECT_FALSE(emu_->settleDevices(std::chrono::milliseconds(10)));
    EXPECT_TRUE(emu_->settleDevices(std::chrono::milliseconds(3000)));
    EXPECT_EQ(readLink(root() + "/dev/disk/azure/scsi1/lun2"), "../../../sde");
}

TEST_F(DeviceTreeTest, UdevadmStandInWaitsForPendingDevices) {
    tune(&Settings::deviceDelayMs, 300);
    ASSERT_EQ(detachLun(1).status, 200);
    EXPECT_TRUE(exists(root() + "/dev/disk/azure/scsi1/lun1"));
    EXPECT_EQ(runUdevadm({"settle", "--timeout=0"}, emu_->adminUrl()), 1);
    EXPECT_EQ(runUdevadm({"settle", "--timeout=5"}, emu_->adminUrl()), 0);
    EXPECT_FALSE(exists(root() + "/dev/disk/azure/scsi1/lun1"));
    EXPECT_EQ(runUdevadm({"settle", "-t", "5"}, emu_->adminUrl()), 0);
    EXPECT_EQ(runUdevadm({"trigger"}, emu_->adminUrl()), 0);
}

TEST_F(DeviceTreeTest, ConcurrentReadersNeverSeeAHalfMadeDevice) {
    std::atomic<bool> stop{false};
    std::atomic<int> addressless{0};  // listed in sys/block, opened, but no SCSI address
    std::atomic<int> dangling{0};     // a LUN link whose device file is missing
    std::atomic<int> sightings{0};
    std::string r = root();
    std::thread reader([&] {
        while (!stop) {
            std::error_code ec;
            for (fs::directory_iterator it(r + "/sys/block", ec), end; !ec && it != end;
                 it.increment(ec)) {
                std::string name = it->path().filename().string();
                if (name[0] == '.' || name.rfind("sd", 0) != 0)
                    continue;
                std::error_code inner;
                int entries = 0;
                for (fs::directory_iterator s(it->path() / "device/scsi_device", inner), e;
                     !inner && s != e; s.increment(inner)) {
                    ++entries;
                }
                // Gone between listing and opening is what a real kernel does too.
                if (inner)
                    continue;
                ++sightings;
                if (entries != 1)
                    ++addressless;
            }
            for (fs::directory_iterator it(r + "/dev/disk/azure/scsi1", ec), end; !ec && it != end;
                 it.increment(ec)) {
                std::string link = it->path().string();
                if (it->path().filename().string()[0] == '.')
                    continue;
                std::string target = readLink(link);
                if (target.empty())
                    continue;  // removed under us
                std::string dev = r + "/dev/disk/azure/scsi1/" + target;
                // Checked twice: a detach and a new attach may reuse the name in between.
                if (!exists(dev) && readLink(link) == target && !exists(dev))
                    ++dangling;
            }
        }
    });
    for (int i = 0; i < 15; ++i) {
        ASSERT_EQ(attach(2, "spare").status, 200);
        ASSERT_EQ(detachLun(2).status, 200);
    }
    stop = true;
    reader.join();
    EXPECT_EQ(addressless, 0);
    EXPECT_EQ(dangling, 0);
    EXPECT_GT(sightings, 0);
}

TEST_F(DeviceTreeTest, ARootWithSomeoneElsesTreeIsRefused) {
    TempDir foreign;
    fs::create_directories(foreign / "sys/block");
    Emulator other(baseScenario(), foreign.path());
    EXPECT_THROW(other.start(), std::runtime_error);
    EXPECT_TRUE(exists(foreign / "sys/block"));
}

}  // namespace
}  // namespace azemu::test
