#include "NetAppEngineFixture.h"

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "kxso/kxso_exports.h"

namespace enginetest {

std::string SourceDeviceName(const std::string& share, const std::string& address) {
    return "{idatype:NFS,type:nfs,lunuuid:\\/" + share + ",targethostname:" + address + "}";
}

azemu::Json TwoVolumeScenario() {
    return azemu::Json::parse(R"({
        "subscriptionId": "3f2a9c10-7d4e-4b6a-9c8d-1e2f3a4b5c6d",
        "resourceGroup": "kx-anf-rg",
        "location": "westeurope",
        "vm": {
            "name": "kxanfvm",
            "networkInterfaces": [{"privateIpAddresses": ["10.20.0.4"], "subnet": "10.20.0.0/24"}]
        },
        "netAppAccounts": [{
            "name": "kxacct",
            "capacityPools": [{
                "name": "pool1",
                "volumes": [
                    {"name": "vol1", "creationToken": "vol1", "mountTargetIp": "10.20.0.9",
                     "usageThreshold": 1099511627776, "content": "vol1:v1"},
                    {"name": "vol2", "creationToken": "vol2", "mountTargetIp": "10.20.0.9",
                     "content": "vol2:v1"}
                ]
            }]
        }]
    })");
}

void NetAppEngineTest::SetUp() {
    StartEmulator(TwoVolumeScenario());
    // Failed requests are retried at once: no test waits.
    UseSettings("[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n");
}

std::unique_ptr<kxtest::TestHost> NetAppEngineTest::ExportHost() {
    auto host = std::make_unique<kxtest::TestHost>(31);
    const char* shares[] = {"vol1", "vol2"};
    const char* uuids[] = {kSnapUuid1, kSnapUuid2};
    for (int i = 0; i < 2; ++i) {
        kxsnap::RecordData data;
        data.sourceDevicePath = SourceDeviceName(shares[i], kServerAddress);
        data.snapId = i + 1;
        data.snapUuid = uuids[i];
        host->Add(data);
    }
    return host;
}

std::unique_ptr<kxtest::TestHost> NetAppEngineTest::Backup() {
    auto host = ExportHost();
    EXPECT_EQ(0, Run(kxso_prepareDevices, *host));
    EXPECT_EQ(0, Run(kxso_snapDevices, *host));
    EXPECT_EQ(0, Run(kxso_postSnapDevices, *host));
    return host;
}

int NetAppEngineTest::Run(Export operation, kxtest::TestHost& host) {
    for (int16_t i = 0; i < host.count(); ++i)
        host.Record(i).ClearError();
    return operation(host.devices(), host.count(), host.util());
}

std::unique_ptr<kxtest::TestHost> NetAppEngineTest::LaterJob(kxtest::TestHost& backup) {
    auto host = std::make_unique<kxtest::TestHost>(32);
    for (int16_t i = 0; i < backup.count(); ++i) {
        kxsnap::RecordData data = backup.Record(i).data();
        data.transientMetadata.clear();
        data.statusHistory.clear();
        data.errorCode = 0;
        data.errorText.clear();
        host->Add(data);
    }
    return host;
}

std::string NetAppEngineTest::PoolId() const {
    return "/subscriptions/" + emu_->subscriptionId() + "/resourceGroups/" + emu_->resourceGroup() +
           "/providers/Microsoft.NetApp/netAppAccounts/kxacct/capacityPools/pool1";
}

std::string NetAppEngineTest::VolumeId(const std::string& volume) const {
    return PoolId() + "/volumes/" + volume;
}

std::string NetAppEngineTest::SnapshotId(const std::string& volume,
                                         const std::string& snapshot) const {
    return VolumeId(volume) + "/snapshots/" + snapshot;
}

azemu::Json NetAppEngineTest::Resource(const std::string& id) const {
    std::optional<azemu::Json> found = emu_->resource(id);
    return found ? *found : azemu::Json();
}

std::optional<azemu::NetAppVolumeView> NetAppEngineTest::Volume(
    const std::string& creationToken) const {
    for (const azemu::NetAppVolumeView& volume : emu_->netAppVolumes()) {
        if (volume.creationToken == creationToken)
            return volume;
    }
    return std::nullopt;
}

bool NetAppEngineTest::AnyCloneExists() const {
    for (const azemu::NetAppVolumeView& volume : emu_->netAppVolumes()) {
        if (volume.creationToken.rfind("KXClone-", 0) == 0)
            return true;
    }
    return false;
}

void NetAppEngineTest::DeleteBehindOurBack(const std::string& volume, const std::string& snapshot) {
    kxtest::TestHost other;
    other.Add();
    KXSnapAzureNetAppAPI api(&other.Record(0));
    AzureNetApp::AzureInstanceInfo instance;
    ASSERT_EQ(0, api.rest_connectToArray(instance));
    AzureNetApp::KxSnapANFSnapObj target(&other.Record(0));
    target.snapshotInfo.subscriptionId = emu_->subscriptionId();
    target.snapshotInfo.resourceGroupName = emu_->resourceGroup();
    target.snapshotInfo.netappAccountName = "kxacct";
    target.snapshotInfo.capacityPoolName = "pool1";
    target.snapshotInfo.volumeName = volume;
    target.snapName = snapshot;
    ASSERT_EQ(0, api.rest_deleteSnaps(target));
    ASSERT_TRUE(Resource(SnapshotId(volume, snapshot)).is_null());
}

}  // namespace enginetest
