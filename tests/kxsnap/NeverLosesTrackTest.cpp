// kxsnap never loses track of what it made in Azure: a mounted snapshot is
// not forgotten by delete, two commands on one snapshot do not race, a job
// killed half-way leaves what the plug-in wrote so far, bad targets are
// refused before anything happens, nothing is pulled from under a mounted
// file system, and a failed write says what it is.
#include <pwd.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CommandsTestSupport.h"
#include "kxsnap/Catalog.h"
#include "kxsnap/DemoScenarios.h"

namespace kxsnaptest {
namespace {

using nlohmann::json;
using NeverLosesTrackTest = KxsnapCommandsTest;

TEST_F(NeverLosesTrackTest, AMountedSnapshotIsDeletedOnlyAfterItIsUnmounted) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    std::string name = Backup("/dev/sdc").at(0);
    std::string device = MountedDevice(name);

    Outcome refused = Kxsnap("delete " + name);
    EXPECT_EQ(3, refused.status);
    EXPECT_TRUE(Contains(refused.err, "it is mounted; unmount it first")) << refused.err;
    EXPECT_EQ(std::vector<std::string>{name}, ListedNames());
    EXPECT_TRUE(DevicePresent(*emu_, device)) << "the clone disk stays attached and known";

    // --force unmounts first, and never from under a mounted file system or a holder.
    AddMount(device + " /restore ext4 rw 0 0");
    Outcome inUse = Kxsnap("delete --force " + name);
    EXPECT_EQ(3, inUse.status);
    EXPECT_TRUE(Contains(inUse.err, device + " is mounted at /restore")) << inUse.err;
    kxtest::WriteFile(emu_->root() + "/proc/mounts", "");
    const std::string holder = emu_->root() + "/sys/block/" + device.substr(5) + "/holders/dm-3";
    kxtest::MakeDirs(holder);
    Outcome held = Kxsnap("delete --force " + name);
    EXPECT_EQ(3, held.status);
    EXPECT_TRUE(Contains(held.err, device + " is held by dm-3")) << held.err;
    rmdir(holder.c_str());
    Outcome forced = Kxsnap("delete --force " + name);
    EXPECT_EQ(0, forced.status) << forced.err;
    EXPECT_TRUE(Contains(forced.out, name + ": unmounted")) << forced.out;
    EXPECT_TRUE(Contains(forced.out, name + ": deleted")) << forced.out;
    EXPECT_FALSE(DevicePresent(*emu_, device));
    EXPECT_FALSE(emu_->resource(emu_->snapshotId(name)).has_value());
    EXPECT_TRUE(ListedNames().empty());
}

TEST_F(NeverLosesTrackTest, ABusySnapshotRefusesASecondCommandAndOneVmTakesOneMountAtATime) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    std::vector<std::string> names = Backup("/dev/sdc /dev/sdd");
    size_t disksBefore = emu_->dataDisks().size();
    Delay(*emu_, "PUT", "/disks/");
    pid_t first = StartKxsnap("mount " + names[0]);
    ASSERT_TRUE(WaitForRequest("PUT", "/disks/"));

    EXPECT_EQ(2, Entry(Json("list"), names[0])["busy"]["job"]) << "list shows who works on it";
    for (const char* command :
         {"unmount --yes ", "delete ", "mount ", "revert --yes ", "forget --yes "}) {
        Outcome busy = Kxsnap(command + names[0]);
        EXPECT_EQ(3, busy.status) << command << busy.err << busy.out;
        EXPECT_TRUE(Contains(busy.err, names[0] + " is busy: job 2 (kxsnap mount, process " +
                                           std::to_string(first) + ")"))
            << command << busy.err;
    }
    // Another snapshot mounts on the same VM once the first mount has ended.
    Outcome second = Kxsnap("--lock-timeout 30000 mount " + names[1]);
    EXPECT_EQ(0, second.status) << second.err;
    EXPECT_EQ(0, Wait(first));
    json list = Json("list");
    EXPECT_EQ("mounted", Entry(list, names[0])["state"]);
    EXPECT_EQ("mounted", Entry(list, names[1])["state"]);
    EXPECT_EQ(disksBefore + 2, emu_->dataDisks().size());
}

