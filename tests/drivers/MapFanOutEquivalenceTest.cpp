// Disks created side by side by a bulk map or a bulk revert leave what
// creating them one after the other leaves: the same fault, pinned to one
// record's disk, is run once with one request at a time and once at the
// default width, and the records and the emulator's final state must agree
// apart from generated names.
#include <algorithm>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

const std::vector<std::string> kDevices = {"/dev/sdc", "/dev/sdd", "/dev/sde", "/dev/sdf"};

enum class Call { kMap, kRevert };

struct FaultCase {
    const char* name;
    Call call;
    const char* method;
    const char* path;
    azemu::FaultAction action;
    int times;
    int status;
    bool afterProcessing;
    int provisioningDelayMs;  // Azure still working on a disk for this long
    int expectedResult;
};

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

// A revert names its new disks after the source disk and the time; the
// time is not the scenario's.
std::string WithoutTimes(const std::string& text) {
    static const std::regex kSeconds("-[0-9]{9,}");
    return std::regex_replace(text, kSeconds, "-T");
}

struct Outcome {
    int result = -1;
    std::vector<std::string> records;
    std::vector<std::string> disks;     // every disk in the resource group
    std::vector<std::string> attached;  // "lun name"
    int fired = 0;
};

std::string Describe(const kxsnap::RecordData& data) {
    std::string text = "status " + std::to_string(data.status) + " error " +
                       std::to_string(data.errorCode) + " [" + data.errorText + "] mapped [" +
                       data.mappedDevicePath + "] reverted [" + data.revertedDevicePath + "]";
    for (const auto& entry : data.metadata) {
        text += " md" + std::to_string(entry.first) + " [" + entry.second + "]";
    }
    return WithoutTimes(text);
}

class MapFanOutEquivalenceTest : public DriverTest {
protected:
    Outcome RunAtWidth(const FaultCase& c, const char* width) {
        UseSettings(std::string("nAzureRESTAPIMaxParallelRequests=") + width + "\n");
        Restore();
        azemu::Settings settings = emu_->settings();
        settings.provisioningDelayMs = c.provisioningDelayMs;
        emu_->setSettings(settings);
        auto host = SnapshotHost(*backup_, 21);
        if (*c.method != '\0') {
            azemu::FaultSpec fault;
            fault.method = c.method;
            fault.path = c.path;
            fault.action = c.action;
            fault.times = c.times;
            fault.status = c.status;
            fault.code = "Conflict";
            fault.afterProcessing = c.afterProcessing;
            emu_->injectFault(fault);
        }
        Outcome outcome;
        outcome.result = c.call == Call::kMap
                             ? kxso_mapSnaps(host->devices(), host->count(), host->util())
                             : kxso_revertSnaps(host->devices(), host->count(), host->util());
        for (const azemu::FaultInfo& fault : emu_->faults()) {
            outcome.fired += fault.fired;
        }
        emu_->clearFaults();
        emu_->completePending();
        for (int16_t i = 0; i < host->count(); ++i) {
            outcome.records.push_back(Describe(host->Record(i).data()));
        }
        for (const azemu::Json& disk : emu_->state()["disks"]) {
            outcome.disks.push_back(WithoutTimes(disk["name"].get<std::string>()));
        }
        std::sort(outcome.disks.begin(), outcome.disks.end());
        for (const azemu::AttachedDisk& disk : emu_->dataDisks()) {
            outcome.attached.push_back(std::to_string(disk.lun) + " " + WithoutTimes(disk.name));
        }
        std::sort(outcome.attached.begin(), outcome.attached.end());
        return outcome;
    }

    // A fresh resource group with the four disks backed up.
    void Restore() {
        emu_->reset();
        emu_->setSettings(azemu::Settings());
        backup_ = Backup(kDevices);
    }

    std::unique_ptr<kxtest::TestHost> backup_;
};

class MapFanOutFaults : public MapFanOutEquivalenceTest,
                        public ::testing::WithParamInterface<FaultCase> {};

