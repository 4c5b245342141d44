// One kxsnap invocation against the catalogue: runs plug-in jobs on catalogue
// snapshots, writes each job's log file, shows live progress or the plug-in's
// lines as they arrive, and stores what the job left in the records.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kxsnap/Catalog.h"
#include "kxsnap/JobRunner.h"
#include "kxsnap/PluginLoader.h"
#include "kxsnap/Targets.h"

namespace kxsnap {

struct SessionOptions {
    std::string catalogPath;  // empty: Catalog::DefaultPath()
    std::string pluginPath;   // empty: DefaultPluginPath()
    int busyTimeoutMs = 5000;
    bool readOnly = false;  // list and show: nothing is created, migrated or written
    bool verbose = false;   // the plug-in's log lines on standard error, live
    bool progress = false;  // a live status line (only on a terminal)
    bool progressLines = false;  // else the plug-in's steps, a line each, on standard error
    bool announceJobs = false;   // "kxsnap: job N ... log PATH" on standard error at each start
    // Array configuration values the host hands the plug-in on every record
    // (for example the NetApp Files progress interval).
    std::map<std::string, int> arrayConfig;
};

class JobLogFile;

// The kxsnap command a job serves; it decides the plug-in operations and how
// the outcome reads in the catalogue.
enum class Command { kBackup, kMount, kUnmount, kRevert, kDelete, kReconcile };
const char* CommandName(Command command);  // "backup", "mount", ...

struct JobReport {
    int64_t jobId = 0;
    Command command = Command::kBackup;
    SnapKind kind = SnapKind::kManagedDisk;
    int result = 0;
    std::vector<OperationResult> results;
    std::vector<CatalogEntry> entries;  // as stored after the job (deleted ones included)
    std::string logPath;
    std::string cause;  // a failed job's cause from its log, e.g. "cannot reach URL: ..."
};

class Session {
public:
    explicit Session(SessionOptions options);
    ~Session();

    Catalog& catalog() { return *catalog_; }
    const SessionOptions& options() const { return options_; }

    // New catalogue entries for a backup of these targets (names, UUIDs, the
    // record's source device and snapshot name); stored when the job starts.
    std::vector<CatalogEntry> NewSnapshots(const std::vector<std::string>& targets);
    std::vector<CatalogEntry> NewSnapshots(const std::vector<BackupTarget>& targets);

    // Runs `command` on the entries, one job per plug-in path, in the order the
    // kinds first appear. Each job marks its snapshots busy when it starts:
    // `check` sees each row as stored then and refuses it by throwing. Throws
    // EnvironmentError when the plug-in cannot be loaded or the catalogue
    // cannot be written (RefusedError when a snapshot is busy).
    std::vector<JobReport> Run(Command command, std::vector<CatalogEntry> entries,
                               const Catalog::EntryCheck& check = nullptr);

private:
    JobReport RunOneJob(Command command, SnapKind kind, std::vector<CatalogEntry> entries,
                        const Catalog::EntryCheck& check);
    void FinishJob(const JobReport& report, const std::vector<CatalogEntry>& entries,
                   JobLogFile& logFile);
    std::string CatalogFolder() const;
    const Plugin& LoadedPlugin();
    std::string LogPathTemplate() const;

    SessionOptions options_;
    std::unique_ptr<Catalog> catalog_;
    std::unique_ptr<Plugin> plugin_;
};

// The worst of several results: any 1 gives 1, else any 2 gives 2, else 0.
int CombinedResult(const std::vector<JobReport>& reports);

}  // namespace kxsnap
