// The bench the suites that drive the plug-in against the in-process emulator
// share: a scratch directory, the emulator with the plug-in pointed at it, the
// settings file, and the requests the emulator saw. Header-only, like
// EmulatorEnv.h: the suites that use it link the emulator themselves.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AzureEmulator.h"
#include "platform/FXString.h"
#include "support/EmulatorEnv.h"
#include "support/TestEnv.h"

namespace kxtest {

class EmulatorBench : public ::testing::Test {
protected:
    void TearDown() override {
        if (emu_) {
            emu_->stop();
        }
    }

    // Replaces the running emulator with one for `scenario`.
    void StartEmulator(const azemu::Json& scenario) {
        env_.clear();
        if (emu_) {
            emu_->stop();
        }
        emu_ = std::make_unique<azemu::Emulator>(scenario, dir_ / "root");
        emu_->start();
        env_ = PointPluginAtEmulator(*emu_, dir_ / "kxso.log");
    }
    void UseSettings(const std::string& settingsIni) {
        settings_.reset();
        settings_ = std::make_unique<ScopedSettings>(settingsIni);
    }

    // Requests whose method matches (or "*") and whose URL contains `urlPart`
    // in any letter case.
    std::vector<azemu::RequestRecord> Sent(const std::string& method,
                                           const std::string& urlPart = "") const {
        std::vector<azemu::RequestRecord> matching;
        for (const azemu::RequestRecord& request : emu_->requestLog()) {
            if ((method == "*" || request.method == method) &&
                FXString::FindString(request.url, urlPart, true) != std::string::npos) {
                matching.push_back(request);
            }
        }
        return matching;
    }
    int InjectFault(const std::string& method, const std::string& path, azemu::FaultAction action,
                    int times = 1, int status = 500,
                    const std::string& code = "InternalServerError") {
        azemu::FaultSpec fault;
        fault.method = method;
        fault.path = path;
        fault.action = action;
        fault.times = times;
        fault.status = status;
        fault.code = code;
        return emu_->injectFault(fault);
    }

    TempDir dir_;
    std::unique_ptr<azemu::Emulator> emu_;
    std::unique_ptr<ScopedSettings> settings_;
    std::vector<std::unique_ptr<ScopedEnv>> env_;
};

}  // namespace kxtest
