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
    // Changes one of the emulator's settings, e.g.
    // Tune(&azemu::Settings::asyncOperationDelayMs, 300).
    template <typename T, typename V>
    void Tune(T azemu::Settings::*setting, V value) {
        azemu::Settings settings = emu_->settings();
        settings.*setting = static_cast<T>(value);
        emu_->setSettings(settings);
    }
    // Fires `action` on the next `times` requests that match (-1: on every
    // one) after letting `skip` of them through. With `afterProcessing` the
    // request is carried out first and only its answer is spoilt.
    int InjectFault(const std::string& method, const std::string& path, azemu::FaultAction action,
                    int times = 1, int status = 500,
                    const std::string& code = "InternalServerError", bool afterProcessing = false,
                    int skip = 0) {
        azemu::FaultSpec fault;
        fault.method = method;
        fault.path = path;
        fault.action = action;
        fault.times = times;
        fault.status = status;
        fault.code = code;
        fault.afterProcessing = afterProcessing;
        fault.skip = skip;
        return emu_->injectFault(fault);
    }
    // The answers of the next `times` matching requests are lost after Azure
    // carried them out. Twice by default: libcurl silently re-sends a request
    // whose answer was lost on a reused connection.
    int LoseAnswers(const std::string& method, const std::string& path, int times = 2,
                    int skip = 0) {
        return InjectFault(method, path, azemu::FaultAction::Drop, times, 0, "", true, skip);
    }

    TempDir dir_;
    std::unique_ptr<azemu::Emulator> emu_;
    std::unique_ptr<ScopedSettings> settings_;
    std::vector<std::unique_ptr<ScopedEnv>> env_;
};

}  // namespace kxtest