TEST_F(NeverLosesTrackTest, AnUnmountKilledMidwayIsResolvedByReconcile) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    std::string name = Backup("/dev/sdc").at(0);
    std::string device = MountedDevice(name);
    emu_->clearRequestLog();
    Delay(*emu_, "PUT", "virtualMachines");
    pid_t unmount = StartKxsnap("unmount --yes " + name);
    ASSERT_TRUE(WaitForRequest("PUT", "virtualMachines"));
    Kill(unmount);
    EXPECT_EQ("unknown (interrupted unmount)", Json("list")[0]["state"]);

    emu_->completePending();
    Outcome reconcile = Kxsnap("--lock-timeout 10000 reconcile");
    EXPECT_EQ(0, reconcile.status) << reconcile.err;
    EXPECT_TRUE(Contains(reconcile.out, name + ": resolved: unmounted")) << reconcile.out;
    EXPECT_EQ("ready", Json("list")[0]["state"]);
    EXPECT_FALSE(DevicePresent(*emu_, device));
}

TEST_F(NeverLosesTrackTest, ANetAppBackupKilledInPostSnapshotKeepsWhatThePluginWrote) {
    StartEmulator(kxsnap::NetAppScenario());
    AddMount(kxsnap::NetAppMounts());
    Delay(*emu_, "GET", "operation");
    pid_t backup = StartKxsnap(kFastNetApp + "backup /mnt/sales");
    ASSERT_TRUE(WaitForRequest("GET", "peration")) << "post-snapshot polls the operation";
    Kill(backup);

    {
        kxsnap::Catalog catalog(CatalogPath(), 1000);
        auto entries = catalog.All();
        ASSERT_EQ(1u, entries.size());
        EXPECT_EQ(kxsnap::SnapKind::kNetAppFiles, entries[0].kind);
        EXPECT_TRUE(entries[0].record.snapFlags & KXSO::SNAP_FLAG_CLOUD_SNAP);
        EXPECT_EQ(1u, entries[0].record.metadata.count(KXSO::METADATA_SNAPSHOT));
    }
    emu_->completePending();
    auto snapshotsOfSales = [this] {
        for (const auto& volume : emu_->netAppVolumes()) {
            if (volume.creationToken == "sales")
                return volume.snapshots.size();
        }
        return size_t(99);
    };
    ASSERT_EQ(1u, snapshotsOfSales());
    Outcome removed = Kxsnap(kFastNetApp + "delete " + ListedNames().at(0));
    EXPECT_EQ(0, removed.status) << removed.err;
    EXPECT_EQ(0u, snapshotsOfSales()) << "the volume snapshot is deleted in Azure";
    EXPECT_TRUE(ListedNames().empty());
}

TEST_F(NeverLosesTrackTest, ANetAppRowWithNothingRecordedIsKeptNotDeleted) {
    StartEmulator(kxsnap::NetAppScenario());
    AddMount(kxsnap::NetAppMounts());
    Delay(*emu_, "*", "netAppAccounts");
    pid_t backup = StartKxsnap(kFastNetApp + "backup /mnt/sales");
    ASSERT_TRUE(WaitForRequest("GET", "netAppAccounts"));
    Kill(backup);
    emu_->clearRequestLog();
    std::string name = ListedNames().at(0);
    Outcome kept = Kxsnap(kFastNetApp + "delete " + name);
    EXPECT_EQ(1, kept.status);
    EXPECT_TRUE(Contains(kept.err, name + ": kept: nothing was recorded")) << kept.err;
    EXPECT_FALSE(Contains(kept.out, "deleted")) << kept.out;
    EXPECT_EQ(std::vector<std::string>{name}, ListedNames());
    EXPECT_TRUE(emu_->requestLog().empty());
}

