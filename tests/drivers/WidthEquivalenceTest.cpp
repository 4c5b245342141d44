// Requests sent side by side must leave what sending them one at a time
// leaves. Each case runs one export twice on a fresh resource group, once with
// one request at a time and once at the default width, with the same fault
// pinned to one record's resource, and compares the records, the log lines
// about disks that could not be deleted and the emulator's final state.
#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

const std::vector<std::string> kDevices = {"/dev/sdc", "/dev/sdd", "/dev/sde", "/dev/sdf"};
constexpr const char* kDeleteFailure = "Failed to delete disk  [";
constexpr int kClones = 4;
constexpr int kFirstCloneLun = 10;

// A fault on the requests that match; an empty method injects none.
struct PinnedFault {
    const char* method;
    const char* path;
    azemu::FaultAction action;
    int times;
    int status;
    bool afterProcessing;
    int skip = 0;
    int provisioningDelayMs = 0;  // Azure still working on a disk for this long
};

constexpr PinnedFault kNoFault = {"", "", azemu::FaultAction::Error, 0, 0, false};

// Azure answers `status` to `times` matching requests (-1: every one) after
// letting `skip` through, without carrying them out.
PinnedFault Refused(const char* method, const char* path, int status, int times = -1,
                    int skip = 0) {
    return {method, path, azemu::FaultAction::Error, times, status, false, skip};
}
// Azure carries the requests out and then answers `status`.
PinnedFault FailedAfterwards(const char* method, const char* path, int status) {
    return {method, path, azemu::FaultAction::Error, -1, status, true};
}
// The first two answers are lost after Azure carried the requests out.
PinnedFault LostTwice(const char* method, const char* path, int provisioningDelayMs = 0) {
    return {method, path, azemu::FaultAction::Drop, 2, 0, true, 0, provisioningDelayMs};
}

struct FaultCase {
    const char* name;
    Export call;
    int expectedResult;
    size_t expectedDeleteFailures;
    PinnedFault fault;
};

// What one run leaves, generated times taken out.
struct Outcome {
    int result = -1;
    int fired = 0;  // how often the fault fired
    std::vector<std::string> records;
    std::vector<std::string> deleteFailures;  // in the order logged
    std::vector<std::string> state;           // disks, snapshots and attached LUNs, sorted
};

// A revert names its new disks after the source disk and the time; the time
// differs from run to run.
std::string WithoutTimes(const std::string& text) {
    static const std::regex kSeconds("-[0-9]{9,}");
    return std::regex_replace(text, kSeconds, "-T");
}

std::string Describe(const kxsnap::RecordData& data) {
    std::string text = "status " + std::to_string(data.status) + " error " +
                       std::to_string(data.errorCode) + " [" + data.errorText + "] name [" +
                       data.snapName.value_or("") + "] flags " + std::to_string(data.snapFlags) +
                       " mapped [" + data.mappedDevicePath + "] reverted [" +
                       data.revertedDevicePath + "]";
    for (const auto& entry : data.metadata) {
        text += " md" + std::to_string(entry.first) + " [" + entry.second + "]";
    }
    return WithoutTimes(text);
}

std::vector<std::string> FinalState(azemu::Emulator& emu) {
    emu.completePending();
    std::vector<std::string> state;
    const azemu::Json dump = emu.state();
    for (const char* kind : {"disks", "snapshots"}) {
        for (const azemu::Json& resource : dump[kind]) {
            state.push_back(WithoutTimes(kind + (" " + resource["name"].get<std::string>())));
        }
    }
    for (const azemu::AttachedDisk& disk : emu.dataDisks()) {
        state.push_back(WithoutTimes("lun " + std::to_string(disk.lun) + " " + disk.name));
    }
    std::sort(state.begin(), state.end());
    return state;
}

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

// One record a clone disk, each naming the snapshot through `metadata`.
std::unique_ptr<kxtest::TestHost> CloneHost(const std::string& metadata) {
    auto host = std::make_unique<kxtest::TestHost>(5);
    for (int i = 0; i < kClones; ++i) {
        kxsnap::RecordData record;
        record.snapName = "s" + std::to_string(i);
        record.metadata[6] = metadata;
        host->Add(record);
    }
    return host;
}

