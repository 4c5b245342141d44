// A bulk unmap whose ownership reads go side by side leaves what it leaves
// with one request at a time: the same fault, pinned to one clone disk, is
// run at both widths, and the records and the emulator's final state must
// agree.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "WidthEquivalence.h"
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
    int expectedResult;
    int expectedDeleteFailures;
    PinnedFault fault;
};

class UnmapFanOutEquivalenceTest : public WidthEquivalenceTest,
                                   public ::testing::WithParamInterface<FaultCase> {
protected:
    void SetUp() override { StartEmulator(CloneScenario()); }

    std::unique_ptr<kxtest::TestHost> CloneHost() const {
        auto host = std::make_unique<kxtest::TestHost>(5);
        for (int i = 0; i < kClones; ++i) {
            host->Add(SnapshotRecord("s" + std::to_string(i), Metadata("spareSnap", "spare")));
        }
        return host;
    }
};

TEST_P(UnmapFanOutEquivalenceTest, OneAtATimeAndSideBySideLeaveTheSame) {
    const Outcome sequential = ExpectSameAtBothWidths(
        GetParam().fault, [this] { return CloneHost(); }, kxso_unmapSnaps,
        GetParam().expectedResult, "Failed to delete disk  [");
    EXPECT_EQ(sequential.logLines.size(), static_cast<size_t>(GetParam().expectedDeleteFailures));
}

// Each round of requests of one unmap reaches Azure at once, not one request
// time apart: both rounds of ownership reads (before the records are judged,
// and the detach's own check) and the clone disks' DELETEs.
TEST_F(UnmapFanOutEquivalenceTest, RequestsOfOneRoundArriveTogether) {
    constexpr int kLatencyMs = 150;
    UseSettings("nAzureRESTAPIMaxParallelRequests=32\n");
    Tune(&azemu::Settings::requestLatencyMs, kLatencyMs);
    auto host = CloneHost();
    emu_->clearRequestLog();
    ASSERT_EQ(kxso_unmapSnaps(host->devices(), host->count(), host->util()), 0);
    const auto expectRounds = [&](const char* method, size_t rounds) {
        std::vector<int64_t> arrivals;
        for (const azemu::RequestRecord& request : Sent(method, "_CLONE?")) {
            arrivals.push_back(request.timeMs);
        }
        ASSERT_EQ(arrivals.size(), rounds * kClones) << method;
        for (size_t round = 0; round < rounds; ++round) {
            const auto first = arrivals.begin() + static_cast<long>(round * kClones);
            const auto [earliest, latest] = std::minmax_element(first, first + kClones);
            EXPECT_LT(*latest - *earliest, kLatencyMs) << method << " round " << round;
        }
    };
    expectRounds("GET", 2);
    expectRounds("DELETE", 1);
}

// The second clone's disk: its ownership reads and its delete.
constexpr const char* kSecond = "disks/s1_CLONE$";
// The second and the fourth clone's disks.
constexpr const char* kSecondAndFourth = "disks/s[13]_CLONE$";

INSTANTIATE_TEST_SUITE_P(
    Faults, UnmapFanOutEquivalenceTest,
    ::testing::Values(
        FaultCase{"NoFault", 0, 0, kNoFault},
        // The first read fails: only that record is not unmapped.
        FaultCase{"OwnerUnreadable", 2, 0, Refused("GET", kSecond, 500)},
        // The detach's own read fails: nothing is detached.
        FaultCase{"OwnerUnreadableAtDetach", 1, 0, Refused("GET", kSecond, 500, -1, 1)},
        FaultCase{"OwnerAnswerLostTwice", 0, 0, LostTwice("GET", kSecond)},
        // A delete that fails is only logged; the disk is detached all the same.
        FaultCase{"DeleteRefused", 0, 1, Refused("DELETE", kSecond, 409)},
        FaultCase{"DeleteRefusedTwice", 0, 1, Refused("DELETE", kSecond, 409, 2)},
        // Failures are logged in the order of the disks, whichever answer comes first.
        FaultCase{"TwoDeletesRefused", 0, 2, Refused("DELETE", kSecondAndFourth, 409)},
        FaultCase{"DeleteAnswerLostTwice", 0, 0, LostTwice("DELETE", kSecond)}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace drivertest
