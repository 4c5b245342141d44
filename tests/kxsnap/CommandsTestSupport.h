// Runs kxsnap as separate processes against the emulator started in the test
// process, with one catalogue file: what a person does from a shell.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/types.h>

#include "AzureEmulator.h"
#include "support/TestEnv.h"

namespace kxsnaptest {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class KxsnapCommandsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the emulator with one of the demo's scenarios.
    void StartEmulator(const std::string& scenario);

    // kxsnap with the test's catalogue and the arguments, to the end.
    Outcome Kxsnap(const std::string& arguments);
    // The same in the background; answers its process id.
    pid_t StartKxsnap(const std::string& arguments,
                      const std::string& redirects = ">/dev/null 2>&1");
    // JSON on standard output of a successful --json run.
    nlohmann::json Json(const std::string& arguments, int expectedStatus = 0);

    // Snapshot names from `kxsnap list --json`.
    std::vector<std::string> ListedNames(const std::string& filters = "");
    // Backs up the targets (successfully) and answers the snapshot names.
    std::vector<std::string> Backup(const std::string& targets, const std::string& options = "");
    // Mounts the snapshot (successfully) and answers its device.
    std::string MountedDevice(const std::string& name, const std::string& options = "");
    // Appends a line to the emulated /proc/mounts.
    void AddMount(const std::string& line);
    // Waits until the emulator logged a request of that method whose path
    // contains `part` (true) or the time ran out.
    bool WaitForRequest(const std::string& method, const std::string& part);

    std::string CatalogPath() const { return dir_ / "catalog.db"; }

    kxtest::TempDir dir_;
    std::unique_ptr<azemu::Emulator> emu_;
    std::unique_ptr<kxtest::ScopedSettings> settings_;
    std::vector<std::unique_ptr<kxtest::ScopedEnv>> env_;
    int runs_ = 0;
};

std::string Joined(const std::vector<std::string>& words);
bool Contains(const std::string& text, const std::string& part);
// Snapshot names of a --json command's report.
std::vector<std::string> Names(const nlohmann::json& report);
// The entry of that name in `list --json` output.
nlohmann::json Entry(const nlohmann::json& list, const std::string& name);
bool DevicePresent(const azemu::Emulator& emu, const std::string& path);
// Holds the requests matching method and path for three seconds.
void Delay(azemu::Emulator& emu, const std::string& method, const std::string& path);
void Kill(pid_t pid);
int Wait(pid_t pid);
// Polls until done() or ten seconds passed; answers done().
bool WaitUntil(const std::function<bool()>& done);
// The first column of the first row of a query on a SQLite file (-1 if none).
std::string QueryOne(const std::string& path, const std::string& sql);

extern const std::string kFastNetApp;

}  // namespace kxsnaptest
