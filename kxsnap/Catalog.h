// The snapshot catalogue: every snapshot kxsnap took, with every record field
// a host keeps between jobs, in one SQLite file, so that a snapshot taken
// today can be mounted, reverted or deleted next month by another process.
//
// Writes are transactional. A job starts in one transaction that numbers it,
// writes a backup's new rows and sets a busy mark on every snapshot it works
// on; what the plug-in wrote to the records is stored after every operation
// (an interrupted job loses at most the operation it was in); the outcome is
// stored, and the busy marks cleared, when the job ends. A row is removed only
// when the plug-in reported it deleted. A busy mark whose process is gone
// tells that a command was interrupted: after an interrupted mount, unmount
// or revert nobody knows what is attached, so the row reads
// "unknown (interrupted mount)" until unmount or reconcile resolves it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kxsnap/HostRecord.h"
#include "kxsnap/SqliteDb.h"

namespace kxsnap {

enum class CatalogMode { kWrite, kReadOnly };

// The two plug-in paths a snapshot belongs to; one job never mixes them.
enum class SnapKind { kManagedDisk, kNetAppFiles };
const char* KindName(SnapKind kind);  // "disk", "netapp"

// The process working on a snapshot. The process's start time (from
// /proc/PID/stat) tells a live owner from a reused process id.
struct BusyMark {
    int64_t jobId = 0;
    int64_t pid = 0;
    int64_t startTime = 0;
    std::string command;
};

struct CatalogEntry {
    int64_t snapId = 0;
    std::string name;  // what people type; the record's own snapName may differ
    std::string uuid;
    SnapKind kind = SnapKind::kManagedDisk;
    std::string target;   // as the user named it: /dev/sdc, /mnt/data, 10.0.0.4:/vol
    std::string takenAt;  // UTC, ISO 8601
    int64_t backupJob = 0;
    int64_t lastJob = 0;
    std::string state;             // kxsnap's summary: ready, mounted, failed, gone, ...
    RecordData record;             // transient metadata, refusals and history are never stored
    std::optional<BusyMark> busy;  // a live job working on it
};

// The state a row takes when the command that marked it busy was interrupted,
// or "" when nothing is unknown after it (backup, delete, reconcile).
std::string InterruptedState(const std::string& command);
bool IsUnknownState(const std::string& state);

// A snapshot another job is working on, or one whose state forbids the
// command. Exit status 3.
class RefusedError : public EnvironmentError {
public:
    explicit RefusedError(const std::string& message) : EnvironmentError(message) {}
};

// Whether a process still runs: its start time, 0 when it does not.
int64_t ProcessStartTime(int64_t pid);

struct JobInfo {
    int64_t jobId = 0;
    std::string command;
    std::string started;
    std::string finished;
    int64_t pid = 0;
    int result = -1;  // -1 while running, or when the job was interrupted
    std::string logPath;
};

class Catalog {
public:
    // $XDG_DATA_HOME/kxsnap/catalog.db, else ~/.local/share/kxsnap/catalog.db
    // with the home folder from HOME or, when unset, the password database.
    // Throws EnvironmentError when neither names one.
    static std::string DefaultPath();

    // Opens the catalogue, creating it (and its directory) when absent. A file
    // that is not a kxsnap catalogue is refused and left untouched. Read-only,
    // nothing is created or migrated, and a missing catalogue reads as empty.
    // A catalogue of an older schema is migrated on opening for writing.
    Catalog(const std::string& path, int busyTimeoutMs, CatalogMode mode = CatalogMode::kWrite);

    const std::string& Path() const { return path_; }
    void SetBusyTimeout(int milliseconds) { db_->SetBusyTimeout(milliseconds); }
    int SchemaVersion();

    std::vector<CatalogEntry> All();
    // Each name is a catalogue name, a snapshot id, a UUID or an unambiguous
    // prefix of a name. Throws UsageError for unknown or ambiguous names.
    std::vector<CatalogEntry> Resolve(const std::vector<std::string>& names);
    std::map<std::string, int> Arrays();
    std::vector<JobInfo> Jobs();

    // Takes the write lock once and releases it: fails early, before the
    // plug-in touches Azure, when the catalogue cannot be written.
    void CheckWritable();

    // Allocates a job number and records the job as running.
    int64_t BeginJob(const std::string& command, const std::string& logPath);
    // Gives new snapshots their ids and stores them, with the job, in one
    // transaction.
    void AddSnapshots(std::vector<CatalogEntry>& entries);
    // Stores the records as the job left them, the job's result and the
    // arrays the records were filed under; removes rows whose record says
    // deleted when `removeDeleted` is set.
    void FinishJob(int64_t jobId, int result, const std::vector<CatalogEntry>& entries,
                   bool removeDeleted);

    // Starts a job in one transaction: numbers it, stores new rows (backup)
    // or reads the named rows afresh, lets `check` refuse a row (it throws),
    // and marks every row busy with this process. A row a live job is working
    // on is refused with RefusedError naming that job; one whose job died
    // first takes its interrupted state. `entries` come back as stored.
    using EntryCheck = std::function<void(const CatalogEntry&)>;
    int64_t StartJob(const std::string& command, const std::string& logPath,
                     std::vector<CatalogEntry>& entries, bool newEntries,
                     const EntryCheck& check = nullptr);
    // Stores what the plug-in wrote to the records so far (one transaction).
    void StoreRecords(const std::vector<CatalogEntry>& entries);

private:
    static bool PrepareLocation(const std::string& path);
    bool IsEmptyDatabase();
    void CreateOrCheckSchema(bool fresh);
    void Migrate(int64_t from);
    std::vector<CatalogEntry> Query(const std::string& where, const std::string& argument);
    void LoadBusyMark(CatalogEntry& entry);
    void ResolveBusyMark(CatalogEntry& entry);
    void SetBusyMark(const CatalogEntry& entry, int64_t jobId, const std::string& command);
    void ClearBusyMark(int64_t snapId);
    void InsertEntry(const CatalogEntry& entry);
    void UpdateEntry(const CatalogEntry& entry);
    void StoreMetadata(const CatalogEntry& entry);
    int64_t InsertJob(const std::string& command, const std::string& logPath);
    bool HasBusyTable();
    void LoadMetadata(CatalogEntry& entry);
    void StoreArrays(const std::vector<CatalogEntry>& entries);
    int64_t NextNumber(const char* key);

    std::string path_;
    CatalogMode mode_;
    bool fresh_;
    std::unique_ptr<SqliteDb> db_;
};

}  // namespace kxsnap
