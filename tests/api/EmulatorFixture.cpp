#include "EmulatorFixture.h"

#include "platform/FXString.h"

namespace apitest {

azemu::Json DefaultScenario() {
    return azemu::Json::parse(R"({
        "resourceGroup": "kx-rg",
        "location": "westeurope",
        "vm": {
            "name": "kxvm",
            "dataDisks": [
                {"lun": 0, "name": "data0", "sku": "Premium_LRS"},
                {"lun": 1, "name": "data1", "sku": "Premium_LRS"},
                {"lun": 3, "name": "data3", "sku": "Standard_LRS"}
            ]
        },
        "disks": [
            {"name": "spare", "sku": "Standard_LRS"}
        ],
        "snapshots": [
            {"name": "snapA", "sourceDisk": "data0",
             "tags": {"SnapShotCreatedByHarrowind": "made by us"}}
        ]
    })");
}

void EmulatorTest::SetUp() {
    StartEmulator(DefaultScenario());
}

void EmulatorTest::TearDown() {
    api_.reset();
    EmulatorBench::TearDown();
}

void EmulatorTest::StartEmulator(const azemu::Json& scenario, const std::string& settingsIni) {
    api_.reset();
    EmulatorBench::StartEmulator(scenario);
    UseSettings(settingsIni);
    api_ = std::make_unique<KxSnapAzureAPI>();
    instance_ = AzureInstanceInfo();
    record_.Clear();
}

CUxError EmulatorTest::Init(int64_t jobId) {
    return api_->InitAzureContext(record_.get(), instance_, jobId);
}

void EmulatorTest::InitAndClearLog(int64_t jobId) {
    const CUxError err = Init(jobId);
    ASSERT_TRUE(err.IsSuccess()) << err.AsString();
    emu_->clearRequestLog();
    record_.Clear();
}

std::string EmulatorTest::Header(const azemu::RequestRecord& request, const std::string& name) {
    for (const auto& header : request.headers) {
        if (FXString::EqualsNoCase(header.first, name))
            return header.second;
    }
    return "<absent>";
}

azemu::Json EmulatorTest::Body(const azemu::RequestRecord& request) {
    return request.body.empty() ? azemu::Json() : azemu::Json::parse(request.body);
}

std::string EmulatorTest::DiskPath(const std::string& name) const {
    return FXString::TrimLeft(emu_->diskId(name), "/");
}

std::string EmulatorTest::SnapshotPath(const std::string& name) const {
    return FXString::TrimLeft(emu_->snapshotId(name), "/");
}

std::string EmulatorTest::OurPath(const std::string& kind, const std::string& name) const {
    return "subscriptions/" + emu_->subscriptionId() + "/resourceGroups/" +
           FXString::ToUpper(emu_->resourceGroup()) + "/providers/Microsoft.Compute/" + kind + "/" +
           name;
}

}  // namespace apitest