// Devices the plug-in would refuse, laid out beside the emulator's data disks.
void AddOddDevices(const std::string& root) {
    auto block = [&root](const std::string& name) {
        kxtest::MakeDirs(root + "/sys/block/" + name);
        kxtest::WriteFile(root + "/dev/" + name, "");
    };
    block("loop0");
    block("dm-0");
    kxtest::MakeDirs(root + "/sys/block/dm-0/slaves/sdc");
    kxtest::MakeDirs(root + "/sys/block/dm-0/slaves/sdd");
    block("sr0");
    kxtest::MakeDirs(root + "/sys/block/sr0/device/scsi_device/0:0:0:0");
    kxtest::WriteFile(root + "/sys/block/sr0/device/type", "5\n");
    kxtest::MakeDirs(root + "/sys/block/sde/sde1");
    kxtest::WriteFile(root + "/dev/sde1", "");
}

TEST_F(NeverLosesTrackTest, BadTargetsAreRefusedOneLineEachAndTheGoodOnesAreBackedUp) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    AddOddDevices(emu_->root());
    struct Case {
        std::string target;
        std::string reason;
    };
    std::vector<Case> refused{{"/dev/sda", "is the VM's OS disk"},
                              {"/dev/sdb", "is the VM's resource (temporary) disk"},
                              {"/dev/loop0", "is a loop device"},
                              {"/dev/dm-0", "(it is made of /dev/sdc, /dev/sdd)"},
                              {"/dev/sr0", "(optical drive), not a disk"},
                              {"/dev/sde1", "is a partition of /dev/sde"}};
    std::string targets = "/dev/sdd /dev/disk/azure/scsi1/lun1";
    for (const auto& bad : refused)
        targets += " " + bad.target;
    Outcome backup = Kxsnap("backup " + targets);
    EXPECT_EQ(64, backup.status);
    for (const auto& bad : refused) {
        EXPECT_TRUE(Contains(backup.err, "kxsnap: not backed up: " + bad.target + ": ") &&
                    Contains(backup.err, bad.reason))
            << bad.target << "\n"
            << backup.err;
    }
    EXPECT_TRUE(Contains(backup.err, "/dev/disk/azure/scsi1/lun1 is /dev/sdd, named already"));
    std::vector<std::string> names = ListedNames();
    ASSERT_EQ(1u, names.size()) << "the same disk named twice is snapshotted once";
    EXPECT_TRUE(emu_->resource(emu_->snapshotId(names[0])).has_value());
    EXPECT_TRUE(Contains(backup.out, names[0] + "  /dev/sdd  ready")) << backup.out;

    emu_->clearRequestLog();
    EXPECT_EQ(64, Kxsnap("backup /dev/sda /dev/loop0").status);
    EXPECT_TRUE(emu_->requestLog().empty()) << "nothing refused reaches Azure";
    EXPECT_EQ(1u, ListedNames().size());
}

TEST_F(NeverLosesTrackTest, NothingIsPulledFromUnderAFileSystemUnlessForced) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    std::vector<std::string> names = Backup("/dev/sdc /dev/sdd");
    std::string device = MountedDevice(names[0]);
    AddMount(device + "1 /restore ext4 rw 0 0");
    kxtest::MakeDirs(emu_->root() + "/sys/block/" + device.substr(5) + "/" + device.substr(5) +
                     "1");
    AddMount("/dev/sdd /data xfs rw 0 0");

    Outcome unmount = Kxsnap("unmount --yes " + names[0]);
    EXPECT_EQ(3, unmount.status);
    EXPECT_TRUE(Contains(unmount.err, device + "1 is mounted at /restore")) << unmount.err;
    EXPECT_TRUE(DevicePresent(*emu_, device));
    emu_->clearRequestLog();
    Outcome revert = Kxsnap("revert --yes " + names[1]);
    EXPECT_EQ(3, revert.status);
    EXPECT_TRUE(Contains(revert.err, "/dev/sdd is mounted at /data")) << revert.err;
    EXPECT_TRUE(emu_->requestLog().empty()) << "the source disk was left alone";

    EXPECT_EQ(0, Kxsnap("unmount --yes --force " + names[0]).status);
    EXPECT_FALSE(DevicePresent(*emu_, device));
}

