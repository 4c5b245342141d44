#include "kxsnap/Catalog.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kxsnap {

namespace {

// 1: the first catalogue; 2: busy marks.
constexpr int64_t kSchemaVersion = 2;

// Metadata texts are stored data of the plug-in: kept as blobs, byte-exact.
// Idempotent, so that two kxsnap processes creating one catalogue both succeed.
const char* const kSchemaV1 = R"sql(
CREATE TABLE IF NOT EXISTS kxsnap_meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS arrays(array_id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS jobs(
  job_id INTEGER PRIMARY KEY, command TEXT NOT NULL, started TEXT NOT NULL,
  finished TEXT NOT NULL DEFAULT '', pid INTEGER NOT NULL, result INTEGER NOT NULL DEFAULT -1,
  log_path TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS snapshots(
  snap_id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, uuid TEXT NOT NULL UNIQUE,
  kind TEXT NOT NULL, target TEXT NOT NULL, taken_at TEXT NOT NULL,
  backup_job INTEGER NOT NULL, last_job INTEGER NOT NULL, state TEXT NOT NULL,
  source_device_path TEXT, snap_name TEXT, array_id INTEGER NOT NULL DEFAULT 0,
  array_name TEXT, snap_engine_id INTEGER NOT NULL DEFAULT 0,
  snap_flags INTEGER NOT NULL DEFAULT 0, snap_options INTEGER NOT NULL DEFAULT 0,
  clone_index INTEGER NOT NULL DEFAULT 0, status INTEGER NOT NULL DEFAULT 0,
  mapped_device_path TEXT NOT NULL DEFAULT '', reverted_device_path TEXT NOT NULL DEFAULT '',
  error_code INTEGER NOT NULL DEFAULT 0, error_text TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS metadata(
  snap_id INTEGER NOT NULL REFERENCES snapshots(snap_id) ON DELETE CASCADE,
  id INTEGER NOT NULL, value BLOB NOT NULL, PRIMARY KEY(snap_id, id));
INSERT OR IGNORE INTO kxsnap_meta VALUES('schema', 1), ('next_job', 1), ('next_snap', 1);
)sql";

// Schema 2: the job working on a snapshot, one row per busy snapshot.
const char* const kSchemaV2 = R"sql(
CREATE TABLE IF NOT EXISTS busy(
  snap_id INTEGER PRIMARY KEY REFERENCES snapshots(snap_id) ON DELETE CASCADE,
  job_id INTEGER NOT NULL, pid INTEGER NOT NULL, start_time INTEGER NOT NULL,
  command TEXT NOT NULL);
UPDATE kxsnap_meta SET value = 2 WHERE key = 'schema' AND value < 2;
)sql";

const char* const kEntryColumns =
    "snap_id, name, uuid, kind, target, taken_at, backup_job, last_job, state, "
    "source_device_path, snap_name, array_id, array_name, snap_engine_id, snap_flags, "
    "snap_options, clone_index, status, mapped_device_path, reverted_device_path, error_code, "
    "error_text";

std::string NowUtc() {
    time_t now = time(nullptr);
    struct tm parts;
    gmtime_r(&now, &parts);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::optional<std::string> OptionalText(const Statement& row, int column) {
    if (row.IsNull(column))
        return std::nullopt;
    return row.Text(column);
}

void BindOptional(Statement& statement, int index, const std::optional<std::string>& text) {
    if (text)
        statement.Bind(index, *text);
}

CatalogEntry ReadEntry(const Statement& row) {
    CatalogEntry entry;
    entry.snapId = row.Int(0);
    entry.name = row.Text(1);
    entry.uuid = row.Text(2);
    entry.kind = row.Text(3) == "netapp" ? SnapKind::kNetAppFiles : SnapKind::kManagedDisk;
    entry.target = row.Text(4);
    entry.takenAt = row.Text(5);
    entry.backupJob = row.Int(6);
    entry.lastJob = row.Int(7);
    entry.state = row.Text(8);
    RecordData& record = entry.record;
    record.sourceDevicePath = OptionalText(row, 9);
    record.snapName = OptionalText(row, 10);
    record.snapId = entry.snapId;
    record.arrayId = static_cast<int>(row.Int(11));
    record.arrayName = OptionalText(row, 12);
    record.snapEngineId = static_cast<short>(row.Int(13));
    // SQLite integers are signed; the flag word keeps all 64 bits through the cast.
    record.snapFlags = static_cast<uint64_t>(row.Int(14));
    record.snapOptions = static_cast<uint32_t>(row.Int(15));
    record.cloneIndex = static_cast<int>(row.Int(16));
    record.status = static_cast<int>(row.Int(17));
    record.mappedDevicePath = row.Text(18);
    record.revertedDevicePath = row.Text(19);
    record.errorCode = static_cast<int>(row.Int(20));
    record.errorText = row.Text(21);
    record.snapUuid = entry.uuid;
    return entry;
}

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

const char* KindName(SnapKind kind) {
    return kind == SnapKind::kNetAppFiles ? "netapp" : "disk";
}

namespace {

std::string HomeFolder() {
    const char* home = getenv("HOME");
    if (home && *home)
        return home;
    // Services and cron jobs often run without HOME: the password database
    // still knows the user's home folder.
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    throw EnvironmentError(
        "no home folder: HOME is not set and the user has no entry in the password "
        "database; name the catalogue with --catalog or set XDG_DATA_HOME");
}

}  // namespace

std::string Catalog::DefaultPath() {
    const char* dataHome = getenv("XDG_DATA_HOME");
    std::string base;
    if (dataHome && dataHome[0] == '/')
        base = dataHome;
    else
        base = HomeFolder() + "/.local/share";
    return base + "/kxsnap/catalog.db";
}

namespace {

// A catalogue is created only where nothing is: an empty or absent file.
bool IsFresh(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return true;
    return S_ISREG(info.st_mode) && info.st_size == 0;
}

void MakeParentDirectory(const std::string& path) {
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (parent.empty())
        return;
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    if (error)
        throw EnvironmentError("cannot create the catalogue's folder " + parent.string() + ": " +
                               error.message());
}

}  // namespace

bool Catalog::PrepareLocation(const std::string& path) {
    bool fresh = IsFresh(path);
    if (fresh)
        MakeParentDirectory(path);
    return fresh;
}

namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

}  // namespace

Catalog::Catalog(const std::string& path, int busyTimeoutMs, CatalogMode mode)
    : path_(path), mode_(mode) {
    if (mode_ == CatalogMode::kReadOnly) {
        // Nothing to read is an empty catalogue; reading creates nothing.
        fresh_ = !Exists(path) || IsFresh(path);
        db_ =
            std::make_unique<SqliteDb>(fresh_ ? ":memory:" : path, fresh_, busyTimeoutMs, !fresh_);
    } else {
        fresh_ = PrepareLocation(path);
        db_ = std::make_unique<SqliteDb>(path, fresh_, busyTimeoutMs);
    }
    CreateOrCheckSchema(fresh_ || IsEmptyDatabase());
    db_->Execute("PRAGMA foreign_keys = ON");
}

// A zero-length file SQLite has opened counts as fresh.
bool Catalog::IsEmptyDatabase() {
    Statement tables(*db_, "SELECT count(*) FROM sqlite_master");
    tables.Step();
    return tables.Int(0) == 0;
}

int Catalog::SchemaVersion() {
    Statement version(*db_, "SELECT value FROM kxsnap_meta WHERE key = 'schema'");
    return version.Step() ? static_cast<int>(version.Int(0)) : 0;
}

void Catalog::CreateOrCheckSchema(bool fresh) {
    if (fresh) {
        WriteTransaction transaction(*db_);
        db_->Execute(kSchemaV1);
        db_->Execute(kSchemaV2);
        transaction.Commit();
        return;
    }
    Statement check(*db_, "PRAGMA quick_check");
    if (!check.Step() || check.Text(0) != "ok")
        throw EnvironmentError("catalogue is damaged or not a kxsnap catalogue (" + Path() + ")");
    Statement ours(*db_, "SELECT count(*) FROM sqlite_master WHERE name = 'kxsnap_meta'");
    ours.Step();
    if (ours.Int(0) == 0)
        throw EnvironmentError("not a kxsnap catalogue (" + Path() + ")");
    int64_t version = SchemaVersion();
    if (version < 1 || version > kSchemaVersion) {
        throw EnvironmentError("catalogue " + Path() + " was written by a newer kxsnap (schema " +
                               std::to_string(version) + "; this kxsnap reads up to " +
                               std::to_string(kSchemaVersion) + ")");
    }
    if (version < kSchemaVersion && mode_ == CatalogMode::kWrite)
        Migrate(version);
}

// Brings an older catalogue up to date in one transaction: a failure leaves it
// as it was, readable by the kxsnap that wrote it.
void Catalog::Migrate(int64_t from) {
    WriteTransaction transaction(*db_);
    if (SchemaVersion() != from) {
        return;  // another kxsnap migrated it meanwhile
    }
    if (from < 2)
        db_->Execute(kSchemaV2);
    transaction.Commit();
}

bool Catalog::HasBusyTable() {
    Statement busy(*db_, "SELECT count(*) FROM sqlite_master WHERE name = 'busy'");
    busy.Step();
    return busy.Int(0) != 0;
}

std::vector<CatalogEntry> Catalog::Query(const std::string& where, const std::string& argument) {
    std::string sql =
        std::string("SELECT ") + kEntryColumns + " FROM snapshots " + where + " ORDER BY snap_id";
    Statement query(*db_, sql.c_str());
    if (!argument.empty())
        query.Bind(1, argument);
    std::vector<CatalogEntry> entries;
    while (query.Step())
        entries.push_back(ReadEntry(query));
    for (auto& entry : entries) {
        LoadMetadata(entry);
        LoadBusyMark(entry);
    }
    return entries;
}

void Catalog::LoadMetadata(CatalogEntry& entry) {
    Statement query(*db_, "SELECT id, value FROM metadata WHERE snap_id = ?1 ORDER BY id");
    query.Bind(1, entry.snapId);
    while (query.Step())
        entry.record.metadata[static_cast<int>(query.Int(0))] = query.Text(1);
}

std::vector<CatalogEntry> Catalog::All() {
    std::vector<CatalogEntry> entries = Query("", "");
    for (auto& entry : entries)
        ResolveBusyMark(entry);
    return entries;
}

std::vector<CatalogEntry> Catalog::Resolve(const std::vector<std::string>& names) {
    std::vector<CatalogEntry> all = All();
    std::vector<CatalogEntry> chosen;
    std::set<int64_t> seen;
    for (const std::string& name : names) {
        const CatalogEntry* exact = nullptr;
        std::vector<const CatalogEntry*> prefixed;
        for (const auto& entry : all) {
            if (entry.name == name || entry.uuid == name ||
                (IsDigits(name) && std::to_string(entry.snapId) == name)) {
                exact = &entry;
                break;
            }
            if (!name.empty() && entry.name.compare(0, name.size(), name) == 0)
                prefixed.push_back(&entry);
        }
        if (!exact && prefixed.size() == 1)
            exact = prefixed[0];
        if (!exact && prefixed.size() > 1) {
            throw UsageError("ambiguous snapshot name '" + name + "': it starts " +
                             std::to_string(prefixed.size()) + " names, e.g. " + prefixed[0]->name +
                             " and " + prefixed[1]->name);
        }
        if (!exact)
            throw UsageError("unknown snapshot '" + name + "' (see kxsnap list)");
        if (seen.insert(exact->snapId).second)
            chosen.push_back(*exact);
    }
    return chosen;
}

std::map<std::string, int> Catalog::Arrays() {
    Statement query(*db_, "SELECT name, array_id FROM arrays");
    std::map<std::string, int> arrays;
    while (query.Step())
        arrays[query.Text(0)] = static_cast<int>(query.Int(1));
    return arrays;
}

std::vector<JobInfo> Catalog::Jobs() {
    Statement query(*db_,
                    "SELECT job_id, command, started, finished, pid, result, log_path FROM jobs "
                    "ORDER BY job_id");
    std::vector<JobInfo> jobs;
    while (query.Step()) {
        jobs.push_back({query.Int(0), query.Text(1), query.Text(2), query.Text(3), query.Int(4),
                        static_cast<int>(query.Int(5)), query.Text(6)});
    }
    return jobs;
}

void Catalog::CheckWritable() {
    WriteTransaction transaction(*db_);
    db_->Execute("UPDATE kxsnap_meta SET value = value WHERE key = 'schema'");
    transaction.Commit();
}

int64_t Catalog::NextNumber(const char* key) {
    Statement read(*db_, "SELECT value FROM kxsnap_meta WHERE key = ?1");
    read.Bind(1, std::string(key));
    read.Step();
    int64_t number = read.Int(0);
    Statement bump(*db_, "UPDATE kxsnap_meta SET value = ?1 WHERE key = ?2");
    bump.Bind(1, number + 1).Bind(2, std::string(key)).Run();
    return number;
}

int64_t Catalog::InsertJob(const std::string& command, const std::string& logPath) {
    int64_t jobId = NextNumber("next_job");
    Statement insert(*db_,
                     "INSERT INTO jobs(job_id, command, started, pid, log_path) "
                     "VALUES(?1, ?2, ?3, ?4, ?5)");
    std::string path = logPath;
    size_t marker = path.find("{job}");
    if (marker != std::string::npos)
        path.replace(marker, 5, std::to_string(jobId));
    insert.Bind(1, jobId).Bind(2, command).Bind(3, NowUtc()).Bind(4, int64_t(getpid()));
    insert.Bind(5, path).Run();
    return jobId;
}

int64_t Catalog::BeginJob(const std::string& command, const std::string& logPath) {
    WriteTransaction transaction(*db_);
    int64_t jobId = InsertJob(command, logPath);
    transaction.Commit();
    return jobId;
}

void Catalog::AddSnapshots(std::vector<CatalogEntry>& entries) {
    WriteTransaction transaction(*db_);
    for (auto& entry : entries) {
        entry.snapId = NextNumber("next_snap");
        entry.record.snapId = entry.snapId;
        if (entry.takenAt.empty())
            entry.takenAt = NowUtc();
        InsertEntry(entry);
    }
    transaction.Commit();
}

int64_t Catalog::StartJob(const std::string& command, const std::string& logPath,
                          std::vector<CatalogEntry>& entries, bool newEntries,
                          const EntryCheck& check) {
    WriteTransaction transaction(*db_);
    int64_t jobId = InsertJob(command, logPath);
    for (auto& entry : entries) {
        if (newEntries) {
            entry.snapId = NextNumber("next_snap");
            entry.record.snapId = entry.snapId;
            if (entry.takenAt.empty())
                entry.takenAt = NowUtc();
            entry.backupJob = jobId;
            entry.lastJob = jobId;
            InsertEntry(entry);
        } else {
            std::vector<CatalogEntry> fresh =
                Query("WHERE snap_id = ?1", std::to_string(entry.snapId));
            if (fresh.empty())
                throw RefusedError("snapshot " + entry.name + " left the catalogue meanwhile");
            entry = std::move(fresh.front());
            ResolveBusyMark(entry);
            if (entry.busy) {
                throw RefusedError("snapshot " + entry.name + " is busy: job " +
                                   std::to_string(entry.busy->jobId) + " (kxsnap " +
                                   entry.busy->command + ", process " +
                                   std::to_string(entry.busy->pid) +
                                   ") is working on it; try again when it has finished");
            }
            if (check)
                check(entry);
            entry.lastJob = jobId;
            UpdateEntry(entry);
        }
        SetBusyMark(entry, jobId, command);
    }
    transaction.Commit();
    return jobId;
}

namespace {

const char* const kEntryValues =
    "?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, "
    "?21, ?22";

void BindEntry(Statement& store, const CatalogEntry& entry) {
    const RecordData& record = entry.record;
    store.Bind(1, entry.snapId).Bind(2, entry.name).Bind(3, entry.uuid);
    store.Bind(4, std::string(KindName(entry.kind))).Bind(5, entry.target).Bind(6, entry.takenAt);
    store.Bind(7, entry.backupJob).Bind(8, entry.lastJob).Bind(9, entry.state);
    BindOptional(store, 10, record.sourceDevicePath);
    BindOptional(store, 11, record.snapName);
    store.Bind(12, int64_t(record.arrayId));
    BindOptional(store, 13, record.arrayName);
    store.Bind(14, int64_t(record.snapEngineId)).Bind(15, static_cast<int64_t>(record.snapFlags));
    store.Bind(16, int64_t(record.snapOptions)).Bind(17, int64_t(record.cloneIndex));
    store.Bind(18, int64_t(record.status)).Bind(19, record.mappedDevicePath);
    store.Bind(20, record.revertedDevicePath).Bind(21, int64_t(record.errorCode));
    store.Bind(22, record.errorText);
}

}  // namespace

void Catalog::InsertEntry(const CatalogEntry& entry) {
    std::string sql =
        std::string("INSERT INTO snapshots(") + kEntryColumns + ") VALUES(" + kEntryValues + ")";
    Statement store(*db_, sql.c_str());
    BindEntry(store, entry);
    store.Run();
    StoreMetadata(entry);
}

// An update in place: replacing the row would take its busy mark and
// metadata with it, and a row another process removed stays removed.
void Catalog::UpdateEntry(const CatalogEntry& entry) {
    std::string sql = std::string("UPDATE snapshots SET (") + kEntryColumns + ") = (" +
                      kEntryValues + ") WHERE snap_id = ?1";
    Statement store(*db_, sql.c_str());
    BindEntry(store, entry);
    store.Run();
    if (sqlite3_changes(db_->Handle()) != 0)
        StoreMetadata(entry);
}

void Catalog::StoreMetadata(const CatalogEntry& entry) {
    Statement clear(*db_, "DELETE FROM metadata WHERE snap_id = ?1");
    clear.Bind(1, entry.snapId).Run();
    for (const auto& item : entry.record.metadata) {
        Statement insert(*db_, "INSERT INTO metadata(snap_id, id, value) VALUES(?1, ?2, ?3)");
        insert.Bind(1, entry.snapId).Bind(2, int64_t(item.first)).BindBlob(3, item.second).Run();
    }
}

void Catalog::StoreRecords(const std::vector<CatalogEntry>& entries) {
    WriteTransaction transaction(*db_);
    for (const auto& entry : entries)
        UpdateEntry(entry);
    StoreArrays(entries);
    transaction.Commit();
}

void Catalog::StoreArrays(const std::vector<CatalogEntry>& entries) {
    for (const auto& entry : entries) {
        if (entry.record.arrayId == 0 || !entry.record.arrayName)
            continue;
        Statement insert(*db_, "INSERT OR IGNORE INTO arrays(array_id, name) VALUES(?1, ?2)");
        insert.Bind(1, int64_t(entry.record.arrayId)).Bind(2, *entry.record.arrayName).Run();
    }
}

void Catalog::FinishJob(int64_t jobId, int result, const std::vector<CatalogEntry>& entries,
                        bool removeDeleted) {
    WriteTransaction transaction(*db_);
    for (const auto& entry : entries) {
        if (removeDeleted && entry.record.status == KXSO::SNAP_STATUS_DELETED) {
            Statement remove(*db_, "DELETE FROM snapshots WHERE snap_id = ?1");
            remove.Bind(1, entry.snapId).Run();
            continue;
        }
        UpdateEntry(entry);
        ClearBusyMark(entry.snapId);
    }
    StoreArrays(entries);
    Statement finish(*db_, "UPDATE jobs SET finished = ?1, result = ?2 WHERE job_id = ?3");
    finish.Bind(1, NowUtc()).Bind(2, int64_t(result)).Bind(3, jobId).Run();
    transaction.Commit();
}

// --- Busy marks -------------------------------------------------------------

std::string InterruptedState(const std::string& command) {
    if (command == "mount" || command == "unmount" || command == "revert")
        return "unknown (interrupted " + command + ")";
    return "";
}

bool IsUnknownState(const std::string& state) {
    return state.rfind("unknown", 0) == 0;
}

int64_t ProcessStartTime(int64_t pid) {
    // The machine's own processes: never under a test's device root.
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    std::vector<std::string> values;
    while (fields >> field)
        values.push_back(field);
    // values[0] is field 3 (state), values[19] field 22 (start time in clock ticks).
    if (values.size() < 20 || values[0] == "Z" || values[0] == "X")
        return 0;
    return std::strtoll(values[19].c_str(), nullptr, 10);
}

void Catalog::LoadBusyMark(CatalogEntry& entry) {
    entry.busy.reset();
    if (!HasBusyTable())
        return;
    Statement query(*db_, "SELECT job_id, pid, start_time, command FROM busy WHERE snap_id = ?1");
    query.Bind(1, entry.snapId);
    if (query.Step())
        entry.busy = BusyMark{query.Int(0), query.Int(1), query.Int(2), query.Text(3)};
}

// A mark whose process is gone is an interrupted command: the row takes the
// state that says so, and the mark goes.
void Catalog::ResolveBusyMark(CatalogEntry& entry) {
    if (!entry.busy)
        return;
    if (ProcessStartTime(entry.busy->pid) == entry.busy->startTime && entry.busy->startTime != 0)
        return;
    std::string interrupted = InterruptedState(entry.busy->command);
    if (!interrupted.empty())
        entry.state = interrupted;
    entry.busy.reset();
    if (mode_ == CatalogMode::kWrite && sqlite3_get_autocommit(db_->Handle()) == 0) {
        ClearBusyMark(entry.snapId);
        UpdateEntry(entry);
    }
}

void Catalog::SetBusyMark(const CatalogEntry& entry, int64_t jobId, const std::string& command) {
    Statement mark(*db_,
                   "INSERT OR REPLACE INTO busy(snap_id, job_id, pid, start_time, command) "
                   "VALUES(?1, ?2, ?3, ?4, ?5)");
    int64_t pid = getpid();
    mark.Bind(1, entry.snapId).Bind(2, jobId).Bind(3, pid).Bind(4, ProcessStartTime(pid));
    mark.Bind(5, command).Run();
}

void Catalog::ClearBusyMark(int64_t snapId) {
    Statement clear(*db_, "DELETE FROM busy WHERE snap_id = ?1");
    clear.Bind(1, snapId).Run();
}

}  // namespace kxsnap
