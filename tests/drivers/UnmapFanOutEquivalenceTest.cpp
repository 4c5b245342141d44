// A bulk unmap whose ownership reads go side by side leaves what it leaves
// with one request at a time: the same fault, pinned to one clone disk, is
// run at both widths, and the records and the emulator's final state must
// agree.
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

constexpr int kClones = 4;
constexpr int kFirstCloneLun = 10;

std::string CloneName(int i) {
    return "s" + std::to_string(i) + "_CLONE";
}

// The four data disks plus four clone disks of ours, attached as map leaves them.
azemu::Json CloneScenario() {
    azemu::Json scenario = FourDiskScenario();
    for (int i = 0; i < kClones; ++i) {
        scenario["vm"]["dataDisks"].push_back(
            {{"lun", kFirstCloneLun + i},
             {"name", CloneName(i)},
             {"tags", {{"DiskCreatedByHarrowind", "made from snapshot"}}}});
    }
    return scenario;
}

struct FaultCase {
    const char* name;
    const char* method;  // "" for no fault
    const char* path;
    azemu::FaultAction action;
    int times;
    int skip;
    int status;
    bool afterProcessing;
    int expectedResult;
    int expectedDeleteFailures;
};

struct Outcome {
    int result = -1;
    std::vector<std::string> records;
    // Per clone disk: whether it exists and the LUN it is attached at (-1 none).
    std::map<std::string, std::pair<bool, int>> clones;
    // The log's lines for clone disks that could not be deleted, in order.
    std::vector<std::string> deleteFailures;
};

std::string Describe(const kxsnap::RecordData& data) {
    return "status " + std::to_string(data.status) + " error " + std::to_string(data.errorCode) +
           " [" + data.errorText + "] device [" + data.mappedDevicePath + "]";
}

class UnmapFanOutEquivalenceTest : public DriverTest,
                                   public ::testing::WithParamInterface<FaultCase> {
protected:
    void SetUp() override { StartEmulator(CloneScenario()); }

    Outcome RunAtWidth(const char* width) {
        emu_->reset();
        UseSettings(std::string("nAzureRESTAPIMaxParallelRequests=") + width + "\n");
        const FaultCase& c = GetParam();
        kxtest::TestHost host(5);
        for (int i = 0; i < kClones; ++i) {
            host.Add(SnapshotRecord("s" + std::to_string(i), Metadata("spareSnap", "spare")));
        }
        if (*c.method != '\0') {
            InjectFault(c.method, c.path, c.action, c.times, c.status, "Conflict",
                        c.afterProcessing, c.skip);
        }
        Outcome outcome;
        outcome.result = kxso_unmapSnaps(host.devices(), host.count(), host.util());
        emu_->clearFaults();
        for (int16_t i = 0; i < host.count(); ++i) {
            outcome.records.push_back(Describe(host.Record(i).data()));
        }
        for (const kxsnap::LogEntry& line : host.Log()) {
            if (line.text.find("Failed to delete disk  [") != std::string::npos) {
                outcome.deleteFailures.push_back(line.text);
            }
        }
        for (int i = 0; i < kClones; ++i) {
            outcome.clones[CloneName(i)] = {DiskExists(CloneName(i)), AttachedLun(CloneName(i))};
        }
        return outcome;
    }
};

TEST_P(UnmapFanOutEquivalenceTest, OneAtATimeAndSideBySideLeaveTheSame) {
    const Outcome sequential = RunAtWidth("1");
    const Outcome sideBySide = RunAtWidth("32");
    EXPECT_EQ(sequential.result, GetParam().expectedResult);
    EXPECT_EQ(sequential.deleteFailures.size(),
              static_cast<size_t>(GetParam().expectedDeleteFailures));
    EXPECT_EQ(sideBySide.result, sequential.result);
    EXPECT_EQ(sideBySide.deleteFailures, sequential.deleteFailures);
    EXPECT_EQ(sideBySide.records, sequential.records);
    EXPECT_EQ(sideBySide.clones, sequential.clones);
}

