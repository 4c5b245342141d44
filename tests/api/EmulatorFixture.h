// A fixture that starts the Azure emulator in-process and points the client's
// endpoints, trust, device root and udevadm at it. Settings keep every wait
// short; the request log tells what the client actually sent.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KxSnapAzureAPI.h"
#include "LoggingRecord.h"
#include "support/EmulatorBench.h"

namespace apitest {

using kxtest::kFastSettings;

// A VM with data disks at LUNs 0, 1 and 3, a spare disk and one snapshot.
azemu::Json DefaultScenario();

class EmulatorTest : public kxtest::EmulatorBench {
protected:
    void SetUp() override;
    void TearDown() override;

    // Restarts with another scenario and/or other settings text.
    void StartEmulator(const azemu::Json& scenario, const std::string& settingsIni = kFastSettings);

    // InitAzureContext on the fixture's client, record and instance.
    CUxError Init(int64_t jobId = 0);
    // Init, then forget what it sent, so that a test sees only its own requests.
    void InitAndClearLog(int64_t jobId = 0);

    static std::string Header(const azemu::RequestRecord& request, const std::string& name);
    static azemu::Json Body(const azemu::RequestRecord& request);

    // Resource paths as Azure reports them, without the leading '/'.
    std::string DiskPath(const std::string& name) const;
    std::string SnapshotPath(const std::string& name) const;
    // Resource paths as the client forms them (resource group upper case).
    std::string OurPath(const std::string& kind, const std::string& name) const;

    LoggingRecord record_;
    std::unique_ptr<KxSnapAzureAPI> api_;
    AzureInstanceInfo instance_;
};

}  // namespace apitest
