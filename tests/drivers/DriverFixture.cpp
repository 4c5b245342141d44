#include "DriverFixture.h"

#include "kxso/kxso_exports.h"
#include "platform/FXString.h"

namespace drivertest {

azemu::Json FourDiskScenario() {
    return azemu::Json::parse(R"({
        "resourceGroup": "kx-rg",
        "location": "westeurope",
        "vm": {
            "name": "kxvm",
            "dataDisks": [
                {"lun": 0, "name": "data0", "sku": "Premium_LRS"},
                {"lun": 1, "name": "data1", "sku": "Premium_LRS"},
                {"lun": 2, "name": "data2", "sku": "Standard_LRS"},
                {"lun": 3, "name": "data3", "sku": "StandardSSD_LRS"}
            ]
        },
        "disks": [{"name": "spare", "sku": "Standard_LRS"}],
        "snapshots": [{"name": "spareSnap", "sourceDisk": "spare"}]
    })");
}

void DriverTest::SetUp() {
    StartEmulator(FourDiskScenario());
}

void DriverTest::StartEmulator(const azemu::Json& scenario) {
    EmulatorBench::StartEmulator(scenario);
    UseSettings();
}

void DriverTest::UseSettings(const std::string& extra) {
    EmulatorBench::UseSettings(std::string(kFastSettings) + extra);
}

std::unique_ptr<kxtest::TestHost> DriverTest::DeviceHost(const std::vector<std::string>& devices,
                                                         long long jobId) {
    auto host = std::make_unique<kxtest::TestHost>(jobId);
    for (const std::string& device : devices)
        host->Add(kxtest::DiskRecord(device));
    return host;
}

std::unique_ptr<kxtest::TestHost> DriverTest::Backup(const std::vector<std::string>& devices) {
    auto host = DeviceHost(devices);
    EXPECT_EQ(kxso_prepareDevices(host->devices(), host->count(), host->util()), 0);
    EXPECT_EQ(kxso_snapDevices(host->devices(), host->count(), host->util()), 0);
    EXPECT_EQ(kxso_postSnapDevices(host->devices(), host->count(), host->util()), 0);
    return host;
}

std::unique_ptr<kxtest::TestHost> DriverTest::SnapshotHost(kxtest::TestHost& backup,
                                                           long long jobId) {
    auto host = std::make_unique<kxtest::TestHost>(jobId);
    for (int16_t i = 0; i < backup.count(); ++i) {
        const kxsnap::RecordData& data = backup.Record(i).data();
        host->Add(SnapshotRecord(data.snapName.value_or(""), data.metadata.count(6) != 0
                                                                 ? data.metadata.at(6)
                                                                 : std::string()));
    }
    return host;
}

kxsnap::RecordData DriverTest::SnapshotRecord(const std::string& snapName,
                                              const std::string& metadata) {
    kxsnap::RecordData data;
    data.snapName = snapName;
    data.metadata[6] = metadata;
    return data;
}

std::string DriverTest::Metadata(const std::string& snapshot, const std::string& sourceDisk,
                                 const std::string& sourceName, const std::string& sku) const {
    // The snapshot's id as the plug-in forms it: the resource group in upper case.
    const std::string snapshotId = "subscriptions/" + emu_->subscriptionId() + "/resourceGroups/" +
                                   FXString::ToUpper(emu_->resourceGroup()) +
                                   "/providers/Microsoft.Compute/snapshots/" + snapshot;
    return "snapURL:" + snapshotId +
           ";sourceDiskURL:" + FXString::TrimLeft(emu_->diskId(sourceDisk), "/") +
           ";sourceDiskName:" + (sourceName.empty() ? sourceDisk : sourceName) +
           ";sourceDiskSku:" + sku + ";";
}

bool DriverTest::DiskExists(const std::string& name) const {
    return emu_->resource(emu_->diskId(name)).has_value();
}

bool DriverTest::SnapshotExists(const std::string& name) const {
    return emu_->resource(emu_->snapshotId(name)).has_value();
}

int DriverTest::AttachedLun(const std::string& name) const {
    for (const azemu::AttachedDisk& disk : emu_->dataDisks()) {
        if (FXString::EqualsNoCase(disk.name, name))
            return disk.lun;
    }
    return -1;
}

std::string DriverTest::DeviceAtLun(int lun) const {
    for (const azemu::BlockDevice& device : emu_->devices()) {
        if (device.lun == lun)
            return "/dev/" + device.name;
    }
    return "";
}

int Status(kxtest::TestHost& host, size_t index) {
    return host.Record(index).data().status;
}

int ErrorCode(kxtest::TestHost& host, size_t index) {
    return host.Record(index).data().errorCode;
}

std::string ErrorText(kxtest::TestHost& host, size_t index) {
    return host.Record(index).data().errorText;
}

std::string SnapMetadata(kxtest::TestHost& host, size_t index) {
    const auto& metadata = host.Record(index).data().metadata;
    return metadata.count(6) != 0 ? metadata.at(6) : std::string();
}

}  // namespace drivertest
