// Faults Resource Manager produces every day, met while Azure is still
// working (operation delays): a failed status poll, an answer lost after the
// work was done (fired twice: libcurl re-sends once on its own), an update
// preempted by a later one, and an attach that fails outright in the middle
// of a revert. Judged by the emulator's final state as well as the records.
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

constexpr int kOperationDelayMs = 300;

struct Fault {
    const char* name;
    const char* method;
    const char* path;
    azemu::FaultAction action;
    int status;
    bool afterProcessing;
};

const Fault kFaults[] = {
    {"StatusPoll503", "GET", "/operations/", azemu::FaultAction::Error, 503, false},
    {"StatusPoll429", "GET", "/operations/", azemu::FaultAction::Error, 429, false},
    {"StatusPollDropped", "GET", "/operations/", azemu::FaultAction::Drop, 0, false},
    {"VmUpdateAnswerLost", "PUT", "/virtualMachines/", azemu::FaultAction::Drop, 0, true},
    {"VmUpdate503AfterTheWork", "PUT", "/virtualMachines/", azemu::FaultAction::Error, 503, true},
};

class TransientFaultsTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        backup_ = Backup({"/dev/sdc", "/dev/sdd"});
        Tune(&azemu::Settings::asyncOperationDelayMs, kOperationDelayMs);
        emu_->clearRequestLog();
    }
    // Fires `fault` twice, after letting `skip` matching requests through.
    void Inject(const Fault& fault, int skip = 0) {
        InjectFault(fault.method, fault.path, fault.action, 2, fault.status, "InternalServerError",
                    fault.afterProcessing, skip);
    }
    void InjectAsync(azemu::FaultAction action, const std::string& code, int skip) {
        InjectFault("PUT", "/virtualMachines/", action, 1, 500, code, false, skip);
    }
    static std::string CloneOf(kxtest::TestHost& host, int16_t index) {
        return host.Record(index).data().snapName.value() + "_CLONE";
    }
    // Both records mapped to their clones' devices, both clones attached.
    void ExpectMapped(kxtest::TestHost& host) {
        for (int16_t i = 0; i < host.count(); ++i) {
            const int lun = AttachedLun(CloneOf(host, i));
            ASSERT_GE(lun, 0) << CloneOf(host, i);
            EXPECT_EQ(Status(host, i), 12) << i << " " << ErrorText(host, i);
            EXPECT_EQ(host.Record(i).data().mappedDevicePath, DeviceAtLun(lun));
        }
    }
    void ExpectUnmapped(kxtest::TestHost& host) {
        for (int16_t i = 0; i < host.count(); ++i) {
            EXPECT_EQ(Status(host, i), 14) << i << " " << ErrorText(host, i);
            EXPECT_EQ(host.Record(i).data().mappedDevicePath, "");
            EXPECT_FALSE(DiskExists(CloneOf(host, i))) << CloneOf(host, i);
        }
        EXPECT_EQ(emu_->dataDisks().size(), 4u);
    }
    std::unique_ptr<kxtest::TestHost> backup_;
};

// --- map and unmap, bulk and per device, under each fault -------------------

class MapUnmapUnderFault : public TransientFaultsTest,
                           public ::testing::WithParamInterface<std::tuple<Fault, bool>> {};

TEST_P(MapUnmapUnderFault, RecordsAgreeWithTheVm) {
    const Fault& fault = std::get<0>(GetParam());
    if (std::get<1>(GetParam()))
        UseSettings(kPerDevice);
    auto host = SnapshotHost(*backup_);
    Inject(fault);
    EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 0);
    ExpectMapped(*host);
    EXPECT_TRUE(Sent("DELETE").empty());

    emu_->clearFaults();
    Inject(fault);
    EXPECT_EQ(kxso_unmapSnaps(host->devices(), host->count(), host->util()), 0);
    ExpectUnmapped(*host);
}

INSTANTIATE_TEST_SUITE_P(Faults, MapUnmapUnderFault,
                         ::testing::Combine(::testing::ValuesIn(kFaults), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<Fault, bool>>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "PerDevice" : "Bulk");
                         });

TEST_F(TransientFaultsTest, AnUpdatePreemptedByAnotherIsAppliedOnceMore) {
    auto host = SnapshotHost(*backup_);
    InjectAsync(azemu::FaultAction::AsyncCancel, "OperationPreempted", 0);
    EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 0);
    ExpectMapped(*host);
    EXPECT_EQ(Sent("PUT", "/virtualMachines/").size(), 2u);
}

