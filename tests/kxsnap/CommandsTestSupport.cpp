#include "CommandsTestSupport.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/EmulatorEnv.h"

namespace kxsnaptest {

const std::string kFastNetApp = "--array-config SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY=0 ";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Names(const nlohmann::json& report) {
    std::vector<std::string> names;
    for (const auto& job : report["jobs"]) {
        for (const auto& snapshot : job["snapshots"])
            names.push_back(snapshot["name"]);
    }
    return names;
}

nlohmann::json Entry(const nlohmann::json& list, const std::string& name) {
    for (const auto& entry : list) {
        if (entry["name"] == name)
            return entry;
    }
    return nlohmann::json();
}

bool DevicePresent(const azemu::Emulator& emu, const std::string& path) {
    for (const auto& device : emu.devices()) {
        if ("/dev/" + device.name == path)
            return true;
    }
    return false;
}

void Delay(azemu::Emulator& emu, const std::string& method, const std::string& path) {
    azemu::FaultSpec delay;
    delay.method = method;
    delay.path = path;
    delay.action = azemu::FaultAction::Delay;
    delay.delayMs = 3000;
    emu.injectFault(delay);
}

void Kill(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

int Wait(pid_t pid) {
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitUntil(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
}

std::string QueryOne(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    std::string answer = "-1";
    if (sqlite3_step(statement) == SQLITE_ROW)
        answer = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return answer;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& word : words)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

void KxsnapCommandsTest::SetUp() {
    settings_ = std::make_unique<kxtest::ScopedSettings>(kxtest::kFastSettings);
    env_.push_back(
        std::make_unique<kxtest::ScopedEnv>("KXSO_LOG_FILE", (dir_ / "plugin.log").c_str()));
}

void KxsnapCommandsTest::TearDown() {
    env_.clear();
    if (emu_)
        emu_->stop();
}

void KxsnapCommandsTest::StartEmulator(const std::string& scenario) {
    emu_ = std::make_unique<azemu::Emulator>(azemu::Json::parse(scenario), dir_ / "root");
    emu_->start();
    env_.push_back(
        std::make_unique<kxtest::ScopedEnv>("KXSO_ARM_ENDPOINT", emu_->armUrl().c_str()));
    env_.push_back(
        std::make_unique<kxtest::ScopedEnv>("KXSO_IMDS_ENDPOINT", emu_->imdsUrl().c_str()));
    env_.push_back(std::make_unique<kxtest::ScopedEnv>("KXSO_CA_FILE", emu_->caFile().c_str()));
    env_.push_back(std::make_unique<kxtest::ScopedEnv>("KXSO_ROOT", emu_->root().c_str()));
}

Outcome KxsnapCommandsTest::Kxsnap(const std::string& arguments) {
    std::string out = dir_ / ("out" + std::to_string(runs_));
    std::string err = dir_ / ("err" + std::to_string(runs_++));
    std::string command = std::string(KXSO_BUILD_DIR) + "/kxsnap --catalog " + CatalogPath() + " " +
                          arguments + " >" + out + " 2>" + err + " </dev/null";
    int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, kxtest::ReadFile(out), kxtest::ReadFile(err)};
}

pid_t KxsnapCommandsTest::StartKxsnap(const std::string& arguments, const std::string& redirects) {
    std::string command = "exec " + std::string(KXSO_BUILD_DIR) + "/kxsnap --catalog " +
                          CatalogPath() + " " + arguments + " " + redirects + " </dev/null";
    pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

nlohmann::json KxsnapCommandsTest::Json(const std::string& arguments, int expectedStatus) {
    Outcome outcome = Kxsnap("--json " + arguments);
    EXPECT_EQ(expectedStatus, outcome.status) << arguments << "\n" << outcome.err;
    auto parsed = nlohmann::json::parse(outcome.out, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << outcome.out << outcome.err;
    return parsed.is_discarded() ? nlohmann::json::object() : parsed;
}

std::vector<std::string> KxsnapCommandsTest::ListedNames(const std::string& filters) {
    std::vector<std::string> names;
    for (const auto& entry : Json("list " + filters))
        names.push_back(entry["name"]);
    return names;
}

bool KxsnapCommandsTest::WaitForRequest(const std::string& method, const std::string& part) {
    return WaitUntil([&] {
        for (const auto& request : emu_->requestLog()) {
            if (request.method == method && Contains(request.path, part))
                return true;
        }
        return false;
    });
}

std::vector<std::string> KxsnapCommandsTest::Backup(const std::string& targets,
                                                    const std::string& options) {
    nlohmann::json backup = Json(options + "backup " + targets);
    EXPECT_EQ(0, backup["result"]) << backup.dump(1);
    return Names(backup);
}

std::string KxsnapCommandsTest::MountedDevice(const std::string& name, const std::string& options) {
    nlohmann::json mount = Json(options + "mount " + name);
    EXPECT_EQ(0, mount["result"]) << mount.dump(1);
    return mount["jobs"][0]["snapshots"][0].value("device", "");
}

void KxsnapCommandsTest::AddMount(const std::string& line) {
    kxtest::MakeDirs(emu_->root() + "/proc");
    std::string mounts = kxtest::ReadFile(emu_->root() + "/proc/mounts");
    kxtest::WriteFile(emu_->root() + "/proc/mounts", mounts + line + "\n");
}

}  // namespace kxsnaptest
