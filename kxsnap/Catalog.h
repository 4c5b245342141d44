// The snapshot catalogue: every snapshot kxsnap took, with every record field
// a host keeps between jobs, in one SQLite file, so that a snapshot taken
// today can be mounted, reverted or deleted next month by another process.
//
// Writes are transactional. A backup's rows are written before the plug-in is
// called (an interrupted backup leaves rows that `kxsnap delete` can retire);
// every job's outcome is written in one transaction after the plug-in
// returned; a row is removed only when the plug-in reported it deleted.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kxsnap/HostRecord.h"
#include "kxsnap/SqliteDb.h"

namespace kxsnap {

// The two plug-in paths a snapshot belongs to; one job never mixes them.
enum class SnapKind { kManagedDisk, kNetAppFiles };
const char* KindName(SnapKind kind);  // "disk", "netapp"

struct CatalogEntry {
    int64_t snapId = 0;
    std::string name;  // what people type; the record's own snapName may differ
    std::string uuid;
    SnapKind kind = SnapKind::kManagedDisk;
    std::string target;   // as the user named it: /dev/sdc, /mnt/data, 10.0.0.4:/vol
    std::string takenAt;  // UTC, ISO 8601
    int64_t backupJob = 0;
    int64_t lastJob = 0;
    std::string state;  // kxsnap's summary: ready, mounted, failed, gone, ...
    RecordData record;  // transient metadata, refusals and history are never stored
};

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
    // $XDG_DATA_HOME/kxsnap/catalog.db, else ~/.local/share/kxsnap/catalog.db.
    static std::string DefaultPath();

    // Opens the catalogue, creating it (and its directory) when absent. A file
    // that is not a kxsnap catalogue is refused and left untouched.
    Catalog(const std::string& path, int busyTimeoutMs);

    const std::string& Path() const { return db_.Path(); }
    void SetBusyTimeout(int milliseconds) { db_.SetBusyTimeout(milliseconds); }

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

private:
    static bool PrepareLocation(const std::string& path);
    bool IsEmptyDatabase();
    void CreateOrCheckSchema(bool fresh);
    std::vector<CatalogEntry> Query(const std::string& where, const std::string& argument);
    void LoadMetadata(CatalogEntry& entry);
    void StoreEntry(const CatalogEntry& entry);
    void StoreArrays(const std::vector<CatalogEntry>& entries);
    int64_t NextNumber(const char* key);

    bool fresh_;
    SqliteDb db_;
};

}  // namespace kxsnap