TEST_F(NeverLosesTrackTest, AMountedCloneExportIsNotRemovedFromUnderItsFileSystem) {
    StartEmulator(kxsnap::NetAppScenario());
    AddMount(kxsnap::NetAppMounts());
    std::string name = Backup("/mnt/sales", kFastNetApp).at(0);
    std::string clone = MountedDevice(name, kFastNetApp);
    size_t volumes = emu_->netAppVolumes().size();
    AddMount(clone + " /mnt/clone nfs4 rw 0 0");
    Outcome refused = Kxsnap(kFastNetApp + "unmount --yes " + name);
    EXPECT_EQ(3, refused.status);
    EXPECT_TRUE(Contains(refused.err, clone + " is mounted at /mnt/clone")) << refused.err;
    EXPECT_EQ(volumes, emu_->netAppVolumes().size());
    EXPECT_EQ(0, Kxsnap(kFastNetApp + "unmount --yes --force " + name).status);
    EXPECT_EQ(volumes - 1, emu_->netAppVolumes().size()) << "the clone volume is deleted";
}

TEST_F(NeverLosesTrackTest, AFailedCatalogueAndLogWriteSayWhatTheyAreAndPrintTheRecords) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    Backup("/dev/sdc");
    // Job 2's log goes to a full disk; its catalogue writes fail once it runs.
    kxtest::MakeDirs(dir_ / "logs");
    ASSERT_EQ(0, symlink("/dev/full", (dir_ / "logs/job-2.log").c_str()));
    emu_->clearRequestLog();
    Delay(*emu_, "PUT", "/snapshots/");
    std::string out = dir_ / "failed.out";
    std::string err = dir_ / "failed.err";
    pid_t backup = StartKxsnap("backup /dev/sdd", ">" + out + " 2>" + err);
    ASSERT_TRUE(WaitForRequest("PUT", "/snapshots/"));
    // SQLite cannot create its journal where a folder of that name stands.
    kxtest::MakeDirs(CatalogPath() + "-journal");
    EXPECT_EQ(3, Wait(backup));
    std::string message = kxtest::ReadFile(err);
    EXPECT_TRUE(Contains(message,
                         "records were not stored in the catalogue: they are printed "
                         "on standard output; the job log " +
                             std::string(dir_ / "logs/job-2.log") +
                             " could not be written: No space left on device"))
        << message;
    EXPECT_FALSE(Contains(message, "saved in")) << message;
    json printed = json::parse(kxtest::ReadFile(out), nullptr, false);
    ASSERT_FALSE(printed.is_discarded()) << kxtest::ReadFile(out);
    EXPECT_EQ(0u, printed["records"][0]["metadata"]["6"].get<std::string>().find("snapURL:"));
}

