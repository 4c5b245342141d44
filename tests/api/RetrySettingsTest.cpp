// The retry settings are read once per call, when the context is set up: a
// settings file changed while the call runs does not reach its requests.
#include <gtest/gtest.h>

#include "EmulatorFixture.h"

namespace apitest {
namespace {

using RetrySettingsTest = EmulatorTest;

TEST_F(RetrySettingsTest, AreReadOnceWhenTheContextIsSetUp) {
    UseSettings(std::string(kFastSettings) + "nAzureRESTAPIMaxRetries=0\n");
    InitAndClearLog();
    UseSettings(std::string(kFastSettings) + "nAzureRESTAPIMaxRetries=3\n");
    azemu::FaultSpec fault;
    fault.method = "GET";
    fault.path = "/snapshots/snapA";
    fault.status = 500;
    fault.times = 1;
    emu_->injectFault(fault);
    AzureDiskSnapShotInfo snapshot;
    EXPECT_TRUE(api_->VerifyAzureSnapshot(SnapshotPath("snapA"), snapshot).IsError());
    EXPECT_EQ(1u, Sent("GET", "/snapshots/snapA").size());
}

}  // namespace
}  // namespace apitest
