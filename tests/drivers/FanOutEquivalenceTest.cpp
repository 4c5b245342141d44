// Snapshots made and deleted side by side leave what a walk over the records
// leaves, whatever fault is pinned to one record's snapshot.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "WidthEquivalence.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

const std::vector<std::string> kDevices = {"/dev/sdc", "/dev/sdd", "/dev/sde", "/dev/sdf"};

struct FaultCase {
    const char* name;
    Export call;
    int expectedResult;
    PinnedFault fault;
};

class FanOutEquivalenceTest : public WidthEquivalenceTest,
                              public ::testing::WithParamInterface<FaultCase> {
protected:
    // A delete needs the snapshots of a backup; a snapshot needs prepared devices.
    std::unique_ptr<kxtest::TestHost> Host() {
        if (GetParam().call == kxso_deleteSnaps) {
            return SnapshotHost(*Backup(kDevices));
        }
        auto host = DeviceHost(kDevices);
        EXPECT_EQ(kxso_prepareDevices(host->devices(), host->count(), host->util()), 0);
        return host;
    }
};

TEST_P(FanOutEquivalenceTest, OneAtATimeAndSideBySideLeaveTheSame) {
    ExpectSameAtBothWidths(
        GetParam().fault, [this] { return Host(); }, GetParam().call, GetParam().expectedResult);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FanOutEquivalenceTest,
    ::testing::Values(FaultCase{"SnapshotNoFault", kxso_snapDevices, 0, kNoFault},
                      FaultCase{"SnapshotSecondRefused", kxso_snapDevices, 1,
                                Refused("PUT", "snapshots/snap-sdd", 409)},
                      FaultCase{"SnapshotLastRefused", kxso_snapDevices, 1,
                                Refused("PUT", "snapshots/snap-sdf", 409)},
                      FaultCase{"SnapshotSecondFailsAfterItWasMade", kxso_snapDevices, 1,
                                FailedAfterwards("PUT", "snapshots/snap-sdd", 500)},
                      FaultCase{"SnapshotAnswerLostTwice", kxso_snapDevices, 0,
                                LostTwice("PUT", "snapshots/snap-sde")},
                      FaultCase{"SnapshotDiskUnreadable", kxso_snapDevices, 0,
                                Refused("GET", "disks/data1$", 500)},
                      FaultCase{"DeleteSecondRefused", kxso_deleteSnaps, 2,
                                Refused("DELETE", "snapshots/snap-sdd", 409)},
                      FaultCase{"DeleteAnswerLostTwice", kxso_deleteSnaps, 0,
                                LostTwice("DELETE", "snapshots/snap-sde")}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace drivertest
