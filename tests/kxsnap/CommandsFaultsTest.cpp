// What people and scripts meet when things go wrong: a kxsnap killed in the
// middle of a job, bad names and targets, a locked or damaged catalogue. Each
// gives a clear line and the catalogue stays as it was.
#include <set>

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CommandsTestSupport.h"
#include "kxsnap/Catalog.h"
#include "kxsnap/DemoScenarios.h"

namespace kxsnaptest {
namespace {

using nlohmann::json;

bool OneLine(const std::string& text) {
    return !text.empty() && text.find('\n') == text.size() - 1;
}

std::string IntegrityCheck(const std::string& path) {
    return QueryOne(path, "PRAGMA integrity_check");
}

TEST_F(KxsnapCommandsTest, ABackupKilledWhileAzureAnswersLeavesRowsThatDeleteRetires) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    Delay(*emu_, "PUT", "/snapshots/");
    pid_t backup = StartKxsnap("backup /dev/sdc /dev/sdd");
    ASSERT_TRUE(WaitForRequest("PUT", "/snapshots/"));
    Kill(backup);

    EXPECT_EQ("ok", IntegrityCheck(CatalogPath()));
    {
        kxsnap::Catalog catalog(CatalogPath(), 1000);
        auto entries = catalog.All();
        ASSERT_EQ(2u, entries.size());
        EXPECT_EQ("backing up", entries[0].state);
        ASSERT_EQ(1u, catalog.Jobs().size());
        EXPECT_EQ(-1, catalog.Jobs()[0].result) << "an interrupted job has no result";
    }
    emu_->clearFaults();
    Outcome list = Kxsnap("list");
    EXPECT_EQ(0, list.status);
    EXPECT_TRUE(Contains(list.out, "backing up"));

    // The snapshot whose answer was lost may exist in Azure: delete finds it by name.
    // Wait for the delayed request to be carried out as Azure would.
    std::vector<std::string> names = ListedNames();
    ASSERT_TRUE(WaitUntil([&] { return emu_->resource(emu_->snapshotId(names[0])).has_value(); }));
    json removed = Json("delete " + Joined(names));
    EXPECT_EQ(0, removed["result"]) << removed.dump(1);
    EXPECT_TRUE(ListedNames().empty());
    for (const auto& name : names)
        EXPECT_FALSE(emu_->resource(emu_->snapshotId(name)).has_value()) << name;
}

// Nobody knows what a killed mount left attached: the snapshot reads unknown,
// and only unmount may touch it until the leftovers are gone.
TEST_F(KxsnapCommandsTest, AMountKilledMidwayLeavesTheSnapshotUnknownUntilUnmounted) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    std::string name = Backup("/dev/sdc").at(0);
    json before = Json("list");
    size_t disks = emu_->dataDisks().size();
    Delay(*emu_, "PUT", "/disks/");
    pid_t mount = StartKxsnap("mount " + name);
    ASSERT_TRUE(WaitForRequest("PUT", "/disks/"));
    Kill(mount);
    EXPECT_EQ("ok", IntegrityCheck(CatalogPath()));
    json after = Json("list");
    EXPECT_EQ("unknown (interrupted mount)", after[0]["state"]);
    after[0]["state"] = before[0]["state"];
    after[0]["lastJob"] = before[0]["lastJob"];
    // Read from the state and the last job: the same once those are.
    after[0]["log"] = before[0]["log"];
    after[0]["status"]["text"] = before[0]["status"]["text"];
    EXPECT_EQ(before, after) << "the records are as they were";
    for (const char* command : {"delete ", "mount "}) {
        Outcome refused = Kxsnap(command + name);
        EXPECT_EQ(3, refused.status) << command;
        EXPECT_TRUE(Contains(refused.err, "unknown (interrupted mount)")) << refused.err;
    }

    // Azure goes on with the disk the killed mount asked for.
    size_t diskResources = emu_->state()["disks"].size();
    ASSERT_TRUE(WaitUntil([&] { return emu_->state()["disks"].size() == diskResources + 1; }));
    Outcome unmount = Kxsnap("unmount --yes " + name);
    EXPECT_EQ(0, unmount.status) << unmount.err << unmount.out;
    EXPECT_EQ("ready", Json("list")[0]["state"]);
    EXPECT_EQ(disks, emu_->dataDisks().size()) << "nothing the mount made stays attached";
    EXPECT_EQ(diskResources, emu_->state()["disks"].size()) << "nor in Azure";
    EXPECT_EQ(0, Json("delete " + name)["result"]);
}

TEST_F(KxsnapCommandsTest, BadNamesAndTargetsGiveOneLineAndUsageStatus) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    Backup("/dev/sdc /dev/sdd");
    emu_->clearRequestLog();
    struct Case {
        std::string arguments;
        std::string reason;
    };
    kxtest::WriteFile(emu_->root() + "/dev/notadisk", "");
    for (const Case& bad :
         {Case{"mount nosuchsnap", "unknown snapshot 'nosuchsnap'"},
          Case{"mount kxsnap-sd", "ambiguous snapshot name"}, Case{"delete 99", "unknown snapshot"},
          Case{"backup /dev/sdq", "device not found: /dev/sdq"},
          Case{"backup /dev/notadisk", "not a block device"},
          Case{"backup /mnt/none:/x", "neither a block device nor an NFS mount"},
          Case{"revert kxsnap-sdc", "confirm with --yes"},
          Case{"--array-config NOPE backup /dev/sdc", "KEY=NUMBER"}}) {
        Outcome outcome = Kxsnap(bad.arguments);
        EXPECT_EQ(64, outcome.status) << bad.arguments;
        EXPECT_TRUE(OneLine(outcome.err) || bad.arguments.rfind("revert", 0) == 0) << outcome.err;
        EXPECT_TRUE(Contains(outcome.err, bad.reason)) << outcome.err;
    }
    for (const auto& request : emu_->requestLog())
        EXPECT_EQ("GET", request.method) << "a refused command changed Azure: " << request.url;
    EXPECT_EQ(2u, ListedNames().size());
    EXPECT_EQ(64, Kxsnap("").status);
    EXPECT_EQ(64, Kxsnap("mount").status);
    for (const char* command :
         {"backup", "list", "mount", "unmount", "revert", "delete", "reconcile", "run", "demo"})
        EXPECT_EQ(0, Kxsnap(std::string(command) + " --help").status) << command;
}