TEST_P(MapFanOutFaults, OneAtATimeAndSideBySideLeaveTheSame) {
    const Outcome sequential = RunAtWidth(GetParam(), "1");
    const Outcome sideBySide = RunAtWidth(GetParam(), "32");
    EXPECT_EQ(sequential.result, GetParam().expectedResult);
    EXPECT_GE(sideBySide.fired, std::min(GetParam().times, 1));
    EXPECT_GE(sequential.fired, GetParam().times == -1 ? 1 : GetParam().times);
    EXPECT_EQ(sideBySide.result, sequential.result);
    ASSERT_EQ(sideBySide.records.size(), sequential.records.size());
    for (size_t i = 0; i < sequential.records.size(); ++i) {
        EXPECT_EQ(sideBySide.records[i], sequential.records[i]) << "record " << i;
    }
    EXPECT_EQ(sideBySide.disks, sequential.disks);
    EXPECT_EQ(sideBySide.attached, sequential.attached);
}

using azemu::FaultAction;

INSTANTIATE_TEST_SUITE_P(
    Faults, MapFanOutFaults,
    ::testing::Values(
        FaultCase{"MapNoFault", Call::kMap, "", "", FaultAction::Error, 0, 0, false, 0, 0},
        FaultCase{"MapThirdCreationRefused", Call::kMap, "PUT", "disks/snap-sde_CLONE$",
                  FaultAction::Error, -1, 409, false, 0, 1},
        FaultCase{"MapThirdNeverProvisions", Call::kMap, "GET", "disks/snap-sde_CLONE$",
                  FaultAction::Error, -1, 409, false, 0, 1},
        FaultCase{"MapThirdAnswerLostTwiceWhileBusy", Call::kMap, "PUT", "disks/snap-sde_CLONE$",
                  FaultAction::Drop, 2, 0, true, 150, 0},
        FaultCase{"MapThirdSnapshotUnreadable", Call::kMap, "GET", "snapshots/snap-sde$",
                  FaultAction::Error, -1, 409, false, 0, 1},
        FaultCase{"RevertNoFault", Call::kRevert, "", "", FaultAction::Error, 0, 0, false, 0, 0},
        FaultCase{"RevertThirdCreationRefused", Call::kRevert, "PUT", "disks/data2-[0-9]+$",
                  FaultAction::Error, -1, 409, false, 0, 1},
        FaultCase{"RevertThirdAnswerLostTwiceWhileBusy", Call::kRevert, "PUT",
                  "disks/data2-[0-9]+$", FaultAction::Drop, 2, 0, true, 150, 0},
        FaultCase{"RevertThirdSnapshotUnreadable", Call::kRevert, "GET", "snapshots/snap-sde$",
                  FaultAction::Error, -1, 409, false, 0, 1}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// The third disk's creation is refused after the fourth disk was made: the
// fourth disk is deleted again, or named on its record when it cannot be.
class LaterDiskUndone : public MapFanOutEquivalenceTest,
                        public ::testing::WithParamInterface<bool> {};

TEST_P(LaterDiskUndone, WhenTheWalkStopsEarlier) {
    const bool deleteRefused = GetParam();
    Restore();
    azemu::FaultSpec refused;
    refused.method = "PUT";
    refused.path = "disks/snap-sde_CLONE$";
    refused.status = 409;
    refused.code = "Conflict";
    refused.delayMs = 300;
    refused.times = -1;
    emu_->injectFault(refused);
    if (deleteRefused) {
        azemu::FaultSpec kept = refused;
        kept.method = "DELETE";
        kept.path = "disks/snap-sdf_CLONE$";
        kept.delayMs = 0;
        emu_->injectFault(kept);
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
TEST_F(MapFanOutEquivalenceTest, CreationsOfABulkMapAreUnderWayAtOnce) {
    Restore();
    azemu::FaultSpec slow;
    slow.method = "PUT";
    slow.path = "disks/snap-sdc_CLONE$";
    slow.action = FaultAction::Delay;
    slow.delayMs = 300;
    slow.times = -1;
    emu_->injectFault(slow);
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
TEST_F(MapFanOutEquivalenceTest, SnapshotReadsOfABulkMapAreUnderWayAtOnce) {
    Restore();
    azemu::FaultSpec refused;
    refused.method = "GET";
    refused.path = "snapshots/snap-sdc$";
    refused.status = 409;
    refused.code = "Conflict";
    refused.delayMs = 300;
    refused.times = -1;
    emu_->injectFault(refused);
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

}  // namespace
}  // namespace drivertest
