// The managed-disk fault matrix: each operation, through the real exports and
// real TLS against the in-process emulator, once cleanly and then once for
// every kind of request it sent in the clean run times every fault class.
// After each run the records, the result and the emulator's resources must
// tell one consistent story.
#include <algorithm>
#include <cctype>
#include <regex>

#include <gtest/gtest.h>

#include "DiskInvariants.h"
#include "FaultMatrix.h"
#include "drivers/DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace faultmatrix {
namespace {

// No pause between polls; a wait of 0 s ends an operation that never ends
// after its first full second, the least the settings allow.
constexpr const char* kMatrixSettings =
    "[Ferrolink]\n"
    "nAzureRESTAPIReqPollIntervalSecs=0\n"
    "nAzureRESTAPIReqWaitTimeSecs=0\n"
    "nAzureWaitTimeForDeviceRefresh=0\n";

// Rows whose operations take a while (Azure still working when an answer is
// lost) need a wait that outlasts them.
constexpr const char* kBusyMatrixSettings =
    "[Ferrolink]\n"
    "nAzureRESTAPIReqPollIntervalSecs=0\n"
    "nAzureRESTAPIReqWaitTimeSecs=5\n"
    "nAzureWaitTimeForDeviceRefresh=0\n";

// Long enough that a device never shows up while the operation looks for it.
constexpr int kDeviceNeverMs = 10 * 60 * 1000;

// What must exist before the operation runs, brought about without faults.
enum class Before { Devices, Prepared, Snapped, BackedUp, Mapped };

struct DiskOperation {
    std::string name;
    drivertest::Export run;
    bool perDevice = false;
    Before before = Before::Devices;
    DiskRules rules;
    // Its requests for the records go out side by side, so the matrix runs
    // it again at the default width as well as one request at a time.
    bool sideBySide = false;
};

DiskRules Rules(int upFront, int success, std::set<int> results, std::set<int> codes) {
    DiskRules rules;
    rules.upFront = upFront;
    rules.success = success;
    rules.results = std::move(results);
    rules.errorCodes = std::move(codes);
    return rules;
}

std::vector<DiskOperation> DiskOperations() {
    std::vector<DiskOperation> operations;
    DiskRules prepare = Rules(2, 1, {0, 1}, {62008, 62001});
    operations.push_back({"prepare", kxso_prepareDevices, false, Before::Devices, prepare});
    DiskRules snap = Rules(6, 5, {0, 1}, {60001, 62001});
    snap.creates = DiskCreates::Snapshots;
    operations.push_back({"snapshot", kxso_snapDevices, false, Before::Prepared, snap, true});
    DiskRules post = Rules(6, 6, {0, 1}, {60001});
    operations.push_back(
        {"post-snapshot", kxso_postSnapDevices, false, Before::Snapped, post, true});
    for (bool perDevice : {false, true}) {
        const std::string mode = perDevice ? " per device" : " bulk";
        DiskRules map = Rules(11, 12, {0, 1}, {62009});
        map.creates = DiskCreates::CloneDisks;
        map.bulk = !perDevice;
        // Per device, each call handles one record: nothing to send side by side.
        operations.push_back(
            {"map" + mode, kxso_mapSnaps, perDevice, Before::BackedUp, map, !perDevice});
        DiskRules unmap =
            Rules(15, 14, perDevice ? std::set<int>{0, 1} : std::set<int>{0, 1, 2}, {62010});
        unmap.removesClones = true;
        unmap.judgedByWhatRemains = !perDevice;
        unmap.bulk = !perDevice;
        operations.push_back(
            {"unmap" + mode, kxso_unmapSnaps, perDevice, Before::Mapped, unmap, !perDevice});
        DiskRules revert = Rules(23, 22, {0, 1}, {60005});
        revert.creates = DiskCreates::RevertDisks;
        revert.detachesSources = true;
        revert.bulk = !perDevice;
        operations.push_back(
            {"revert" + mode, kxso_revertSnaps, perDevice, Before::BackedUp, revert, !perDevice});
    }
    DiskRules remove = Rules(21, 20, {0, 1, 2}, {60004});
    remove.deletesSnapshots = true;
    operations.push_back({"delete", kxso_deleteSnaps, false, Before::BackedUp, remove, true});
    DiskRules reconcile = Rules(0, 0, {1}, {});
    reconcile.fixedResult = true;
    operations.push_back({"reconcile", kxso_reconcileSnaps, false, Before::BackedUp, reconcile});
    return operations;
}

KnownViolation Known(const std::string& operation, const std::string& kind,
                     const std::string& fault, const std::string& what, const std::string& reason,
                     bool byDesign = false) {
    return {operation, kind, fault, what, reason, byDesign};
}

// What the matrix tolerates, each with why: only what the drivers are meant
// to do. A violation found in the code is fixed, not listed.
std::vector<KnownViolation> KnownDiskViolations() {
    std::vector<KnownViolation> known{
        Known("delete", "snapshot delete", "*", "still exists",
              "a deletion is not awaited and Azure's 404 means gone: the record trusts Azure",
              true),
        Known("delete", "snapshot delete", "async never ends", "changed snapshot:",
              "the deletion Azure accepted is still running when the call returns", true),
        Known("snapshot", "snapshot create", "HTML body with 200", "does not exist",
              "the snapshot PUT's answer is not read; post-snapshot, which every backup runs "
              "next, fails the record (BackupTest covers the pair)",
              true),
    };
    for (const char* mode : {" bulk", " per device"}) {
        const std::string map = std::string("map") + mode;
        const std::string unmap = std::string("unmap") + mode;
        known.push_back(Known(unmap, "disk delete", "*", "remains, detached",
                              "deletion failures during unmap are only logged; the detached "
                              "disk stays",
                              true));
        known.push_back(Known(map, "VM update", "async never ends", "left unattached disk",
                              "Azure still holds the disk for the attach it never finished and "
                              "refuses its deletion (409); its name follows from the record "
                              "(snapshot name + _CLONE), so a later map reports it attached "
                              "and a later unmap removes it",
                              true));
    }
    return known;
}

// The setters a refusing host answers with failure; errors and log lines
// still get through, so that the plug-in can say what went wrong.
const std::set<std::string>& RefusedSetters() {
    static const std::set<std::string> setters{
        "setSnapName",         "setArrayName",    "setStatus",       "setRevertedDevicePath",
        "setMappedDevicePath", "setSnapMetadata", "setSnapEngineId", "setSnapTransientMetadata",
        "setSnapFlags"};
    return setters;
}

class DiskFaultMatrix : public drivertest::DriverTest {
protected:
    // One run: fresh emulator state, the set-up, the fault, the operation.
    RunOutcome Run(const DiskOperation& operation, const FaultClass* fault,
                   const RequestKind* kind) {
        emu_->reset();
        emu_->setSettings(azemu::Settings{});
        settings_.reset();
        const bool busy = fault != nullptr && fault->operationDelayMs > 0;
        settings_ = std::make_unique<kxtest::ScopedSettings>(
            std::string(busy ? kBusyMatrixSettings : kMatrixSettings) + WidthSetting(width_) +
            (operation.perDevice ? drivertest::kPerDevice : ""));
        std::unique_ptr<kxtest::TestHost> host = SetUpFor(operation.before);
        RunOutcome outcome;
        outcome.before = TakeInventory(emu_->state());
        emu_->clearRequestLog();
        Inject(fault, kind, *host, outcome);
        if (busy) {
            azemu::Settings slow;
            slow.asyncOperationDelayMs = fault->operationDelayMs;
            emu_->setSettings(slow);
        }
        outcome.result = operation.run(host->devices(), host->count(), host->util());
        for (const azemu::FaultInfo& info : emu_->faults()) {
            outcome.faultFired = outcome.faultFired || info.fired > 0;
        }
        log_ = emu_->requestLog();
        emu_->clearFaults();
        // Judged once every operation Azure took has ended: an update still
        // running when the call returned changes the VM afterwards.
        emu_->completePending();
        outcome.after = TakeInventory(emu_->state());
        for (int16_t i = 0; i < host->count(); ++i) {
            outcome.records.push_back(ViewOf(host->Record(i).data()));
        }
        return outcome;
    }

