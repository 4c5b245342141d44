// Finding and retiring snapshots, and what scripts and services see, through
// separate kxsnap processes against the emulator: list filters and outputs,
// show, forget, unmount's confirmation, headless progress and the cause of a
// failed job.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CommandsTestSupport.h"
#include "kxsnap/DemoScenarios.h"

namespace kxsnaptest {
namespace {

using nlohmann::json;

// Azure resource ids compare without regard to case.
bool SameId(std::string a, std::string b) {
    for (auto* text : {&a, &b}) {
        for (char& c : *text)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return a == b;
}

class KxsnapFindTest : public KxsnapCommandsTest {
protected:
    // Two disk snapshots, the first of them mounted.
    void BackUpTwoAndMountOne() {
        StartEmulator(kxsnap::ManagedDiskScenario());
        names_ = Backup("/dev/sdc /dev/sdd");
        MountedDevice(names_.at(0));
    }
    // A backup that fails at prepare: the instance metadata service is not there.
    std::string FailedBackup() {
        StartEmulator(kxsnap::ManagedDiskScenario());
        kxtest::ScopedEnv unreachable("KXSO_IMDS_ENDPOINT", "http://127.0.0.1:1");
        Outcome failed = Kxsnap("backup /dev/sdc");
        EXPECT_EQ(1, failed.status);
        failedErr_ = failed.err;
        return ListedNames().at(0);
    }
    std::vector<std::string> names_;
    std::string failedErr_;
};

TEST_F(KxsnapFindTest, ListFiltersAndOutputsAndShowTellsEverythingKnown) {
    BackUpTwoAndMountOne();
    struct Filter {
        std::string arguments;
        std::vector<std::string> expected;
    };
    for (const Filter& filter :
         {Filter{"--state mounted", {names_[0]}}, Filter{"--state ready", {names_[1]}},
          Filter{"--source /dev/sdd", {names_[1]}}, Filter{"--kind netapp", {}},
          Filter{"--kind disk --since 2000-01-01", names_},
          Filter{"--since 2999-01-01T00:00", {}}}) {
        EXPECT_EQ(filter.expected, ListedNames(filter.arguments)) << filter.arguments;
    }
    EXPECT_EQ(64, Kxsnap("list --since yesterday").status);
    EXPECT_EQ(64, Kxsnap("list --output xml").status);

    Outcome tsv = Kxsnap("list --output tsv");
    ASSERT_EQ(0, tsv.status) << tsv.err;
    EXPECT_EQ(0u,
              tsv.out.find("name\tid\tsource\tkind\ttaken\tstate\tdevice\tazure_snapshot_id\n"));
    EXPECT_TRUE(Contains(tsv.out, names_[1] + "\t2\t/dev/sdd\tdisk\t")) << tsv.out;
    EXPECT_TRUE(Contains(tsv.out, "/snapshots/" + names_[1] + "\n")) << tsv.out;

    // The documented shape: these members, no host record.
    Outcome listed = Kxsnap("list --output json");
    auto list = nlohmann::ordered_json::parse(listed.out);
    ASSERT_EQ(2u, list.size());
    std::vector<std::string> members;
    for (const auto& item : list[1].items())
        members.push_back(item.key());
    EXPECT_EQ((std::vector<std::string>{"name", "id", "uuid", "kind", "source", "sourceDevice",
                                        "taken", "state", "status", "error", "device",
                                        "revertedDevice", "azure", "backupJob", "lastJob", "log"}),
              members);
    EXPECT_EQ("snapshot ready", list[1]["status"]["text"]) << "a successful backup reads ready";
    EXPECT_TRUE(SameId(emu_->snapshotId(names_[1]), list[1]["azure"]["snapshotId"]));
    EXPECT_EQ(names_[1], list[1]["azure"]["snapshotName"]);
    EXPECT_TRUE(list[1]["error"].is_null());
    EXPECT_EQ("mounted", list[0]["state"]);
    EXPECT_EQ(0u, list[0]["device"].get<std::string>().find("/dev/sd")) << list[0];
    EXPECT_NE(std::string::npos, list[0]["log"].get<std::string>().find("job-2.log"));

    // show tells everything known.
    Outcome show = Kxsnap("show " + names_[0]);
    ASSERT_EQ(0, show.status) << show.err;
    json shown = Json("show " + names_[0]);
    EXPECT_TRUE(SameId(emu_->snapshotId(names_[0]), shown["azure"]["snapshotId"]));
    for (const std::string& expected : std::vector<std::string>{
             names_[0], "/dev/sdc", "mounted", shown["device"].get<std::string>(),
             shown["azure"]["snapshotId"].get<std::string>(),
             shown["azure"]["sourceId"].get<std::string>(), "Backup job:         1",
             "Last job:           2", dir_ / "logs/job-2.log"}) {
        EXPECT_TRUE(Contains(show.out, expected)) << expected << "\n" << show.out;
    }
    EXPECT_EQ(64, Kxsnap("show nosuchsnap").status);
}

TEST_F(KxsnapFindTest, AFailedJobSaysWhyAndForgetRetiresItsRowWithoutAzure) {
    std::string name = FailedBackup();
    emu_->clearRequestLog();
    Outcome unconfirmed = Kxsnap("forget " + name);
    EXPECT_EQ(64, unconfirmed.status);
    EXPECT_TRUE(Contains(unconfirmed.err, "confirm with --yes")) << unconfirmed.err;
    EXPECT_EQ(1u, ListedNames().size());

    json forgot = Json("forget --yes " + name);
    EXPECT_EQ(name, forgot["forgotten"][0]["name"]);
    EXPECT_TRUE(ListedNames().empty());
    EXPECT_TRUE(emu_->requestLog().empty()) << "forget never calls Azure";
    std::string log = kxtest::ReadFile(forgot["log"].get<std::string>());
    EXPECT_TRUE(Contains(log, name)) << "the forgotten record is kept in the log";

    // The failed job's summary names the endpoint and what happened, from the log.
    EXPECT_NE(std::string::npos,
              failedErr_.find("kxsnap: cannot reach http://127.0.0.1:1: connection refused (job 1, "
                              "see " +
                              (dir_ / "logs/job-1.log") + ")"))
        << failedErr_;
}

TEST_F(KxsnapFindTest, AMountedSnapshotIsNotForgottenAndUnmountNeedsYesOffATerminal) {
    BackUpTwoAndMountOne();
    Outcome forget = Kxsnap("forget --yes " + names_[0]);
    EXPECT_EQ(3, forget.status) << "refused as delete refuses a mounted snapshot";
    EXPECT_TRUE(Contains(forget.err, "is mounted")) << forget.err;
    EXPECT_EQ(names_, ListedNames());

    std::string device = Json("show " + names_[0])["device"];
    Outcome refused = Kxsnap("unmount " + names_[0]);
    EXPECT_EQ(64, refused.status);
    EXPECT_TRUE(Contains(refused.err, "the disk " + device + " made from " + names_[0] +
                                          " is deleted, with everything written to it"))
        << refused.err;
    EXPECT_EQ("mounted", Json("show " + names_[0])["state"]) << "nothing was changed";
    EXPECT_EQ(0, Json("unmount --yes " + names_[0])["result"]);
}

// cron or systemd: no terminal. The job's number and log come first, then a
// line per step.
TEST_F(KxsnapFindTest, HeadlessRunsAnnounceTheJobAndPrintLines) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    Outcome backup = Kxsnap("backup /dev/sdc");
    ASSERT_EQ(0, backup.status) << backup.err;
    EXPECT_EQ(0u, backup.err.find("kxsnap: job 1 started (backup, disk); log " +
                                  (dir_ / "logs/job-1.log") + "\n"))
        << backup.err;
    EXPECT_TRUE(Contains(backup.err, "s] Created snapshot [")) << backup.err;
    EXPECT_EQ(std::string::npos, (backup.out + backup.err).find('\033'));
}

// On a terminal whose TERM is dumb: lines, no escape sequences.
TEST_F(KxsnapFindTest, DumbTerminalGetsNoEscapeSequences) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    kxtest::ScopedEnv dumb("TERM", "dumb");
    int terminal = -1;
    pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string kxsnap = std::string(KXSO_BUILD_DIR) + "/kxsnap";
        execl(kxsnap.c_str(), kxsnap.c_str(), "--catalog", CatalogPath().c_str(), "backup",
              "/dev/sdc", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string seen;
    char buffer[4096];
    for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;)
        seen.append(buffer, static_cast<size_t>(got));
    int status = -1;
    waitpid(child, &status, 0);
    close(terminal);
    EXPECT_EQ(0, WEXITSTATUS(status)) << seen;
    EXPECT_FALSE(Contains(seen, "\033")) << seen;
    EXPECT_TRUE(Contains(seen, "s] Created snapshot [")) << seen;
}

}  // namespace
}  // namespace kxsnaptest
