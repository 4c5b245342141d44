// Requests sent side by side leave what a walk over the records leaves: the
// same fault, pinned to one record's resource, is run once with one request
// at a time and once at the default width, and the records and the
// emulator's final state must agree.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

const std::vector<std::string> kDevices = {"/dev/sdc", "/dev/sdd", "/dev/sde", "/dev/sdf"};
const std::vector<std::string> kSnapshots = {"snap-sdc", "snap-sdd", "snap-sde", "snap-sdf"};

enum class Call { kSnapshot, kDelete };

struct FaultCase {
    const char* name;
    Call call;
    const char* method;  // "" for no fault
    const char* path;
    azemu::FaultAction action;
    int times;
    int status;
    bool afterProcessing;
    int expectedResult;
};

// What a call leaves behind, apart from generated names and times (there are none here).
struct Outcome {
    int result = -1;
    std::vector<std::string> records;
    std::map<std::string, bool> snapshotExists;
};

std::string Describe(const kxsnap::RecordData& data) {
    std::string text = "status " + std::to_string(data.status) + " error " +
                       std::to_string(data.errorCode) + " [" + data.errorText + "] name [" +
                       data.snapName.value_or("") + "] flags " + std::to_string(data.snapFlags);
    for (const auto& entry : data.metadata) {
        text += " md" + std::to_string(entry.first) + " [" + entry.second + "]";
    }
    return text;
}

class FanOutEquivalenceTest : public DriverTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    Outcome RunAtWidth(const char* width) {
        emu_->reset();
        UseSettings(std::string("nAzureRESTAPIMaxParallelRequests=") + width + "\n");
        const FaultCase& c = GetParam();
        std::unique_ptr<kxtest::TestHost> backup;
        std::unique_ptr<kxtest::TestHost> host;
        if (c.call == Call::kDelete) {
            backup = Backup(kDevices);
            host = SnapshotHost(*backup);
        } else {
            host = DeviceHost(kDevices);
            EXPECT_EQ(kxso_prepareDevices(host->devices(), host->count(), host->util()), 0);
        }
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
        outcome.result = c.call == Call::kDelete
                             ? kxso_deleteSnaps(host->devices(), host->count(), host->util())
                             : kxso_snapDevices(host->devices(), host->count(), host->util());
        emu_->clearFaults();
        for (int16_t i = 0; i < host->count(); ++i) {
            outcome.records.push_back(Describe(host->Record(i).data()));
        }
        for (const std::string& name : kSnapshots) {
            outcome.snapshotExists[name] = SnapshotExists(name);
        }
        return outcome;
    }
};

TEST_P(FanOutEquivalenceTest, OneAtATimeAndSideBySideLeaveTheSame) {
    const Outcome sequential = RunAtWidth("1");
    const Outcome sideBySide = RunAtWidth("32");
    EXPECT_EQ(sequential.result, GetParam().expectedResult);
    EXPECT_EQ(sideBySide.result, sequential.result);
    ASSERT_EQ(sideBySide.records.size(), sequential.records.size());
    for (size_t i = 0; i < sequential.records.size(); ++i) {
        EXPECT_EQ(sideBySide.records[i], sequential.records[i]) << "record " << i;
    }
    EXPECT_EQ(sideBySide.snapshotExists, sequential.snapshotExists);
}

using azemu::FaultAction;

INSTANTIATE_TEST_SUITE_P(
    Faults, FanOutEquivalenceTest,
    ::testing::Values(FaultCase{"SnapshotNoFault", Call::kSnapshot, "", "", FaultAction::Error, 0,
                                0, false, 0},
                      FaultCase{"SnapshotSecondRefused", Call::kSnapshot, "PUT",
                                "snapshots/snap-sdd", FaultAction::Error, -1, 409, false, 1},
                      FaultCase{"SnapshotLastRefused", Call::kSnapshot, "PUT", "snapshots/snap-sdf",
                                FaultAction::Error, -1, 409, false, 1},
                      FaultCase{"SnapshotSecondFailsAfterItWasMade", Call::kSnapshot, "PUT",
                                "snapshots/snap-sdd", FaultAction::Error, -1, 500, true, 1},
                      FaultCase{"SnapshotAnswerLostTwice", Call::kSnapshot, "PUT",
                                "snapshots/snap-sde", FaultAction::Drop, 2, 0, true, 0},
                      FaultCase{"SnapshotDiskUnreadable", Call::kSnapshot, "GET", "disks/data1$",
                                FaultAction::Error, -1, 500, false, 0},
                      FaultCase{"DeleteSecondRefused", Call::kDelete, "DELETE",
                                "snapshots/snap-sdd", FaultAction::Error, -1, 409, false, 2},
                      FaultCase{"DeleteAnswerLostTwice", Call::kDelete, "DELETE",
                                "snapshots/snap-sde", FaultAction::Drop, 2, 0, true, 0}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace drivertest