    void Inject(const FaultClass* fault, const RequestKind* kind, kxtest::TestHost& host,
                RunOutcome& outcome) {
        if (fault == nullptr) {
            return;
        }
        if (fault->scope == FaultScope::Attach) {
            azemu::Settings slow;
            slow.deviceDelayMs = kDeviceNeverMs;
            emu_->setSettings(slow);
            outcome.faultFired = true;
        } else if (fault->scope == FaultScope::Host) {
            for (int16_t i = 0; i < host.count(); ++i) {
                host.Record(i).data().refuse = RefusedSetters();
            }
            outcome.hostRefused = true;
            outcome.faultFired = true;
        } else {
            emu_->injectFault(FaultFor(*fault, *kind));
        }
    }

    std::unique_ptr<kxtest::TestHost> SetUpFor(Before before) {
        const std::vector<std::string> devices{"/dev/sdc", "/dev/sdd"};
        if (before == Before::BackedUp || before == Before::Mapped) {
            auto backup = Backup(devices);
            auto host = SnapshotHost(*backup, 21);
            if (before == Before::Mapped) {
                EXPECT_EQ(kxso_mapSnaps(host->devices(), host->count(), host->util()), 0);
                for (int16_t i = 0; i < host->count(); ++i) {
                    host->Record(i).ClearError();
                }
            }
            return host;
        }
        auto host = DeviceHost(devices);
        if (before != Before::Devices) {
            EXPECT_EQ(kxso_prepareDevices(host->devices(), host->count(), host->util()), 0);
        }
        if (before == Before::Snapped) {
            EXPECT_EQ(kxso_snapDevices(host->devices(), host->count(), host->util()), 0);
        }
        return host;
    }


