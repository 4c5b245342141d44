#include "CommandsTestSupport.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace kxsnaptest {

namespace {

// Polls at once and never waits for devices: the emulator answers at once.
constexpr const char* kFastSettings =
    "[Ferrolink]\n"
    "nAzureRESTAPIReqPollIntervalSecs=0\n"
    "nAzureRESTAPIReqWaitTimeSecs=5\n"
    "nAzureWaitTimeForDeviceRefresh=0\n"
    "nAzureRESTAPIMaxRetryDelaySecs=0\n";

}  // namespace

std::string Joined(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& word : words)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

void KxsnapCommandsTest::SetUp() {
    settings_ = std::make_unique<kxtest::ScopedSettings>(kFastSettings);
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

pid_t KxsnapCommandsTest::StartKxsnap(const std::string& arguments) {
    std::string command = "exec " + std::string(KXSO_BUILD_DIR) + "/kxsnap --catalog " +
                          CatalogPath() + " " + arguments + " >/dev/null 2>&1 </dev/null";
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

std::vector<std::string> KxsnapCommandsTest::ListedNames() {
    std::vector<std::string> names;
    for (const auto& entry : Json("list"))
        names.push_back(entry["name"]);
    return names;
}

bool KxsnapCommandsTest::WaitForRequest(const std::string& method, const std::string& part) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& request : emu_->requestLog()) {
            if (request.method == method && request.path.find(part) != std::string::npos)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace kxsnaptest