class WidthEquivalenceTest : public DriverTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    void SetUp() override {
        StartEmulator(GetParam().call == kxso_unmapSnaps ? CloneScenario() : FourDiskScenario());
    }

    // The host of one run, made on the fresh resource group: an unmap's
    // records name our clone disks, a snapshot's devices are prepared, and
    // the other calls take the snapshots of a backup.
    std::unique_ptr<kxtest::TestHost> Host() {
        const Export call = GetParam().call;
        if (call == kxso_unmapSnaps) {
            return CloneHost(Metadata("spareSnap", "spare"));
        }
        if (call != kxso_snapDevices) {
            return SnapshotHost(*Backup(kDevices), 21);
        }
        auto host = DeviceHost(kDevices);
        EXPECT_EQ(kxso_prepareDevices(host->devices(), host->count(), host->util()), 0);
        return host;
    }

    Outcome RunAtWidth(int width) {
        const FaultCase& c = GetParam();
        emu_->reset();
        emu_->setSettings(azemu::Settings());
        UseSettings("nAzureRESTAPIMaxParallelRequests=" + std::to_string(width) + "\n");
        std::unique_ptr<kxtest::TestHost> host = Host();
        Tune(&azemu::Settings::provisioningDelayMs, c.fault.provisioningDelayMs);
        if (*c.fault.method != '\0') {
            InjectFault(c.fault.method, c.fault.path, c.fault.action, c.fault.times, c.fault.status,
                        "Conflict", c.fault.afterProcessing, c.fault.skip);
        }
        Outcome outcome;
        outcome.result = c.call(host->devices(), host->count(), host->util());
        for (const azemu::FaultInfo& info : emu_->faults()) {
            outcome.fired += info.fired;
        }
        emu_->clearFaults();
        for (int16_t i = 0; i < host->count(); ++i) {
            outcome.records.push_back(Describe(host->Record(i).data()));
        }
        for (const kxsnap::LogEntry& line : host->Log()) {
            if (line.text.find(kDeleteFailure) != std::string::npos) {
                outcome.deleteFailures.push_back(WithoutTimes(line.text));
            }
        }
        outcome.state = FinalState(*emu_);
        return outcome;
    }
};

TEST_P(WidthEquivalenceTest, OneAtATimeAndSideBySideLeaveTheSame) {
    const FaultCase& c = GetParam();
    const Outcome sequential = RunAtWidth(1);
    const Outcome sideBySide = RunAtWidth(32);
    EXPECT_EQ(sequential.result, c.expectedResult);
    EXPECT_EQ(sequential.deleteFailures.size(), c.expectedDeleteFailures);
    // A fault that never fired would make the two runs agree for nothing; a
    // lost answer must be lost on the re-sent request as well, at least
    // with one request at a time.
    const int firings = c.fault.times == 0                           ? 0
                        : c.fault.action == azemu::FaultAction::Drop ? c.fault.times
                                                                     : 1;
    EXPECT_GE(sequential.fired, firings);
    EXPECT_GE(sideBySide.fired, std::min(firings, 1));
    EXPECT_EQ(sideBySide.result, sequential.result);
    EXPECT_EQ(sideBySide.records, sequential.records);
    EXPECT_EQ(sideBySide.deleteFailures, sequential.deleteFailures);
    EXPECT_EQ(sideBySide.state, sequential.state);
}

class UnmapSideBySideTest : public DriverTest {
protected:
    void SetUp() override { StartEmulator(CloneScenario()); }
};

// A map's own case: a fresh resource group with the four disks backed up.
class MapSideBySideTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        backup_ = Backup(kDevices);
    }
    // Every matching request is answered 300 ms late: refused with `status`,
    // or carried out when `status` is 0.
    void Late(const char* method, const char* path, int status) {
        azemu::FaultSpec fault;
        fault.method = method;
        fault.path = path;
        fault.action = status == 0 ? azemu::FaultAction::Delay : azemu::FaultAction::Error;
        fault.status = status;
        fault.code = "Conflict";
        fault.delayMs = 300;
        fault.times = -1;
        emu_->injectFault(fault);
    }

    std::unique_ptr<kxtest::TestHost> backup_;
};