// Both rounds of ownership reads (before the records are judged, and the
// detach's own check) reach Azure at once, not one request time apart.
TEST_F(UnmapFanOutEquivalenceTest, OwnershipReadsOfOneRoundArriveTogether) {
    constexpr int kLatencyMs = 150;
    UseSettings("nAzureRESTAPIMaxParallelRequests=32\n");
    Tune(&azemu::Settings::requestLatencyMs, kLatencyMs);
    kxtest::TestHost host(5);
    for (int i = 0; i < kClones; ++i) {
        host.Add(SnapshotRecord("s" + std::to_string(i), Metadata("spareSnap", "spare")));
    }
    emu_->clearRequestLog();
    ASSERT_EQ(kxso_unmapSnaps(host.devices(), host.count(), host.util()), 0);
    std::vector<int64_t> arrivals;
    for (const azemu::RequestRecord& read : Sent("GET", "_CLONE?")) {
        arrivals.push_back(read.timeMs);
    }
    ASSERT_EQ(arrivals.size(), 2u * kClones);
    for (size_t round = 0; round < 2; ++round) {
        const auto first = arrivals.begin() + static_cast<long>(round * kClones);
        const auto [earliest, latest] = std::minmax_element(first, first + kClones);
        EXPECT_LT(*latest - *earliest, kLatencyMs) << "round " << round;
    }
}

// The clone disks' DELETEs of one unmap reach Azure at once.
TEST_F(UnmapFanOutEquivalenceTest, DeletesOfOneUnmapArriveTogether) {
    constexpr int kLatencyMs = 150;
    UseSettings("nAzureRESTAPIMaxParallelRequests=32\n");
    Tune(&azemu::Settings::requestLatencyMs, kLatencyMs);
    kxtest::TestHost host(5);
    for (int i = 0; i < kClones; ++i) {
        host.Add(SnapshotRecord("s" + std::to_string(i), Metadata("spareSnap", "spare")));
    }
    emu_->clearRequestLog();
    ASSERT_EQ(kxso_unmapSnaps(host.devices(), host.count(), host.util()), 0);
    std::vector<int64_t> arrivals;
    for (const azemu::RequestRecord& del : Sent("DELETE", "_CLONE?")) {
        arrivals.push_back(del.timeMs);
    }
    ASSERT_EQ(arrivals.size(), static_cast<size_t>(kClones));
    const auto [earliest, latest] = std::minmax_element(arrivals.begin(), arrivals.end());
    EXPECT_LT(*latest - *earliest, kLatencyMs);
}

using azemu::FaultAction;

// The second clone's disk: its ownership reads and its delete.
constexpr const char* kSecond = "disks/s1_CLONE$";
// The second and the fourth clone's disks.
constexpr const char* kSecondAndFourth = "disks/s[13]_CLONE$";

INSTANTIATE_TEST_SUITE_P(
    Faults, UnmapFanOutEquivalenceTest,
    ::testing::Values(
        FaultCase{"NoFault", "", "", FaultAction::Error, 0, 0, 0, false, 0, 0},
        // The first read fails: only that record is not unmapped.
        FaultCase{"OwnerUnreadable", "GET", kSecond, FaultAction::Error, -1, 0, 500, false, 2, 0},
        // The detach's own read fails: nothing is detached.
        FaultCase{"OwnerUnreadableAtDetach", "GET", kSecond, FaultAction::Error, -1, 1, 500, false,
                  1, 0},
        FaultCase{"OwnerAnswerLostTwice", "GET", kSecond, FaultAction::Drop, 2, 0, 0, true, 0, 0},
        // A delete that fails is only logged; the disk is detached all the same.
        FaultCase{"DeleteRefused", "DELETE", kSecond, FaultAction::Error, -1, 0, 409, false, 0, 1},
        FaultCase{"DeleteRefusedTwice", "DELETE", kSecond, FaultAction::Error, 2, 0, 409, false, 0,
                  1},
        // Failures are logged in the order of the disks, whichever answer comes first.
        FaultCase{"TwoDeletesRefused", "DELETE", kSecondAndFourth, FaultAction::Error, -1, 0, 409,
                  false, 0, 2},
        FaultCase{"DeleteAnswerLostTwice", "DELETE", kSecond, FaultAction::Drop, 2, 0, 0, true, 0,
                  0}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace drivertest
