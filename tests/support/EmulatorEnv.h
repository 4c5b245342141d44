// Points the plug-in, in this process and in the programs it runs, at an
// in-process emulator: its endpoints, CA file, device root and admin URL, the
// udevadm stand-in first on PATH, and a scratch plug-in log. Each variable is
// restored when its guard goes. Header-only: the suites and benchmarks that
// use it link the emulator themselves and define KXSO_BUILD_DIR.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "AzureEmulator.h"
#include "support/TestEnv.h"

namespace kxtest {

// Settings that keep every wait against the emulator short: polls without
// pause, waits at most 5 s, never waits for devices nor before a retry (a
// server asking for a wait is therefore not retried).
constexpr const char* kFastSettings =
    "[Ferrolink]\n"
    "nAzureRESTAPIReqPollIntervalSecs=0\n"
    "nAzureRESTAPIReqWaitTimeSecs=5\n"
    "nAzureWaitTimeForDeviceRefresh=0\n"
    "nAzureRESTAPIMaxRetryDelaySecs=0\n";

inline std::vector<std::unique_ptr<ScopedEnv>> PointPluginAtEmulator(const azemu::Emulator& emu,
                                                                     const std::string& logFile) {
    const char* path = std::getenv("PATH");
    const std::string binPath =
        std::string(KXSO_BUILD_DIR) + "/emulator-bin:" + (path ? path : "/usr/bin:/bin");
    const std::pair<const char*, std::string> variables[] = {
        {"KXSO_ARM_ENDPOINT", emu.armUrl()},     {"KXSO_IMDS_ENDPOINT", emu.imdsUrl()},
        {"KXSO_CA_FILE", emu.caFile()},          {"KXSO_ROOT", emu.root()},
        {"KXSO_EMULATOR_ADMIN", emu.adminUrl()}, {"PATH", binPath},
        {"KXSO_LOG_FILE", logFile},
    };
    std::vector<std::unique_ptr<ScopedEnv>> guards;
    for (const auto& variable : variables) {
        guards.push_back(std::make_unique<ScopedEnv>(variable.first, variable.second.c_str()));
    }
    return guards;
}

}  // namespace kxtest
