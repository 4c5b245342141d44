// kxsnap demo: a whole managed-disk lifecycle and a whole NetApp Files
// lifecycle on a local Azure emulator, narrated for a newcomer, through the
// same catalogue jobs the everyday subcommands run. Each step is a small
// function; a failing step says so, the rest of its lifecycle is skipped and
// the demo ends non-zero.
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kxsnap/Commands.h"
#include "kxsnap/DemoEmulator.h"
#include "kxsnap/DemoScenarios.h"
#include "kxsnap/Errors.h"
#include "kxsnap/Output.h"
#include "kxsnap/PluginLoader.h"
#include "kxsnap/Progress.h"
#include "kxsnap/Session.h"

namespace kxsnap {

namespace {

// Short waits: the emulator answers at once, so the plug-in polls briefly.
constexpr const char* kDemoSettings =
    "[Ferrolink]\n"
    "nAzureRESTAPIReqPollIntervalSecs=1\n"
    "nAzureRESTAPIReqWaitTimeSecs=60\n"
    "nAzureWaitTimeForDeviceRefresh=10\n";

struct StepOutcome {
    std::string lifecycle;
    std::string step;
    std::string result;  // "ok", "FAILED", "skipped"
    std::string detail;
};

void Say(const std::string& text = "") {
    std::cout << text << std::endl;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

class Demo {
public:
    Demo(const DemoOptions& options, std::string sandbox)
        : options_(options), sandbox_(std::move(sandbox)) {}
    ~Demo() { CleanUp(); }

    int Run();

private:
    using Step = std::pair<std::string, std::function<bool(std::string&)>>;

    bool PrepareSandbox(std::string& error);
    void CleanUp();
    void RunLifecycle(const std::string& name, const std::vector<Step>& steps);
    bool StartEmulator(const std::string& name, const std::string& scenario, std::string& detail);
    bool RunJob(Command command, const std::vector<CatalogEntry>& entries, JobReport& report,
                std::string& detail);
    void ShowSnapshots(const std::vector<CatalogEntry>& entries);
    void Refresh(const JobReport& report);
    void PrintSummary();

    // Managed disks.
    bool StartDiskAzure(std::string& detail);
    bool BackupDisks(std::string& detail);
    bool MountDisks(std::string& detail);
    bool UnmountDisks(std::string& detail);
    bool RevertDisk(std::string& detail);
    bool DeleteSnapshots(std::string& detail);
    // NetApp Files.
    bool StartNetAppAzure(std::string& detail);
    bool BackupExports(std::string& detail);
    bool MountClones(std::string& detail);
    bool UnmountClones(std::string& detail);
    bool RevertVolumes(std::string& detail);
    bool Reconcile(std::string& detail);

    DemoOptions options_;
    std::string sandbox_;
    std::string emulatorProgram_;
    std::unique_ptr<EmulatorProcess> emulator_;
    std::unique_ptr<Session> session_;
    std::string root_;
    std::vector<CatalogEntry> snapshots_;  // the current lifecycle's snapshots
    std::vector<StepOutcome> outcomes_;
    std::string lifecycle_;
};

bool Demo::PrepareSandbox(std::string& error) {
    WriteText(sandbox_ + "/settings.ini", kDemoSettings);
    setenv("KXSO_SETTINGS_FILE", (sandbox_ + "/settings.ini").c_str(), 1);
    setenv("KXSO_LOG_FILE", (sandbox_ + "/plugin.log").c_str(), 1);
    emulatorProgram_ =
        options_.emulatorPath.empty() ? FindEmulatorProgram() : options_.emulatorPath;
    if (emulatorProgram_.empty()) {
        error = "azure-emulator was not found beside kxsnap, in " + InstalledHelperDirectory() +
                " (install the emulator component) or on PATH";
        return false;
    }
    // Both are needed by every step: find out now, not one lifecycle in.
    if (access(emulatorProgram_.c_str(), X_OK) != 0) {
        error = "the Azure emulator " + emulatorProgram_ + " is missing or not executable";
        return false;
    }
    Plugin plugin;
    std::string pluginPath =
        options_.pluginPath.empty() ? DefaultPluginPath() : options_.pluginPath;
    if (!plugin.Load(pluginPath, error))
        return false;
    // udevadm settle waits for the emulator's device events through its stand-in.
    std::string standIn = FindUdevadmStandInFolder(emulatorProgram_);
    if (!standIn.empty()) {
        const char* path = getenv("PATH");
        setenv("PATH", (standIn + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    }
    SessionOptions session;
    session.catalogPath = sandbox_ + "/catalog.db";
    session.pluginPath = options_.pluginPath;
    session.verbose = options_.verbose;
    session.progress = CanDrawStatusLine();
    session.arrayConfig["SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY"] = 1;
    session.arrayConfig["SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY"] = 60;
    try {
        session_ = std::make_unique<Session>(session);
    } catch (const EnvironmentError& failure) {
        error = failure.what();
        return false;
    }
    return true;
}

void Demo::CleanUp() {
    if (emulator_)
        emulator_->Stop();
    emulator_.reset();
    session_.reset();
}

void Demo::RunLifecycle(const std::string& name, const std::vector<Step>& steps) {
    lifecycle_ = name;
    snapshots_.clear();
    Say();
    Say("=== " + name + " ===");
    bool failed = false;
    for (const auto& step : steps) {
        if (failed) {
            outcomes_.push_back({name, step.first, "skipped", "an earlier step failed"});
            continue;
        }
        Say();
        Say("--- " + step.first);
        std::string detail;
        bool ok = false;
        try {
            ok = step.second(detail);
        } catch (const std::exception& error) {
            detail = error.what();
        }
        if (!ok) {
            Say("FAILED: " + detail);
            failed = true;
        }
        outcomes_.push_back({name, step.first, ok ? "ok" : "FAILED", detail});
    }
    if (emulator_)
        emulator_->Stop();
    emulator_.reset();
}

bool Demo::StartEmulator(const std::string& name, const std::string& scenario,
                         std::string& detail) {
    std::string folder = sandbox_ + "/" + name;
    std::filesystem::create_directories(folder);
    WriteText(folder + "/scenario.json", scenario);
    root_ = folder + "/vm-root";
    emulator_ = std::make_unique<EmulatorProcess>();
    if (!emulator_->Start(emulatorProgram_, folder + "/scenario.json", root_,
                          folder + "/emulator.err", detail))
        return false;
    emulator_->ExportEnvironment();
    Say("Azure emulator listening on " + emulator_->Endpoints().value("arm", std::string()) +
        " (Resource Manager) and " + emulator_->Endpoints().value("imds", std::string()) +
        " (instance metadata); the VM's device tree lives in " + root_);
    return true;
}

bool Demo::RunJob(Command command, const std::vector<CatalogEntry>& entries, JobReport& report,
                  std::string& detail) {
    std::vector<JobReport> reports = session_->Run(command, entries);
    if (reports.empty()) {
        detail = "no job ran";
        return false;
    }
    report = reports.front();
    for (const auto& result : report.results)
        Say("  " + result.operation + " answered " + std::to_string(result.result));
    if (report.result != 0) {
        std::vector<std::string> lines = FailureLines(report);
        for (const auto& line : lines)
            Say("  error: " + line);
        detail = "job " + std::to_string(report.jobId) + " ended with result " +
                 std::to_string(report.result) + (lines.empty() ? "" : ": " + lines.front());
        return false;
    }
    return true;
}

void Demo::Refresh(const JobReport& report) {
    for (auto& snapshot : snapshots_) {
        for (const auto& entry : report.entries) {
            if (entry.snapId == snapshot.snapId)
                snapshot = entry;
        }
    }
}

void Demo::ShowSnapshots(const std::vector<CatalogEntry>& entries) {
    std::string table = FormatCatalogTable(entries);
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line))
        Say("  " + line);
}

// --- Managed disks -------------------------------------------------------------

bool Demo::StartDiskAzure(std::string& detail) {
    Say("A VM with four managed data disks at LUNs 0-3; Linux sees them as " +
        std::string("/dev/sdc, /dev/sdd, /dev/sde and /dev/sdf."));
    return StartEmulator("managed-disks", ManagedDiskScenario(), detail);
}

bool Demo::BackupDisks(std::string& detail) {
    Say("kxsnap backup /dev/sdc /dev/sdd /dev/sde /dev/sdf");
    Say("One job of three plug-in calls: prepare ties each device to its Azure disk by its LUN,");
    Say("snapshot asks Azure for one incremental snapshot per disk, and post-snapshot waits");
    Say("until Azure reports every snapshot \"Succeeded\".");
    std::vector<std::string> targets(std::begin(kManagedDiskDevices),
                                     std::end(kManagedDiskDevices));
    snapshots_ = session_->NewSnapshots(targets);
    JobReport report;
    bool ok = RunJob(Command::kBackup, snapshots_, report, detail);
    snapshots_ = report.entries;
    ShowSnapshots(snapshots_);
    if (ok)
        detail = std::to_string(snapshots_.size()) + " snapshots ready";
    return ok;
}

bool Demo::MountDisks(std::string& detail) {
    Say("kxsnap mount <all four>");
    Say("For each snapshot the plug-in creates a managed disk from it, attaches it to this VM");
    Say("at a free LUN and finds the Linux device that appears for it.");
    JobReport report;
    if (!RunJob(Command::kMount, snapshots_, report, detail))
        return false;
    Refresh(report);
    std::string devices;
    for (const auto& snapshot : snapshots_) {
        const std::string& device = snapshot.record.mappedDevicePath;
        bool present = !device.empty() && Exists(root_ + device);
        Say("  " + snapshot.target + " as it was at the backup -> " + device +
            (present ? " (present in the VM's /dev)" : " (NOT present in the VM's /dev)"));
        if (!present) {
            detail = snapshot.name + " reported device '" + device + "' that does not exist";
            return false;
        }
        devices += (devices.empty() ? "" : " ") + device;
    }
    detail = "new devices " + devices;
    return true;
}

bool Demo::UnmountDisks(std::string& detail) {
    Say("kxsnap unmount --yes <all four>   (deletes the disks and what was written to them)");
    Say("The disks made by mount are detached from the VM and deleted.");
    std::vector<std::string> devices;
    for (const auto& snapshot : snapshots_)
        devices.push_back(snapshot.record.mappedDevicePath);
    JobReport report;
    if (!RunJob(Command::kUnmount, snapshots_, report, detail))
        return false;
    Refresh(report);
    for (const auto& device : devices) {
        if (!device.empty() && Exists(root_ + device)) {
            detail = device + " is still present after unmount";
            return false;
        }
    }
    Say("  the devices are gone again");
    detail = "devices removed";
    return true;
}

bool Demo::RevertDisk(std::string& detail) {
    const CatalogEntry& first = snapshots_.front();
    Say("kxsnap revert --yes " + first.name);
    Say("Revert replaces the VM's disk behind " + first.target + " with a new disk made from");
    Say("the snapshot: the current disk is detached, the new one attached in its place.");
    JobReport report;
    if (!RunJob(Command::kRevert, {first}, report, detail))
        return false;
    Refresh(report);
    const std::string& device = report.entries.front().record.revertedDevicePath;
    Say("  the disk behind " + first.target + " was replaced; the new disk made from the " +
        "snapshot appears as " + device);
    detail = first.target + " reverted, new device " + device;
    return !device.empty();
}

bool Demo::DeleteSnapshots(std::string& detail) {
    Say("kxsnap delete <all>");
    Say("The snapshots are deleted in Azure; the catalogue forgets each one only after the");
    Say("plug-in reported it deleted.");
    JobReport report;
    if (!RunJob(Command::kDelete, snapshots_, report, detail))
        return false;
    size_t left = 0;
    for (const auto& entry : session_->catalog().All()) {
        for (const auto& snapshot : snapshots_)
            left += entry.snapId == snapshot.snapId;
    }
    if (left != 0) {
        detail = std::to_string(left) + " snapshots are still in the catalogue";
        return false;
    }
    Say("  the catalogue no longer lists them");
    detail = std::to_string(snapshots_.size()) + " snapshots deleted";
    return true;
}

// --- NetApp Files ----------------------------------------------------------------

bool Demo::StartNetAppAzure(std::string& detail) {
    Say("A VM that mounts two Azure NetApp Files volumes over NFS:");
    Say("  10.20.1.4:/sales on /mnt/sales and 10.20.1.4:/builds on /mnt/builds");
    if (!StartEmulator("netapp-files", NetAppScenario(), detail))
        return false;
    std::filesystem::create_directories(root_ + "/proc");
    WriteText(root_ + "/proc/mounts", NetAppMounts());
    return true;
}

bool Demo::BackupExports(std::string& detail) {
    Say("kxsnap backup /mnt/sales /mnt/builds");
    Say("kxsnap reads /proc/mounts to name each export; prepare finds the volume behind it");
    Say("(subscriptions, resource groups, network interfaces, capacity pools), snapshot asks");
    Say("NetApp Files for a volume snapshot and post-snapshot follows each operation to its end.");
    std::vector<std::string> targets(std::begin(kNetAppMountPoints), std::end(kNetAppMountPoints));
    snapshots_ = session_->NewSnapshots(targets);
    JobReport report;
    bool ok = RunJob(Command::kBackup, snapshots_, report, detail);
    snapshots_ = report.entries;
    ShowSnapshots(snapshots_);
    if (ok)
        detail = std::to_string(snapshots_.size()) + " volume snapshots ready";
    return ok;
}

bool Demo::MountClones(std::string& detail) {
    Say("kxsnap mount <both>");
    Say("Each snapshot becomes a new clone volume with its own export path.");
    JobReport report;
    if (!RunJob(Command::kMount, snapshots_, report, detail))
        return false;
    Refresh(report);
    std::string paths;
    for (const auto& snapshot : snapshots_) {
        const std::string& path = snapshot.record.mappedDevicePath;
        Say("  " + snapshot.target + " as it was at the backup -> mount -t nfs " + path);
        if (path.find(":/") == std::string::npos) {
            detail = snapshot.name + " has no export path";
            return false;
        }
        paths += (paths.empty() ? "" : " ") + path;
    }
    detail = "clones exported at " + paths;
    return true;
}

bool Demo::UnmountClones(std::string& detail) {
    Say("kxsnap unmount --yes <both>   (deletes the clone volumes and what was written to them)");
    Say("The clone volumes are deleted.");
    JobReport report;
    if (!RunJob(Command::kUnmount, snapshots_, report, detail))
        return false;
    Refresh(report);
    detail = "clones deleted";
    return true;
}

bool Demo::RevertVolumes(std::string& detail) {
    Say("kxsnap revert --yes <both>");
    Say("Each volume is rolled back to its snapshot in place: its export path stays the same.");
    JobReport report;
    if (!RunJob(Command::kRevert, snapshots_, report, detail))
        return false;
    Refresh(report);
    for (const auto& snapshot : snapshots_)
        Say("  " + snapshot.target + " now holds what it held at " + ShortTime(snapshot.takenAt) +
            " UTC");
    detail = "both volumes reverted";
    return true;
}

bool Demo::Reconcile(std::string& detail) {
    Say("kxsnap reconcile");
    Say("Asks NetApp Files whether each catalogued snapshot still exists; one deleted outside");
    Say("kxsnap would be marked \"gone\".");
    JobReport report;
    if (!RunJob(Command::kReconcile, snapshots_, report, detail))
        return false;
    Refresh(report);
    size_t gone = 0;
    for (const auto& snapshot : snapshots_)
        gone += snapshot.state == "gone";
    Say("  " + std::to_string(snapshots_.size() - gone) + " present, " + std::to_string(gone) +
        " gone");
    detail = std::to_string(snapshots_.size() - gone) + " present";
    return true;
}

void Demo::PrintSummary() {
    Say();
    Say("=== Summary ===");
    std::vector<std::vector<std::string>> rows{{"LIFECYCLE", "STEP", "RESULT", "DETAIL"}};
    for (const auto& outcome : outcomes_)
        rows.push_back({outcome.lifecycle, outcome.step, outcome.result, outcome.detail});
    std::cout << FormatTable(rows);
}

int Demo::Run() {
    Say("kxsnap demo: the Azure snapshot plug-in, driven the way a backup host drives it,");
    Say("against a local Azure emulator on 127.0.0.1 with a throw-away catalogue.");
    std::string error;
    if (!PrepareSandbox(error)) {
        std::cerr << "kxsnap: demo cannot start: " << error << std::endl;
        return kExitUnusableJob;
    }
    using namespace std::placeholders;
    auto step = [this](const char* name, bool (Demo::*body)(std::string&)) {
        return Step{name, std::bind(body, this, _1)};
    };
    RunLifecycle("managed disks",
                 {step("start Azure", &Demo::StartDiskAzure), step("backup", &Demo::BackupDisks),
                  step("mount", &Demo::MountDisks), step("unmount", &Demo::UnmountDisks),
                  step("revert", &Demo::RevertDisk), step("delete", &Demo::DeleteSnapshots)});
    RunLifecycle("NetApp Files",
                 {step("start Azure", &Demo::StartNetAppAzure),
                  step("backup", &Demo::BackupExports), step("mount", &Demo::MountClones),
                  step("unmount", &Demo::UnmountClones), step("revert", &Demo::RevertVolumes),
                  step("reconcile", &Demo::Reconcile), step("delete", &Demo::DeleteSnapshots)});
    PrintSummary();
    bool allOk = true;
    for (const auto& outcome : outcomes_)
        allOk = allOk && outcome.result == "ok";
    Say(allOk ? "Every step succeeded." : "Some steps FAILED (see above).");
    return allOk ? 0 : 1;
}

volatile sig_atomic_t demoChild = 0;

void ForwardToDemo(int signal) {
    if (demoChild > 0)
        kill(demoChild, signal);
}

// The demo runs in a child process so that the sandbox is removed however the
// demo ends: finished, failed, interrupted with Ctrl-C or cut off by a closed
// pipe. Its emulators die with it (they are its children, bound to it).
int RunInChild(const DemoOptions& options, const std::string& sandbox) {
    fflush(stdout);
    pid_t child = fork();
    if (child < 0)
        return Demo(options, sandbox).Run();
    if (child == 0) {
        int status = Demo(options, sandbox).Run();
        std::cout.flush();
        _exit(status);
    }
    demoChild = child;
    signal(SIGINT, SIG_IGN);  // the terminal sends it to the child too
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTERM, ForwardToDemo);
    signal(SIGHUP, ForwardToDemo);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    demoChild = 0;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int DemoCommand(const DemoOptions& options) {
    std::string sandbox = std::filesystem::temp_directory_path().string() + "/kxsnap-demo-XXXXXX";
    if (mkdtemp(sandbox.data()) == nullptr) {
        std::cerr << "kxsnap: demo cannot start: cannot create a sandbox folder under "
                  << std::filesystem::temp_directory_path().string() << std::endl;
        return kExitUnusableJob;
    }
    int status = RunInChild(options, sandbox);
    if (options.keep) {
        std::cout << "Sandbox kept in " << sandbox << std::endl;
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(sandbox, ignored);
    }
    return status;
}

}  // namespace kxsnap