// The third disk's creation is refused after the fourth disk was made: the
// fourth disk is deleted again, or named on its record when it cannot be.
class LaterDiskUndone : public MapSideBySideTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LaterDiskUndone, WhenTheWalkStopsEarlier) {
    const bool deleteRefused = GetParam();
    Late("PUT", "disks/snap-sde_CLONE$", 409);
    if (deleteRefused) {
        InjectFault("DELETE", "disks/snap-sdf_CLONE$", azemu::FaultAction::Error, -1, 409,
                    "Conflict");
    }
    auto host = SnapshotHost(*backup_, 21);
    EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 1);
    emu_->clearFaults();
    EXPECT_EQ(DiskExists("snap-sdf_CLONE"), deleteRefused);
    EXPECT_FALSE(DiskExists("snap-sdc_CLONE"));
    EXPECT_EQ(ErrorText(*host, 3).find("[snap-sdf_CLONE]") != std::string::npos, deleteRefused)
        << ErrorText(*host, 3);
    EXPECT_EQ(host->Logged("Deleted disk [snap-sdf_CLONE]: the creation of the disks stopped at "
                           "disk [snap-sde_CLONE]"),
              !deleteRefused);
}

INSTANTIATE_TEST_SUITE_P(Deletes, LaterDiskUndone, ::testing::Bool());

// At the default width the second disk's PUT goes out while the first disk
// is still being created.
TEST_F(MapSideBySideTest, CreationsOfABulkMapAreUnderWayAtOnce) {
    Late("PUT", "disks/snap-sdc_CLONE$", 0);
    auto host = SnapshotHost(*backup_, 21);
    emu_->clearRequestLog();
    ASSERT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 0);
    uint64_t secondPut = 0;
    uint64_t firstPoll = 0;
    for (const azemu::RequestRecord& request : emu_->requestLog()) {
        if (request.method == "PUT" &&
            request.path.find("disks/snap-sdd_CLONE") != std::string::npos && secondPut == 0) {
            secondPut = request.seq;
        }
        if (request.method == "GET" &&
            request.path.find("disks/snap-sdc_CLONE") != std::string::npos && firstPoll == 0) {
            firstPoll = request.seq;
        }
    }
    ASSERT_NE(secondPut, 0u);
    ASSERT_NE(firstPoll, 0u);
    EXPECT_LT(secondPut, firstPoll);
}

// The snapshots are read side by side too: the last record's read is under
// way while the first record's read fails, and the walk stops at the first
// record before any disk is made.
TEST_F(MapSideBySideTest, SnapshotReadsOfABulkMapAreUnderWayAtOnce) {
    Late("GET", "snapshots/snap-sdc$", 409);
    auto host = SnapshotHost(*backup_, 21);
    emu_->clearRequestLog();
    EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 1);
    bool lastRead = false;
    for (const azemu::RequestRecord& request : emu_->requestLog()) {
        lastRead = lastRead || (request.method == "GET" &&
                                request.path.find("snapshots/snap-sdf") != std::string::npos);
        EXPECT_NE(request.method, "PUT") << request.path;
    }
    EXPECT_TRUE(lastRead);
    EXPECT_NE(ErrorText(*host, 0).find("Failed to verify Azure disk snapshot"), std::string::npos)
        << ErrorText(*host, 0);
    EXPECT_EQ(Status(*host, 1), Status(*host, 3));
    EXPECT_EQ(ErrorCode(*host, 1), 0);
}