    void Check(const DiskOperation& operation, const std::string& kind, const std::string& fault,
               const RunOutcome& outcome, MatrixReport& report) {
        report.AddRun(outcome.faultFired);
        for (const std::string& what : CheckDiskRun(operation.rules, outcome)) {
            report.Add({operation.name, kind, fault, what});
        }
    }

    std::vector<azemu::RequestRecord> log_;
    // How many requests of one call may be under way at once, set-up included.
    size_t width_ = 1;
};

// Each operation runs as two tests, so that each stays well inside the
// suite's time limit: Azure's error answers, and everything else.
enum class Half { ErrorAnswers, TransportAsyncAndHost };

bool InHalf(const FaultClass& fault, Half half) {
    const bool errorAnswer =
        fault.action == azemu::FaultAction::Error && fault.scope == FaultScope::AnyRequest;
    return errorAnswer == (half == Half::ErrorAnswers);
}

struct MatrixSlice {
    DiskOperation operation;
    Half half;
    size_t width = 1;
};

void PrintTo(const MatrixSlice& slice, std::ostream* out) {
    *out << slice.operation.name
         << (slice.half == Half::ErrorAnswers ? " / error answers" : " / other faults") << " / "
         << WidthName(slice.width);
}

class DiskFaultMatrixSlice : public DiskFaultMatrix,
                             public ::testing::WithParamInterface<MatrixSlice> {};

TEST_P(DiskFaultMatrixSlice, EveryFailureLeavesRecordsAndResourcesConsistent) {
    const DiskOperation& operation = GetParam().operation;
    const Half half = GetParam().half;
    width_ = GetParam().width;
    MatrixReport report(KnownDiskViolations());
    Check(operation, "-", "none", Run(operation, nullptr, nullptr), report);
    const std::vector<RequestKind> kinds = KindsSent(log_);
    ASSERT_FALSE(kinds.empty() && !operation.rules.fixedResult) << "the clean run sent nothing";
    std::string sent;
    for (const RequestKind& kind : kinds) {
        sent += " [" + kind.name + "]";
    }
    std::cout << operation.name << " sends:" << sent << "\n";
    for (const RequestKind& kind : kinds) {
        if (!AimedAtWidth(kind, width_)) {
            continue;
        }
        for (const FaultClass& fault : FaultClasses()) {
            if (InHalf(fault, half) && Applies(fault, kind)) {
                Check(operation, kind.name, fault.name, Run(operation, &fault, &kind), report);
            }
            for (const FaultClass& repeated : RepeatedWhileBusy(fault, kind)) {
                if (InHalf(fault, half)) {
                    Check(operation, kind.name, repeated.name, Run(operation, &repeated, &kind),
                          report);
                }
            }
        }
    }
    const bool attaches = operation.rules.creates == DiskCreates::CloneDisks ||
                          operation.rules.creates == DiskCreates::RevertDisks;
    for (const FaultClass& fault : FaultClasses()) {
        const bool whole =
            (fault.scope == FaultScope::Attach && attaches) || fault.scope == FaultScope::Host;
        if (whole && InHalf(fault, half)) {
            Check(operation, "-", fault.name, Run(operation, &fault, nullptr), report);
        }
    }
    report.Print("managed disks, " + operation.name + " at " + WidthName(width_) + ",");
    std::string listed;
    for (const Violation& violation : report.Unexpected()) {
        listed += "\n  " + Describe(violation);
    }
    EXPECT_TRUE(report.Unexpected().empty()) << "at " << WidthName(width_) << ":" << listed;
}

// Every operation one request at a time; those that send side by side at the
// default width too.
std::vector<MatrixSlice> Slices() {
    std::vector<MatrixSlice> slices;
    for (const DiskOperation& operation : DiskOperations()) {
        for (size_t width : Widths()) {
            if (width == 1 || operation.sideBySide) {
                slices.push_back({operation, Half::ErrorAnswers, width});
                slices.push_back({operation, Half::TransportAsyncAndHost, width});
            }
        }
    }
    return slices;
}

std::string SliceName(const ::testing::TestParamInfo<MatrixSlice>& info) {
    std::string name;
    for (char c : info.param.operation.name) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name + (info.param.half == Half::ErrorAnswers ? "_ErrorAnswers" : "_OtherFaults") +
           WidthSuffix(info.param.width);
}

INSTANTIATE_TEST_SUITE_P(ManagedDisks, DiskFaultMatrixSlice, ::testing::ValuesIn(Slices()),
                         SliceName);

}  // namespace
}  // namespace faultmatrix