TEST_F(NeverLosesTrackTest, TheHomeFolderComesFromThePasswordDatabaseAndListCreatesNothing) {
    std::string kxsnap = std::string(KXSO_BUILD_DIR) + "/kxsnap";
    std::string missing = dir_ / "none/catalog.db";
    EXPECT_EQ(0, std::system((kxsnap + " --catalog " + missing + " list >/dev/null").c_str()));
    EXPECT_NE(0, access((dir_ / "none").c_str(), F_OK)) << "reading creates nothing";
    if (geteuid() != 0)
        GTEST_SKIP() << "playing users without HOME needs root";

    // Without HOME: a user the password database knows, and one it does not.
    struct passwd* nobody = getpwuid(65534);
    ASSERT_NE(nullptr, nobody);
    std::string home = nobody->pw_dir;
    std::string out = dir_ / "home.out";
    std::string err = dir_ / "home.err";
    auto listAs = [&](int uid) {
        std::string id = std::to_string(uid);
        std::string command = "cd / && env -u HOME -u XDG_DATA_HOME setpriv --reuid=" + id +
                              " --regid=" + id + " --clear-groups " + kxsnap + " list >" + out +
                              " 2>" + err;
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(0, listAs(65534)) << kxtest::ReadFile(err);
    EXPECT_EQ("No snapshots in " + home + "/.local/share/kxsnap/catalog.db\n",
              kxtest::ReadFile(out));
    EXPECT_EQ(3, listAs(54321));
    EXPECT_TRUE(Contains(kxtest::ReadFile(err), "no home folder")) << kxtest::ReadFile(err);
}

// The catalogue as the first kxsnap wrote it, with one mounted snapshot.
const char* const kSchemaOneCatalogue = R"sql(
CREATE TABLE kxsnap_meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);
CREATE TABLE arrays(array_id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE jobs(
  job_id INTEGER PRIMARY KEY, command TEXT NOT NULL, started TEXT NOT NULL,
  finished TEXT NOT NULL DEFAULT '', pid INTEGER NOT NULL, result INTEGER NOT NULL DEFAULT -1,
  log_path TEXT NOT NULL DEFAULT '');
CREATE TABLE snapshots(
  snap_id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, uuid TEXT NOT NULL UNIQUE,
  kind TEXT NOT NULL, target TEXT NOT NULL, taken_at TEXT NOT NULL,
  backup_job INTEGER NOT NULL, last_job INTEGER NOT NULL, state TEXT NOT NULL,
  source_device_path TEXT, snap_name TEXT, array_id INTEGER NOT NULL DEFAULT 0,
  array_name TEXT, snap_engine_id INTEGER NOT NULL DEFAULT 0,
  snap_flags INTEGER NOT NULL DEFAULT 0, snap_options INTEGER NOT NULL DEFAULT 0,
  clone_index INTEGER NOT NULL DEFAULT 0, status INTEGER NOT NULL DEFAULT 0,
  mapped_device_path TEXT NOT NULL DEFAULT '', reverted_device_path TEXT NOT NULL DEFAULT '',
  error_code INTEGER NOT NULL DEFAULT 0, error_text TEXT NOT NULL DEFAULT '');
CREATE TABLE metadata(
  snap_id INTEGER NOT NULL REFERENCES snapshots(snap_id) ON DELETE CASCADE,
  id INTEGER NOT NULL, value BLOB NOT NULL, PRIMARY KEY(snap_id, id));
INSERT INTO kxsnap_meta VALUES('schema', 1), ('next_job', 3), ('next_snap', 2);
INSERT INTO jobs VALUES(1, 'backup', '2026-01-05T10:00:00Z', '2026-01-05T10:01:00Z', 7, 0, '');
INSERT INTO jobs VALUES(2, 'mount', '2026-01-05T11:00:00Z', '2026-01-05T11:01:00Z', 7, 0, '');
INSERT INTO snapshots(snap_id, name, uuid, kind, target, taken_at, backup_job, last_job, state,
  source_device_path, snap_name, status, mapped_device_path)
  VALUES(1, 'kxsnap-sdc-old', 'u-1', 'disk', '/dev/sdc', '2026-01-05T10:00:00Z', 1, 2,
  'mounted', '/dev/sdc', 'kxsnap-sdc-old', 12, '/dev/sdh');
INSERT INTO metadata VALUES(1, 6, 'snapURL:x;sourceDiskURL:y;');
)sql";

int SchemaOf(const std::string& path) {
    return std::stoi(QueryOne(path, "SELECT value FROM kxsnap_meta WHERE key = 'schema'"));
}

void WriteCatalogue(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(db);
}

TEST_F(NeverLosesTrackTest, AnOlderCatalogueIsReadAsItIsAndMigratedOnTheFirstWrite) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    WriteCatalogue(CatalogPath(), kSchemaOneCatalogue);
    json list = Json("list");
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ("mounted", list[0]["state"]);
    EXPECT_EQ("/x", list[0]["azure"]["snapshotId"]) << "the stored metadata, as it was";
    EXPECT_EQ("/y", list[0]["azure"]["sourceId"]);
    EXPECT_EQ(1, SchemaOf(CatalogPath())) << "reading migrates nothing";

    Outcome refused = Kxsnap("delete kxsnap-sdc-old");
    EXPECT_EQ(3, refused.status);
    EXPECT_TRUE(Contains(refused.err, "it is mounted")) << refused.err;
    EXPECT_EQ(2, SchemaOf(CatalogPath()));
    EXPECT_EQ(list, Json("list")) << "the migration keeps every row as it was";

    WriteCatalogue(CatalogPath(), "UPDATE kxsnap_meta SET value = 99 WHERE key = 'schema'");
    Outcome newer = Kxsnap("list");
    EXPECT_EQ(3, newer.status);
    EXPECT_TRUE(Contains(newer.err, "written by a newer kxsnap (schema 99")) << newer.err;
}

}  // namespace
}  // namespace kxsnaptest