TEST_F(KxsnapCommandsTest, ALockedDamagedOrReadOnlyCatalogueStopsBeforeAzureAndStaysAsItWas) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    Backup("/dev/sdc");
    emu_->clearRequestLog();

    sqlite3* holder = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(CatalogPath().c_str(), &holder));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
    Outcome locked = Kxsnap("--lock-timeout 100 backup /dev/sdd");
    EXPECT_EQ(3, locked.status);
    EXPECT_TRUE(OneLine(locked.err)) << locked.err;
    EXPECT_TRUE(Contains(locked.err, "catalogue locked")) << locked.err;
    EXPECT_EQ(0, Kxsnap("list").status) << "reading goes on while another kxsnap writes";
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_TRUE(emu_->requestLog().empty()) << "nothing may reach Azure without a catalogue";
    EXPECT_EQ(1u, ListedNames().size());

    std::string damaged = dir_ / "damaged.db";
    std::string bytes = kxtest::ReadFile(CatalogPath());
    bytes.replace(0, 16, "not SQLite here!");
    kxtest::WriteFile(damaged, bytes);
    Outcome outcome = Kxsnap("--catalog " + damaged + " list");
    EXPECT_EQ(3, outcome.status);
    EXPECT_TRUE(OneLine(outcome.err)) << outcome.err;
    EXPECT_TRUE(Contains(outcome.err, "damaged")) << outcome.err;
    EXPECT_EQ(bytes, kxtest::ReadFile(damaged));

    // A catalogue this user may only read is listed but never written.
    bytes = kxtest::ReadFile(CatalogPath());
    // Root writes any file: play an ordinary user who may read the catalogue only.
    std::string asReader;
    if (geteuid() == 0) {
        asReader = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        ASSERT_EQ(0, chmod(dir_.path().c_str(), 0755));
    } else {
        ASSERT_EQ(0, chmod(CatalogPath().c_str(), 0444));
    }
    std::string kxsnap = asReader + KXSO_BUILD_DIR + "/kxsnap --catalog " + CatalogPath();
    std::string err = dir_ / "readonly.err";
    int listed = std::system((kxsnap + " list >/dev/null 2>" + err).c_str());
    EXPECT_EQ(0, WEXITSTATUS(listed)) << kxtest::ReadFile(err);
    int backup = std::system((kxsnap + " backup /dev/sdd >/dev/null 2>" + err).c_str());
    EXPECT_EQ(3, WEXITSTATUS(backup));
    std::string message = kxtest::ReadFile(err);
    EXPECT_TRUE(OneLine(message)) << message;
    EXPECT_TRUE(Contains(message, "read-only")) << message;
    EXPECT_EQ(bytes, kxtest::ReadFile(CatalogPath()));
    EXPECT_TRUE(emu_->requestLog().empty()) << "nothing may reach Azure without a catalogue";
}

TEST_F(KxsnapCommandsTest, EveryJobHasALogFileAndVerboseShowsThePluginLines) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    Outcome backup = Kxsnap("-v backup /dev/sdc");
    ASSERT_EQ(0, backup.status) << backup.err;
    EXPECT_TRUE(Contains(backup.err, "[info] AZUREAPI >>>>>: Created snapshot [")) << backup.err;
    EXPECT_FALSE(Contains(backup.out, "\r")) << "no live line when not on a terminal";
    std::string log = kxtest::ReadFile(dir_ / "logs/job-1.log");
    EXPECT_TRUE(Contains(log, "kxso_postSnapDevices answered 0")) << log;
    EXPECT_TRUE(Contains(log, "Created snapshot [")) << log;
    Outcome quiet = Kxsnap("list");
    EXPECT_TRUE(quiet.err.empty());
}

TEST_F(KxsnapCommandsTest, TwoKxsnapAtOnceBothRecordTheirSnapshots) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    ASSERT_EQ(0, Kxsnap("list").status) << "creates the catalogue";
    pid_t first = StartKxsnap("backup /dev/sdc /dev/sdd");
    Outcome second = Kxsnap("backup /dev/sde /dev/sdf");
    EXPECT_EQ(0, Wait(first));
    EXPECT_EQ(0, second.status) << second.err;
    kxsnap::Catalog catalog(CatalogPath(), 1000);
    auto entries = catalog.All();
    ASSERT_EQ(4u, entries.size());
    std::set<int64_t> jobs;
    for (const auto& entry : entries) {
        EXPECT_EQ("ready", entry.state) << entry.name;
        jobs.insert(entry.backupJob);
    }
    EXPECT_EQ(2u, jobs.size()) << "each process has its own job number";
}

}  // namespace
}  // namespace kxsnaptest