// Each round of requests of one unmap reaches Azure at once, not one request
// time apart: both rounds of ownership reads (before the records are judged,
// and the detach's own check) and the clone disks' DELETEs.
TEST_F(UnmapSideBySideTest, RequestsOfOneRoundArriveTogether) {
    constexpr int kLatencyMs = 150;
    UseSettings("nAzureRESTAPIMaxParallelRequests=32\n");
    Tune(&azemu::Settings::requestLatencyMs, kLatencyMs);
    auto host = CloneHost(Metadata("spareSnap", "spare"));
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

// A revert's new disk for the third record (data2, named after the time).
constexpr const char* kThirdRevertDisk = "disks/data2-[0-9]+$";

// The second clone's disk: its ownership reads and its delete.
constexpr const char* kSecond = "disks/s1_CLONE$";
// The second and the fourth clone's disks.
constexpr const char* kSecondAndFourth = "disks/s[13]_CLONE$";

INSTANTIATE_TEST_SUITE_P(
    Faults, WidthEquivalenceTest,
    ::testing::Values(
        FaultCase{"SnapshotNoFault", kxso_snapDevices, 0, 0, kNoFault},
        FaultCase{"SnapshotSecondRefused", kxso_snapDevices, 1, 0,
                  Refused("PUT", "snapshots/snap-sdd", 409)},
        FaultCase{"SnapshotLastRefused", kxso_snapDevices, 1, 0,
                  Refused("PUT", "snapshots/snap-sdf", 409)},
        FaultCase{"SnapshotSecondFailsAfterItWasMade", kxso_snapDevices, 1, 0,
                  FailedAfterwards("PUT", "snapshots/snap-sdd", 500)},
        FaultCase{"SnapshotAnswerLostTwice", kxso_snapDevices, 0, 0,
                  LostTwice("PUT", "snapshots/snap-sde")},
        FaultCase{"SnapshotDiskUnreadable", kxso_snapDevices, 0, 0,
                  Refused("GET", "disks/data1$", 500)},
        FaultCase{"DeleteSecondRefused", kxso_deleteSnaps, 2, 0,
                  Refused("DELETE", "snapshots/snap-sdd", 409)},
        FaultCase{"DeleteAnswerLostTwice", kxso_deleteSnaps, 0, 0,
                  LostTwice("DELETE", "snapshots/snap-sde")},
        FaultCase{"MapNoFault", kxso_mapSnaps, 0, 0, kNoFault},
        FaultCase{"MapThirdCreationRefused", kxso_mapSnaps, 1, 0,
                  Refused("PUT", "disks/snap-sde_CLONE$", 409)},
        FaultCase{"MapThirdNeverProvisions", kxso_mapSnaps, 1, 0,
                  Refused("GET", "disks/snap-sde_CLONE$", 409)},
        FaultCase{"MapThirdAnswerLostTwiceWhileBusy", kxso_mapSnaps, 0, 0,
                  LostTwice("PUT", "disks/snap-sde_CLONE$", 150)},
        FaultCase{"MapThirdSnapshotUnreadable", kxso_mapSnaps, 1, 0,
                  Refused("GET", "snapshots/snap-sde$", 409)},
        FaultCase{"RevertNoFault", kxso_revertSnaps, 0, 0, kNoFault},
        FaultCase{"RevertThirdCreationRefused", kxso_revertSnaps, 1, 0,
                  Refused("PUT", kThirdRevertDisk, 409)},
        FaultCase{"RevertThirdAnswerLostTwiceWhileBusy", kxso_revertSnaps, 0, 0,
                  LostTwice("PUT", kThirdRevertDisk, 150)},
        FaultCase{"RevertThirdSnapshotUnreadable", kxso_revertSnaps, 1, 0,
                  Refused("GET", "snapshots/snap-sde$", 409)},
        FaultCase{"UnmapNoFault", kxso_unmapSnaps, 0, 0, kNoFault},
        // The first read fails: only that record is not unmapped.
        FaultCase{"UnmapOwnerUnreadable", kxso_unmapSnaps, 2, 0, Refused("GET", kSecond, 500)},
        // The detach's own read fails: nothing is detached.
        FaultCase{"UnmapOwnerUnreadableAtDetach", kxso_unmapSnaps, 1, 0,
                  Refused("GET", kSecond, 500, -1, 1)},
        FaultCase{"UnmapOwnerAnswerLostTwice", kxso_unmapSnaps, 0, 0, LostTwice("GET", kSecond)},
        // A delete that fails is only logged; the disk is detached all the same.
        FaultCase{"UnmapDeleteRefused", kxso_unmapSnaps, 0, 1, Refused("DELETE", kSecond, 409)},
        FaultCase{"UnmapDeleteRefusedTwice", kxso_unmapSnaps, 0, 1,
                  Refused("DELETE", kSecond, 409, 2)},
        // Failures are logged in the order of the disks, whichever answer comes first.
        FaultCase{"UnmapTwoDeletesRefused", kxso_unmapSnaps, 0, 2,
                  Refused("DELETE", kSecondAndFourth, 409)},
        FaultCase{"UnmapDeleteAnswerLostTwice", kxso_unmapSnaps, 0, 0,
                  LostTwice("DELETE", kSecond)}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace drivertest
