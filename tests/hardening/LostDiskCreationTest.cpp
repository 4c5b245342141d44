// A disk PUT whose every answer is lost after Azure did the work: the retries
// run out while the disk exists all the same. Each operation that creates
// disks must then find the disk by name and use it, or delete it, or name it
// on the record it was meant for; judged by the same invariants as the
// fault matrix.
#include <gtest/gtest.h>

#include "DiskInvariants.h"
#include "FaultMatrix.h"
#include "drivers/DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace faultmatrix {
namespace {

struct CreatingOperation {
    std::string name;
    drivertest::Export run;
    bool perDevice = false;
    DiskRules rules;
};

DiskRules CreatingRules(DiskCreates creates) {
    DiskRules rules;
    const bool map = creates == DiskCreates::CloneDisks;
    rules.upFront = map ? 11 : 23;
    rules.success = map ? 12 : 22;
    rules.results = {0, 1};
    rules.errorCodes = {map ? 62009 : 60005};
    rules.creates = creates;
    rules.detachesSources = !map;
    return rules;
}

void PrintTo(const CreatingOperation& operation, std::ostream* out) {
    *out << operation.name;
}

class LostDiskCreation : public drivertest::DriverTest,
                         public ::testing::WithParamInterface<CreatingOperation> {
protected:
    // Every PUT of a disk is carried out and its answer dropped, while
    // Azure's operations take a while.
    void LoseEveryDiskCreationAnswer() {
        azemu::Settings slow;
        slow.asyncOperationDelayMs = kBusyOperationDelayMs;
        emu_->setSettings(slow);
        azemu::FaultSpec fault;
        fault.method = "PUT";
        fault.path = "/providers/Microsoft\\.Compute/disks/[^/]+$";
        fault.action = azemu::FaultAction::Drop;
        fault.afterProcessing = true;
        fault.times = -1;
        emu_->injectFault(fault);
    }
};

TEST_P(LostDiskCreation, TheDiskAzureMadeIsUsedOrNamedOnItsRecord) {
    const CreatingOperation& operation = GetParam();
    // One retry, no wait between attempts: the retries run out at once.
    UseSettings(std::string("nAzureRESTAPIMaxRetries=1\n") +
                (operation.perDevice ? drivertest::kPerDevice : ""));
    auto backup = Backup({"/dev/sdc", "/dev/sdd"});
    auto host = SnapshotHost(*backup, 21);
    RunOutcome outcome;
    outcome.before = TakeInventory(emu_->state());
    LoseEveryDiskCreationAnswer();
    outcome.result = operation.run(host->devices(), host->count(), host->util());
    const std::vector<azemu::FaultInfo> faults = emu_->faults();
    ASSERT_FALSE(faults.empty());
    EXPECT_GE(faults.front().fired, 2) << "every disk creation's answer is lost";
    emu_->clearFaults();
    emu_->completePending();
    outcome.after = TakeInventory(emu_->state());
    for (int16_t i = 0; i < host->count(); ++i) {
        outcome.records.push_back(ViewOf(host->Record(i).data()));
    }
    std::string problems;
    for (const std::string& problem : CheckDiskRun(operation.rules, outcome)) {
        problems += "\n  " + problem;
    }
    EXPECT_TRUE(problems.empty()) << problems;
    // The disks are there and provisioned: read by name, they serve.
    EXPECT_EQ(outcome.result, 0);
    for (const RecordView& record : outcome.records) {
        EXPECT_EQ(record.status, operation.rules.success) << record.errorText;
    }
}

std::vector<CreatingOperation> CreatingOperations() {
    std::vector<CreatingOperation> operations;
    for (bool perDevice : {false, true}) {
        const std::string mode = perDevice ? "PerDevice" : "Bulk";
        operations.push_back(
            {"Map" + mode, kxso_mapSnaps, perDevice, CreatingRules(DiskCreates::CloneDisks)});
        operations.push_back({"Revert" + mode, kxso_revertSnaps, perDevice,
                              CreatingRules(DiskCreates::RevertDisks)});
    }
    return operations;
}

INSTANTIATE_TEST_SUITE_P(ManagedDisks, LostDiskCreation, ::testing::ValuesIn(CreatingOperations()),
                         [](const ::testing::TestParamInfo<CreatingOperation>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace faultmatrix
