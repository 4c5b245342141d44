// The NetApp Files fault matrix: the engine's operations through the real
// exports against the emulator's NetApp Files side, once cleanly and then for
// every kind of request each sent times every fault class. The engine reports
// per device, so the invariants are about the devices and the volumes.
#include <algorithm>
#include <cctype>

#include <gtest/gtest.h>

#include "FaultMatrix.h"
#include "kxso/kxso_exports.h"
#include "netapp_engine/NetAppEngineFixture.h"

namespace faultmatrix {
namespace {

enum class NetAppBefore { Exports, Prepared, Snapped, BackedUp, Mapped };

struct NetAppOperation {
    std::string name;
    enginetest::Export run;
    NetAppBefore before = NetAppBefore::Exports;
    std::set<int> doneStatuses;     // a device in one of these finished
    std::string creates;            // inventory kind the operation may create: "volsnap", "volume"
    std::string removes;            // and may remove
    bool changesVolumes = false;    // revert puts content back
    bool alwaysSucceeds = false;    // reconcile keeps its failures on the devices
    bool answersPartially = false;  // unmap and delete: 2 when only some devices are done
    // Sends requests side by side (discovery lists, snapshot and clone
    // creations, deletes): run at the default width as well.
    bool sideBySide = false;
};

NetAppOperation Operation(const std::string& name, enginetest::Export run, NetAppBefore before,
                          std::set<int> doneStatuses) {
    NetAppOperation operation;
    operation.name = name;
    operation.run = run;
    operation.before = before;
    operation.doneStatuses = std::move(doneStatuses);
    return operation;
}

std::vector<NetAppOperation> NetAppOperations() {
    // Prepare discovers the volumes behind the exports.
    NetAppOperation prepare = Operation("prepare", kxso_prepareDevices, NetAppBefore::Exports, {1});
    prepare.sideBySide = true;
    NetAppOperation snapshot = Operation("snapshot", kxso_snapDevices, NetAppBefore::Prepared, {5});
    snapshot.creates = "volsnap";
    snapshot.sideBySide = true;
    NetAppOperation map = Operation("map", kxso_mapSnaps, NetAppBefore::BackedUp, {9, 12});
    map.creates = "volume";
    map.sideBySide = true;
    NetAppOperation unmap = Operation("unmap", kxso_unmapSnaps, NetAppBefore::Mapped, {14});
    unmap.removes = "volume";
    unmap.answersPartially = true;
    unmap.sideBySide = true;
    NetAppOperation revert = Operation("revert", kxso_revertSnaps, NetAppBefore::BackedUp, {22});
    revert.changesVolumes = true;
    NetAppOperation remove = Operation("delete", kxso_deleteSnaps, NetAppBefore::BackedUp, {20});
    remove.removes = "volsnap";
    remove.answersPartially = true;
    remove.sideBySide = true;
    NetAppOperation reconcile =
        Operation("reconcile", kxso_reconcileSnaps, NetAppBefore::BackedUp, {});
    reconcile.alwaysSucceeds = true;
    return {prepare,
            snapshot,
            Operation("post-snapshot", kxso_postSnapDevices, NetAppBefore::Snapped, {5}),
            map,
            unmap,
            revert,
            remove,
            reconcile};
}

std::string Kind(const std::string& key) {
    return key.substr(0, key.find(':'));
}

// The device a snapshot ("volsnap:VOL/NAME") or clone ("volume:KXClone-NAME")
// belongs to, or -1.
int Owner(const RunOutcome& run, const std::string& key) {
    const std::string name = key.substr(key.find_last_of(":/") + 1);
    for (size_t i = 0; i < run.records.size(); ++i) {
        const std::string& snap = run.records[i].snapName;
        if (!snap.empty() && (name == snap || name == "KXClone-" + snap)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool Accounts(const NetAppOperation& operation, const RecordView& record) {
    return operation.doneStatuses.count(record.status) != 0 || record.errorCode != 0;
}

// A resource the operation created is accounted for by its own device: done,
// or an error that names it.
bool AccountsFor(const NetAppOperation& operation, const RecordView& record,
                 const std::string& key) {
    const std::string name = key.substr(key.find_last_of(":/") + 1);
    return operation.doneStatuses.count(record.status) != 0 ||
           (record.errorCode != 0 && record.errorText.find(name) != std::string::npos);
}

std::vector<std::string> CheckNetAppRun(const NetAppOperation& operation, const RunOutcome& run) {
    std::vector<std::string> problems;
    const bool anyError = std::any_of(run.records.begin(), run.records.end(),
                                      [](const RecordView& r) { return r.errorCode != 0; });
    if (run.result != 0 && run.result != 1 && !(run.result == 2 && operation.answersPartially)) {
        problems.push_back("result " + std::to_string(run.result));
    }
    if (anyError && run.result == 0 && !operation.alwaysSucceeds) {
        problems.push_back("result 0 although a device carries an error");
    }
    if (run.result != 0 && !anyError) {
        problems.push_back("result " + std::to_string(run.result) + " but no device says why");
    }
    for (size_t i = 0; i < run.records.size(); ++i) {
        const RecordView& record = run.records[i];
        if ((record.errorCode != 0) != !record.errorText.empty()) {
            problems.push_back("device " + std::to_string(i) + " has error code " +
                               std::to_string(record.errorCode) + " with message [" +
                               record.errorText + "]");
        }
    }
    for (const auto& [key, doc] : run.after) {
        if (run.before.count(key) != 0) {
            const int owner = Owner(run, key);
            // A deletion Azure accepted but has not finished shows as a change;
            // the device must then say what became of it.
            const bool beingRemoved = Kind(key) == operation.removes && owner >= 0 &&
                                      Accounts(operation, run.records[owner]);
            if (run.before.at(key) != doc && !beingRemoved &&
                !(operation.changesVolumes && Kind(key) == "volume")) {
                problems.push_back("changed " + key);
            }
            continue;
        }
        const int owner = Owner(run, key);
        if (Kind(key) != operation.creates || owner < 0) {
            problems.push_back("created " + key + " that the operation does not own");
        } else if (!AccountsFor(operation, run.records[owner], key) && !run.hostRefused) {
            problems.push_back("left " + key + " behind for device " + std::to_string(owner) +
                               " (status " + std::to_string(run.records[owner].status) +
                               ", no error)");
        } else if (run.hostRefused && !Accounts(operation, run.records[owner])) {
            problems.push_back("left " + key + " behind, named on no device");
        }
    }
    for (const auto& [key, doc] : run.before) {
        if (run.after.count(key) == 0 && (Kind(key) != operation.removes || Owner(run, key) < 0)) {
            problems.push_back("removed " + key);
        }
    }
    return problems;
}

const std::set<std::string>& RefusedSetters() {
    static const std::set<std::string> setters{
        "setSnapName",         "setArrayName",    "setStatus",       "setRevertedDevicePath",
        "setMappedDevicePath", "setSnapMetadata", "setSnapEngineId", "setSnapTransientMetadata",
        "setSnapFlags"};
    return setters;
}

// One operation at one width: one request at a time, or the default.
struct NetAppSlice {
    NetAppOperation operation;
    size_t width = 1;
};

class NetAppFaultMatrix : public enginetest::NetAppEngineTest,
                          public ::testing::WithParamInterface<NetAppSlice> {
protected:
    RunOutcome RunCase(const NetAppOperation& operation, const FaultClass* fault,
                       const RequestKind* kind) {
        emu_->reset();
        emu_->setSettings(azemu::Settings{});
        // Failed requests are retried at once, as everywhere in the engine's tests.
        UseSettings("[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n" +
                    WidthSetting(GetParam().width));
        std::unique_ptr<kxtest::TestHost> host = SetUpFor(operation.before);
        RunOutcome outcome;
        outcome.before = TakeInventory(emu_->state());
        emu_->clearRequestLog();
        if (fault != nullptr && fault->scope == FaultScope::Host) {
            for (int16_t i = 0; i < host->count(); ++i) {
                host->Record(i).data().refuse = RefusedSetters();
            }
            outcome.hostRefused = true;
        } else if (fault != nullptr) {
            // One poll and then give up, so that an operation that never ends
            // costs one poll interval (the least the array settings allow).
            // Rows whose operations take a while poll a few times more.
            const bool busy = fault->operationDelayMs > 0;
            for (int16_t i = 0; i < host->count(); ++i) {
                host->Record(i).data().config["SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY"] = busy ? 8 : 2;
                host->Record(i).data().config["SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY"] = 1;
            }
            if (busy) {
                azemu::Settings slow;
                slow.asyncOperationDelayMs = fault->operationDelayMs;
                emu_->setSettings(slow);
            }
            emu_->injectFault(FaultFor(*fault, *kind));
        }
        outcome.result = Run(operation.run, *host);
        for (const azemu::FaultInfo& info : emu_->faults()) {
            outcome.faultFired = outcome.faultFired || info.fired > 0;
        }
        outcome.faultFired = outcome.faultFired || outcome.hostRefused;
        log_ = emu_->requestLog();
        emu_->clearFaults();
        // Judged once every operation Azure took has ended.
        emu_->completePending();
        outcome.after = TakeInventory(emu_->state());
        for (int16_t i = 0; i < host->count(); ++i) {
            const kxsnap::RecordData& data = host->Record(i).data();
            RecordView view;
            view.status = data.status;
            view.errorCode = data.errorCode;
            view.errorText = data.errorText;
            view.snapName = data.snapName.value_or(data.snapUuid.value_or(""));
            view.mappedDevice = data.mappedDevicePath;
            outcome.records.push_back(view);
        }
        return outcome;
    }

    std::unique_ptr<kxtest::TestHost> SetUpFor(NetAppBefore before) {
        if (before == NetAppBefore::BackedUp || before == NetAppBefore::Mapped) {
            auto backup = Backup();
            auto host = LaterJob(*backup);
            if (before == NetAppBefore::Mapped) {
                EXPECT_EQ(0, Run(kxso_mapSnaps, *host));
            }
            return host;
        }
        auto host = ExportHost();
        if (before != NetAppBefore::Exports) {
            EXPECT_EQ(0, Run(kxso_prepareDevices, *host));
        }
        if (before == NetAppBefore::Snapped) {
            EXPECT_EQ(0, Run(kxso_snapDevices, *host));
        }
        return host;
    }

    void Check(const NetAppOperation& operation, const std::string& kind, const std::string& fault,
               const RunOutcome& outcome, MatrixReport& report) {
        report.AddRun(outcome.faultFired);
        for (const std::string& what : CheckNetAppRun(operation, outcome)) {
            report.Add({operation.name, kind, fault, what});
        }
    }

    std::vector<azemu::RequestRecord> log_;
};

void PrintTo(const NetAppSlice& slice, std::ostream* out) {
    *out << slice.operation.name << " / " << WidthName(slice.width);
}

TEST_P(NetAppFaultMatrix, EveryFailureLeavesDevicesAndVolumesConsistent) {
    const NetAppOperation& operation = GetParam().operation;
    const std::string width = WidthName(GetParam().width);
    // Nothing is tolerated here.
    MatrixReport report({});
    Check(operation, "-", "none", RunCase(operation, nullptr, nullptr), report);
    const std::vector<RequestKind> kinds = KindsSent(log_);
    std::string sent;
    for (const RequestKind& kind : kinds) {
        sent += " [" + kind.name + "]";
    }
    std::cout << "NetApp Files " << operation.name << " sends:" << sent << "\n";
    for (const RequestKind& kind : kinds) {
        if (!AimedAtWidth(kind, GetParam().width)) {
            continue;
        }
        for (const FaultClass& fault : FaultClasses()) {
            if (Applies(fault, kind)) {
                Check(operation, kind.name, fault.name, RunCase(operation, &fault, &kind), report);
            }
            for (const FaultClass& repeated : RepeatedWhileBusy(fault, kind)) {
                Check(operation, kind.name, repeated.name, RunCase(operation, &repeated, &kind),
                      report);
            }
        }
    }
    for (const FaultClass& fault : FaultClasses()) {
        if (fault.scope == FaultScope::Host) {
            Check(operation, "-", fault.name, RunCase(operation, &fault, nullptr), report);
        }
    }
    report.Print("NetApp Files, " + operation.name + " at " + width + ",");
    std::string listed;
    for (const Violation& violation : report.Unexpected()) {
        listed += "\n  " + Describe(violation);
    }
    EXPECT_TRUE(report.Unexpected().empty()) << "at " << width << ":" << listed;
}

// Every operation one request at a time; those that send side by side at the
// default width too.
std::vector<NetAppSlice> NetAppSlices() {
    std::vector<NetAppSlice> slices;
    for (const NetAppOperation& operation : NetAppOperations()) {
        for (size_t width : Widths()) {
            if (width == 1 || operation.sideBySide) {
                slices.push_back({operation, width});
            }
        }
    }
    return slices;
}

std::string SliceName(const ::testing::TestParamInfo<NetAppSlice>& info) {
    std::string name;
    for (char c : info.param.operation.name) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name + WidthSuffix(info.param.width);
}

INSTANTIATE_TEST_SUITE_P(NetAppFiles, NetAppFaultMatrix, ::testing::ValuesIn(NetAppSlices()),
                         SliceName);

}  // namespace
}  // namespace faultmatrix
