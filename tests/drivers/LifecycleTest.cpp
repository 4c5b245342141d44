// A whole backup's life through the kxsnap program and the built plug-in:
// prepare, snapshot, post-snapshot, map, unmap, revert, delete on a VM with
// four data disks, in the bulk and the per-device modes.
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include "DriverFixture.h"
#include "platform/FXString.h"

namespace drivertest {
namespace {

using nlohmann::json;

class LifecycleTest : public DriverTest {
protected:
    // Runs kxsnap on the job and answers its output; `status` is its exit status.
    json Run(const json& job, int& status) {
        const std::string jobPath = dir_ / "job.json";
        kxtest::WriteFile(jobPath, job.dump(2));
        const std::string command = std::string(KXSO_BUILD_DIR) + "/kxsnap run " + jobPath +
                                    " --plugin " + KXSO_BUILD_DIR + "/libkxsosnapazure.so >" +
                                    (dir_ / "out.json") + " 2>" + (dir_ / "err") + " </dev/null";
        const int raw = std::system(command.c_str());
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const std::string out = kxtest::ReadFile(dir_ / "out.json");
        return json::parse(out.empty() ? "{}" : out);
    }
    // The previous output with new operations, run; expects result 0.
    json Next(json output, const std::string& operation) {
        output["operations"] = {operation};
        output.erase("results");
        output.erase("log");
        int status = -1;
        json next = Run(output, status);
        EXPECT_EQ(status, 0) << operation << "\n" << next.dump(2).substr(0, 6000);
        return next;
    }
    static json Record(const json& output, int index) { return output.at("records").at(index); }

    void RunLifecycle(const std::string& modeSettings) {
        UseSettings(modeSettings);
        json job = json::parse(
            kxtest::ReadFile(std::string(KXSO_DRIVER_JOBS_DIR) + "/backup-four-disks.json"));
        int status = -1;
        json backup = Run(job, status);
        ASSERT_EQ(status, 0) << backup.dump(2).substr(0, 6000);
        for (int i = 0; i < 4; ++i) {
            // Post-snapshot sets 6 up front and leaves it when it succeeds.
            EXPECT_EQ(Record(backup, i).at("statusHistory"), json({2, 1, 6, 5, 6}));
            EXPECT_TRUE(SnapshotExists("nightly-sd" + std::string(1, char('c' + i))));
            EXPECT_EQ(Record(backup, i).at("snapFlags"), "0x8000000");
        }

        json mapped = Next(backup, "kxso_mapSnaps");
        for (int i = 0; i < 4; ++i) {
            const std::string disk = "nightly-sd" + std::string(1, char('c' + i)) + "_CLONE";
            const int lun = AttachedLun(disk);
            ASSERT_GE(lun, 0) << disk;
            EXPECT_EQ(Record(mapped, i).at("status"), 12);
            EXPECT_EQ(Record(mapped, i).at("mappedDevicePath"), DeviceAtLun(lun));
        }
        EXPECT_EQ(emu_->dataDisks().size(), 8u);

        json unmapped = Next(mapped, "kxso_unmapSnaps");
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(Record(unmapped, i).at("status"), 14);
            EXPECT_EQ(Record(unmapped, i).at("mappedDevicePath"), "");
        }
        EXPECT_EQ(emu_->dataDisks().size(), 4u);
        EXPECT_FALSE(DiskExists("nightly-sdc_CLONE"));

        json reverted = Next(unmapped, "kxso_revertSnaps");
        for (int i = 0; i < 4; ++i) {
            const std::string source = "data" + std::to_string(i);
            EXPECT_EQ(AttachedLun(source), -1) << source;
            EXPECT_EQ(Record(reverted, i).at("status"), 22);
            const std::string metadata = Record(reverted, i).at("metadata").at("6");
            EXPECT_NE(FXString::FindString(metadata, "/disks/" + source + "-", true),
                      std::string::npos)
                << metadata;
            const std::string device = Record(reverted, i).at("revertedDevicePath");
            EXPECT_FALSE(device.empty());
        }
        EXPECT_EQ(emu_->dataDisks().size(), 4u);

        json deleted = Next(reverted, "kxso_deleteSnaps");
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(Record(deleted, i).at("status"), 20);
            EXPECT_FALSE(SnapshotExists("nightly-sd" + std::string(1, char('c' + i))));
        }
        json again = Next(deleted, "kxso_deleteSnaps");
        EXPECT_EQ(again.at("results").at(0).at("result"), 0);
    }
};

TEST_F(LifecycleTest, FullJobInBulkMode) {
    RunLifecycle("");
    EXPECT_TRUE(Sent("PUT", "/virtualMachines/").size() <= 4u);
}

TEST_F(LifecycleTest, FullJobPerDevice) {
    RunLifecycle(kPerDevice);
    // map 4, unmap 4, revert 4 detaches and 4 attaches: one VM update each.
    EXPECT_EQ(Sent("PUT", "/virtualMachines/").size(), 16u);
}

}  // namespace
}  // namespace drivertest