namespace faultmatrix {
namespace {

// The checker itself must catch what it is there for, or the matrix proves
// nothing.
RunOutcome MapRunWithLeftovers() {
    RunOutcome run;
    run.result = 1;
    RecordView failed;
    failed.status = 11;
    failed.errorCode = 62009;
    failed.errorText = "Failed to map";
    failed.snapName = "snap-sdc";
    RecordView untouched = failed;
    untouched.errorCode = 0;
    untouched.errorText.clear();
    untouched.snapName = "snap-sdd";
    run.records = {failed, untouched};
    run.before["disk:spare"] = {{"sku", "Standard_LRS"}};
    run.after["disk:spare"] = {{"sku", "Premium_LRS"}};
    run.after["disk:snap-sdd_CLONE"] = azemu::Json::object();
    run.after["attach:snap-sdd_CLONE"] = {{"lun", 4}};
    run.after["disk:snap-sdc_CLONE"] = azemu::Json::object();
    return run;
}

bool Mentions(const std::vector<std::string>& problems, const std::string& text) {
    return std::any_of(problems.begin(), problems.end(), [&](const std::string& problem) {
        return problem.find(text) != std::string::npos;
    });
}

TEST(DiskInvariantsTest, LeftoversBystandersAndSilentResultsAreCaught) {
    DiskRules map = Rules(11, 12, {0, 1}, {62009});
    map.creates = DiskCreates::CloneDisks;
    const std::vector<std::string> problems = CheckDiskRun(map, MapRunWithLeftovers());
    EXPECT_TRUE(Mentions(problems, "left disk:snap-sdd_CLONE behind for record 1"));
    EXPECT_TRUE(Mentions(problems, "left unattached disk snap-sdc_CLONE"));
    EXPECT_TRUE(Mentions(problems, "changed disk:spare"));

    RunOutcome silent = MapRunWithLeftovers();
    silent.after = silent.before;
    silent.records[0].errorCode = 0;
    silent.records[0].errorText.clear();
    EXPECT_TRUE(Mentions(CheckDiskRun(map, silent), "no record says what failed"));
    silent.result = 0;
    silent.records[1].errorCode = 62009;
    silent.records[1].errorText = "Failed";
    EXPECT_TRUE(Mentions(CheckDiskRun(map, silent), "result 0 although a record carries"));
}

TEST(RequestKindTest, KindsFollowWhatARequestDoesNotItsUrl) {
    azemu::RequestRecord request;
    request.listener = "https";
    request.method = "PUT";
    request.path =
        "/subscriptions/s/resourceGroups/rg/providers/Microsoft.NetApp/netAppAccounts/a"
        "/capacityPools/p/volumes/KXClone-x";
    request.body = R"({"properties": {"snapshotId": "1"}})";
    EXPECT_EQ(ClassifyRequest(request).name, "volume clone");
    request.path += "/snapshots/s1";
    request.body = "{}";
    EXPECT_EQ(ClassifyRequest(request).name, "volume snapshot create");
    request.path = "/subscriptions/s/resourceGroups/rg/providers/Microsoft.Compute/snapshots/s1";
    const RequestKind snapshot = ClassifyRequest(request);
    EXPECT_EQ(snapshot.name, "snapshot create");
    EXPECT_TRUE(snapshot.startsOperation);
    // The fault aimed at a Compute snapshot must miss NetApp Files snapshots.
    EXPECT_FALSE(std::regex_search(
        "/x/providers/Microsoft.NetApp/netAppAccounts/a/capacityPools/p/volumes/v/snapshots/s1",
        std::regex(snapshot.pathRegex, std::regex::icase)));
    request.method = "GET";
    request.path = "/subscriptions/s/providers/Microsoft.Compute/locations/w/operations/42";
    EXPECT_EQ(ClassifyRequest(request).name, "async status");
    request.listener = "http";
    request.path = "/metadata/identity/oauth2/token";
    EXPECT_EQ(ClassifyRequest(request).name, "token");
}

}  // namespace
}  // namespace faultmatrix