TEST_F(TransientFaultsTest, ACancelledAttachFailsAtOnceAndLeavesNoDisk) {
    auto host = SnapshotHost(*backup_);
    InjectAsync(azemu::FaultAction::AsyncCancel, "OperationCanceled", 0);
    EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_NE(ErrorText(*host, 1).find("Operation failed for the resource [OperationCanceled] ["),
              std::string::npos)
        << ErrorText(*host, 1);
    for (int16_t i = 0; i < host->count(); ++i)
        EXPECT_FALSE(DiskExists(CloneOf(*host, i)));
}

// --- revert: a lost answer to either update completes the revert ------------

class RevertUnderLostAnswer : public TransientFaultsTest,
                              public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(RevertUnderLostAnswer, TheRevertCompletes) {
    if (std::get<1>(GetParam()))
        UseSettings(kPerDevice);
    const bool perDevice = std::get<1>(GetParam());
    auto host = SnapshotHost(*backup_, 21);
    // The (first) detach's answer is lost, or the (first) attach's: bulk
    // sends one detach, per device one per record.
    const bool attach = std::get<0>(GetParam()) == 1;
    Inject(kFaults[3], attach ? (perDevice ? 2 : 1) : 0);
    EXPECT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 0);
    for (int16_t i = 0; i < host->count(); ++i)
        EXPECT_EQ(Status(*host, i), 22) << i << " " << ErrorText(*host, i);
    EXPECT_EQ(AttachedLun("data0"), -1);
    EXPECT_EQ(AttachedLun("data1"), -1);
    EXPECT_EQ(emu_->dataDisks().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Updates, RevertUnderLostAnswer,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Bool()));

// --- revert: the replacements cannot be attached ----------------------------

class RevertWhoseAttachFails : public TransientFaultsTest,
                               public ::testing::WithParamInterface<bool> {};

TEST_P(RevertWhoseAttachFails, TheSourcesComeBackAtTheirLuns) {
    if (GetParam())
        UseSettings(kPerDevice);
    auto host = SnapshotHost(*backup_, 21);
    // Bulk: one detach, then the attach; per device: two detaches, then the
    // first attach.
    InjectAsync(azemu::FaultAction::AsyncFail, "InternalServerError", GetParam() ? 2 : 1);
    EXPECT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 1);
    if (!GetParam()) {
        EXPECT_EQ(ErrorText(*host, 1).rfind(
                      "Failed to attach Azure disks created from snapshots. error: ", 0),
                  0u);
    }
    // The new disks are gone, the sources back at their LUNs: the VM is not
    // left without either.
    EXPECT_EQ(AttachedLun("data0"), 0);
    EXPECT_EQ(AttachedLun("data1"), 1);
    EXPECT_EQ(emu_->dataDisks().size(), 4u);
    EXPECT_TRUE(DiskExists("data0"));
    for (int16_t i = 0; i < host->count(); ++i) {
        EXPECT_EQ(Status(*host, i), 23);
        const std::string name = "[data" + std::to_string(i) + "]";
        const std::string text = ErrorText(*host, i);
        EXPECT_EQ(text.substr(text.size() - name.size()), name) << text;
    }
}

TEST_P(RevertWhoseAttachFails, WithTheSourcesDeletedTheReplacementsAreKept) {
    UseSettings(std::string(kDeleteSource) + (GetParam() ? kPerDevice : ""));
    auto host = SnapshotHost(*backup_, 21);
    InjectAsync(azemu::FaultAction::AsyncFail, "InternalServerError", GetParam() ? 2 : 1);
    EXPECT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(emu_->dataDisks().size(), 2u);
    // With the setting the replacement takes the source disk's name.
    for (int16_t i = 0; i < host->count(); ++i) {
        const std::string disk = "data" + std::to_string(i);
        EXPECT_EQ(AttachedLun(disk), -1);
        EXPECT_EQ(Status(*host, i), 23);
        const std::string text = ErrorText(*host, i);
        EXPECT_EQ(text.substr(text.size() - disk.size() - 2), "[" + disk + "]") << text;
    }
    EXPECT_TRUE(DiskExists("data0"));
}

INSTANTIATE_TEST_SUITE_P(Forms, RevertWhoseAttachFails, ::testing::Bool());

}  // namespace
}  // namespace drivertest
