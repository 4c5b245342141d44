#include "kxsnap/Session.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>

#include "kxsnap/Errors.h"
#include "kxsnap/FailureCause.h"
#include "kxsnap/JobFile.h"
#include "kxsnap/Progress.h"
#include "kxsnap/Targets.h"
#include "kxsnap/VmLock.h"

namespace kxsnap {

namespace {

constexpr int kFinishBusyTimeoutMs = 60000;

std::vector<std::string> OperationsFor(Command command) {
    switch (command) {
        case Command::kBackup:
            return {"kxso_prepareDevices", "kxso_snapDevices", "kxso_postSnapDevices"};
        case Command::kMount:
            return {"kxso_mapSnaps"};
        case Command::kUnmount:
            return {"kxso_unmapSnaps"};
        case Command::kRevert:
            return {"kxso_revertSnaps"};
        case Command::kDelete:
            return {"kxso_deleteSnaps"};
        case Command::kReconcile:
            return {"kxso_reconcileSnaps"};
    }
    return {};
}

const char* ProgressTitle(Command command, SnapKind kind) {
    bool disk = kind == SnapKind::kManagedDisk;
    switch (command) {
        case Command::kBackup:
            return disk ? "Backing up managed disks" : "Backing up NetApp Files volumes";
        case Command::kMount:
            return disk ? "Attaching disks made from snapshots" : "Creating clone volumes";
        case Command::kUnmount:
            return disk ? "Detaching and deleting snapshot disks" : "Deleting clone volumes";
        case Command::kRevert:
            return disk ? "Replacing source disks" : "Reverting volumes";
        case Command::kDelete:
            return "Deleting snapshots";
        case Command::kReconcile:
            return "Reconciling snapshots";
    }
    return "Working";
}

bool Succeeded(int result, const RecordData& record) {
    return result == KXSO::RESULT_SUCCESS && record.errorCode == 0;
}

// kxsnap's one-word summary of a snapshot after a job, from the record the
// plug-in left and the job's result.
std::string StateAfter(Command command, int result, const CatalogEntry& entry) {
    const RecordData& record = entry.record;
    switch (command) {
        case Command::kBackup:
            return result == KXSO::RESULT_SUCCESS ? "ready" : "failed";
        case Command::kMount:
            if (record.status == KXSO::SNAP_STATUS_MAPPED || Succeeded(result, record))
                return "mounted";
            if (record.status == KXSO::SNAP_STATUS_ATTACHED_NO_DEVICE)
                return "attached";
            return entry.state;
        case Command::kUnmount:
        case Command::kRevert:
            if (record.status == KXSO::SNAP_STATUS_UNMAPPED ||
                record.status == KXSO::SNAP_STATUS_REVERTED || Succeeded(result, record))
                return "ready";
            return entry.state;
        case Command::kDelete:
            return record.status == KXSO::SNAP_STATUS_DELETED ? "deleted" : entry.state;
        case Command::kReconcile:
            return record.status == KXSO::SNAP_STATUS_DELETED_EXTERNALLY ? "gone" : entry.state;
    }
    return entry.state;
}

// Before the job: a service's journal shows which job runs and where its log
// grows, however long Azure takes.
void AnnounceJob(const JobReport& report) {
    fprintf(stderr, "kxsnap: job %lld started (%s, %s); log %s\n",
            static_cast<long long>(report.jobId), CommandName(report.command),
            KindName(report.kind), report.logPath.c_str());
    fflush(stderr);
}

std::string TimeStamp() {
    time_t now = time(nullptr);
    struct tm parts;
    gmtime_r(&now, &parts);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace

const char* CommandName(Command command) {
    switch (command) {
        case Command::kBackup:
            return "backup";
        case Command::kMount:
            return "mount";
        case Command::kUnmount:
            return "unmount";
        case Command::kRevert:
            return "revert";
        case Command::kDelete:
            return "delete";
        case Command::kReconcile:
            return "reconcile";
    }
    return "?";
}

int CombinedResult(const std::vector<JobReport>& reports) {
    int combined = KXSO::RESULT_SUCCESS;
    for (const auto& report : reports) {
        if (report.result == KXSO::RESULT_FAILURE || report.result < 0 || report.result > 2)
            return KXSO::RESULT_FAILURE;
        if (report.result == KXSO::RESULT_PARTIAL)
            combined = KXSO::RESULT_PARTIAL;
    }
    return combined;
}

Session::Session(SessionOptions options) : options_(std::move(options)) {
    if (options_.catalogPath.empty())
        options_.catalogPath = Catalog::DefaultPath();
    catalog_ =
        std::make_unique<Catalog>(options_.catalogPath, options_.busyTimeoutMs,
                                  options_.readOnly ? CatalogMode::kReadOnly : CatalogMode::kWrite);
}

Session::~Session() = default;

const Plugin& Session::LoadedPlugin() {
    if (!plugin_) {
        auto plugin = std::make_unique<Plugin>();
        std::string error;
        std::string path = options_.pluginPath.empty() ? DefaultPluginPath() : options_.pluginPath;
        if (!plugin->Load(path, error))
            throw EnvironmentError(error);
        plugin_ = std::move(plugin);
    }
    return *plugin_;
}

std::string Session::CatalogFolder() const {
    std::string folder = std::filesystem::path(catalog_->Path()).parent_path().string();
    return folder.empty() ? "." : folder;
}

std::string Session::LogPathTemplate() const {
    return CatalogFolder() + "/logs/job-{job}.log";
}

std::vector<CatalogEntry> Session::NewSnapshots(const std::vector<std::string>& targets) {
    std::vector<BackupTarget> resolved;
    for (const std::string& given : targets)
        resolved.push_back(ResolveTarget(given));
    return NewSnapshots(resolved);
}

std::vector<CatalogEntry> Session::NewSnapshots(const std::vector<BackupTarget>& targets) {
    std::vector<CatalogEntry> entries;
    for (const BackupTarget& target : targets) {
        CatalogEntry entry;
        entry.uuid = NewUuid();
        entry.name = SnapshotName(target.label, entry.uuid);
        entry.kind = target.kind;
        entry.target = target.given;
        entry.state = "backing up";
        entry.record.sourceDevicePath = target.sourceDevicePath;
        entry.record.snapName = entry.name;
        entry.record.snapUuid = entry.uuid;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<JobReport> Session::Run(Command command, std::vector<CatalogEntry> entries,
                                    const Catalog::EntryCheck& check) {
    // A plug-in call serves one path only: the first record decides it.
    std::vector<SnapKind> order;
    for (const auto& entry : entries) {
        if (std::find(order.begin(), order.end(), entry.kind) == order.end())
            order.push_back(entry.kind);
    }
    LoadedPlugin();
    std::vector<JobReport> reports;
    for (SnapKind kind : order) {
        std::vector<CatalogEntry> ofKind;
        for (const auto& entry : entries) {
            if (entry.kind == kind)
                ofKind.push_back(entry);
        }
        reports.push_back(RunOneJob(command, kind, std::move(ofKind), check));
    }
    return reports;
}

// The job's log file. A log that cannot be written (disk full, folder
// read-only) is reported as such; the job goes on.
class JobLogFile {
public:
    explicit JobLogFile(const std::string& path) : path_(path) {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
        file_ = fopen(path.c_str(), "ae");
        if (!file_)
            error_ = errno;
    }
    ~JobLogFile() {
        if (file_)
            fclose(file_);
    }

    void Line(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!file_)
            return;
        std::string line = TimeStamp() + " " + text + "\n";
        if (fwrite(line.data(), 1, line.size(), file_) != line.size() || fflush(file_) != 0) {
            if (error_ == 0)
                error_ = errno;
        }
    }

    bool Failed() const { return error_ != 0; }
    std::string Problem() const {
        return "job log " + path_ + " could not be written: " + strerror(error_);
    }

private:
    std::string path_;
    FILE* file_ = nullptr;
    int error_ = 0;
    std::mutex mutex_;
};

namespace {

bool NeedsVmLock(Command command, SnapKind kind) {
    return kind == SnapKind::kManagedDisk &&
           (command == Command::kMount || command == Command::kUnmount ||
            command == Command::kRevert);
}

// The records the plug-in gets: as stored, without an earlier operation's error.
Job MakeJob(int64_t jobId, Command command, SnapKind kind, const std::vector<CatalogEntry>& entries,
            const std::map<std::string, int>& arrayConfig) {
    Job job;
    job.jobId = jobId;
    job.operations = OperationsFor(command);
    for (const auto& entry : entries) {
        RecordData record = entry.record;
        record.errorCode = 0;
        record.errorText.clear();
        record.statusHistory.clear();
        // The flag picks the plug-in's path: a NetApp Files row always takes
        // it, even when the job that would have set it never finished.
        if (kind == SnapKind::kNetAppFiles)
            record.snapFlags |= KXSO::SNAP_FLAG_CLOUD_SNAP;
        for (const auto& item : arrayConfig)
            record.config[item.first] = item.second;
        job.records.push_back(std::move(record));
    }
    return job;
}

std::vector<RecordData> RecordsOf(const std::vector<CatalogEntry>& entries) {
    std::vector<RecordData> records;
    for (const auto& entry : entries)
        records.push_back(entry.record);
    return records;
}

}  // namespace

void Session::FinishJob(const JobReport& report, const std::vector<CatalogEntry>& entries,
                        JobLogFile& logFile) {
    try {
        // Azure has changed by now: wait longer for a busy catalogue than
        // before the job, rather than lose what the plug-in reported.
        catalog_->SetBusyTimeout(std::max(options_.busyTimeoutMs, kFinishBusyTimeoutMs));
        catalog_->FinishJob(report.jobId, report.result, entries,
                            report.command == Command::kDelete);
    } catch (const EnvironmentError& error) {
        std::string records = JobOutputToJson(report.results, RecordsOf(entries), {})
                                  .dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
        logFile.Line("records after the job, not stored in the catalogue:\n" + records);
        // Standard output is the one place left that surely takes them.
        std::cout << records << std::endl;
        std::string where = logFile.Failed() ? "; the " + logFile.Problem() + " either"
                                             : " and in " + report.logPath;
        throw EnvironmentError(std::string(error.what()) + "; job " + std::to_string(report.jobId) +
                               "'s records were not stored in the catalogue: they are printed on "
                               "standard output" +
                               where);
    }
}

JobReport Session::RunOneJob(Command command, SnapKind kind, std::vector<CatalogEntry> entries,
                             const Catalog::EntryCheck& check) {
    // Fail before Azure is touched when the outcome could not be recorded.
    catalog_->CheckWritable();
    JobReport report;
    report.command = command;
    report.kind = kind;
    report.jobId = catalog_->StartJob(CommandName(command), LogPathTemplate(), entries,
                                      command == Command::kBackup, check);
    // Taken once the snapshots are marked busy, so that a second command on
    // one of them is refused at once rather than queued behind this one.
    std::unique_ptr<VmLock> vmLock;
    if (NeedsVmLock(command, kind)) {
        try {
            vmLock = std::make_unique<VmLock>(CatalogFolder() + "/vm.lock", options_.busyTimeoutMs);
        } catch (const EnvironmentError&) {
            catalog_->FinishJob(report.jobId, KXSO::RESULT_FAILURE, entries, false);
            throw;
        }
    }
    for (const auto& job : catalog_->Jobs()) {
        if (job.jobId == report.jobId)
            report.logPath = job.logPath;
    }
    if (options_.announceJobs)
        AnnounceJob(report);

    Job job = MakeJob(report.jobId, command, kind, entries, options_.arrayConfig);

    JobLogFile logFile(report.logPath);
    logFile.Line("job " + std::to_string(report.jobId) + ": kxsnap " + CommandName(command) + " (" +
                 KindName(kind) + ")");
    JobProgress progress(options_.progress, options_.verbose, options_.progressLines);
    FailureCause cause;
    auto listener = [&](const LogEntry& entry) {
        logFile.Line(FormatLogLine(entry));
        cause.Observe(entry);
        progress.OnLogLine(entry);
    };
    // What the plug-in wrote is stored after every operation: a job killed in
    // the next one still leaves the names, flags and metadata that find its
    // snapshots in Azure.
    auto store = [&](const OperationResult& result, const std::vector<RecordData>& records) {
        logFile.Line(result.operation + " answered " + std::to_string(result.result));
        for (size_t i = 0; i < entries.size(); ++i) {
            entries[i].record = records[i];
            entries[i].record.transientMetadata.clear();
        }
        try {
            catalog_->StoreRecords(entries);
        } catch (const EnvironmentError& error) {
            logFile.Line(std::string("records not stored after ") + result.operation + ": " +
                         error.what());
        }
    };
    progress.Start(ProgressTitle(command, kind));
    JobOutcome outcome =
        RunJob(LoadedPlugin(), job, listener, catalog_->Arrays(), LogLines::kStreamOnly, store);
    progress.Stop();

    report.result = outcome.lastResult;
    report.results = outcome.results;
    if (report.result != KXSO::RESULT_SUCCESS)
        report.cause = cause.Summary();
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].record = outcome.records[i];
        entries[i].record.transientMetadata.clear();
        entries[i].state = StateAfter(command, report.result, entries[i]);
    }
    FinishJob(report, entries, logFile);
    logFile.Line("job " + std::to_string(report.jobId) + " ended with result " +
                 std::to_string(report.result));
    if (logFile.Failed())
        std::cerr << "kxsnap: warning: " << logFile.Problem() << std::endl;
    report.entries = std::move(entries);
    return report;
}

}  // namespace kxsnap
