// Runs kxsnap as separate processes against the emulator started in the test
// process, with one catalogue file: what a person does from a shell.
#pragma once

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
    pid_t StartKxsnap(const std::string& arguments);
    // JSON on standard output of a successful --json run.
    nlohmann::json Json(const std::string& arguments, int expectedStatus = 0);

    // Snapshot names from `kxsnap list --json`.
    std::vector<std::string> ListedNames();
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

}  // namespace kxsnaptest
