// NetApp Files without HTTP: finding the volumes behind the mounted shares in
// a large tenant, and building the bodies of the requests the engine sends.
// The answers are canned lists shaped as Resource Manager returns them; the
// plug-in logs to an in-memory host record, as it does in a job.
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "kxsnap/HostRecord.h"

namespace {

constexpr int kSubscriptions = 10;
constexpr int kGroupsPerSubscription = 50;
constexpr int kNics = 1000;
constexpr int kPools = 40;
constexpr int kVolumesPerPool = 50;  // 2,000 volumes in all
constexpr int kMountedShares = 32;
constexpr const char* kServerAddress = "10.20.1.4";

std::string Subscription(int s) {
    char id[40];
    std::snprintf(id, sizeof(id), "3f2a9c10-7d4e-4b6a-9c8d-%012d", s);
    return id;
}

std::string PoolId(int pool) {
    return "/subscriptions/" + Subscription(pool % kSubscriptions) + "/resourceGroups/rg-" +
           std::to_string(pool) +
           "/providers/Microsoft.NetApp/netAppAccounts/files/capacityPools/pool" +
           std::to_string(pool);
}

std::string VolumeName(int pool, int volume) {
    return "share-" + std::to_string(pool) + "-" + std::to_string(volume);
}

// The last pool holds the mounted shares, so the match walks every volume.
bool IsMounted(int pool, int volume) {
    return pool == kPools - 1 && volume < kMountedShares;
}

std::string SubscriptionList() {
    AnfJson::Value list = AnfJson::Value::array();
    for (int s = 0; s < kSubscriptions; ++s) {
        list.push_back({{"id", "/subscriptions/" + Subscription(s)},
                        {"subscriptionId", Subscription(s)},
                        {"displayName", "sub " + std::to_string(s)},
                        {"state", "Enabled"}});
    }
    return AnfJson::Value{{"value", list}}.dump();
}

std::string ResourceGroupList(int s) {
    AnfJson::Value list = AnfJson::Value::array();
    for (int g = 0; g < kGroupsPerSubscription; ++g) {
        const std::string name = "rg-" + std::to_string(s * kGroupsPerSubscription + g);
        list.push_back({{"id", "/subscriptions/" + Subscription(s) + "/resourceGroups/" + name},
                        {"name", name},
                        {"location", "westeurope"},
                        {"properties", {{"provisioningState", "Succeeded"}}}});
    }
    return AnfJson::Value{{"value", list}}.dump();
}

// 1,000 interfaces; every fiftieth is a volume's mount target, the one at
// kServerAddress serves the pool of the mounted shares.
std::string NicList() {
    AnfJson::Value list = AnfJson::Value::array();
    for (int n = 0; n < kNics; ++n) {
        const bool mountTarget = n % (kNics / kPools) == 0;
        const int pool = n / (kNics / kPools);
        const std::string address =
            pool == kPools - 1 && mountTarget
                ? std::string(kServerAddress)
                : "10." + std::to_string(30 + n / 250) + "." + std::to_string(n % 250) + ".7";
        AnfJson::Value workloads = AnfJson::Value::array();
        if (mountTarget) {
            workloads.push_back(PoolId(pool) + "/volumes/" + VolumeName(pool, 0));
        }
        list.push_back(
            {{"name", "nic-" + std::to_string(n)},
             {"properties",
              {{"ipConfigurations",
                AnfJson::Value::array(
                    {{{"name", "ipconfig1"}, {"properties", {{"privateIPAddress", address}}}}})},
               {"hostedWorkloads", workloads}}}});
    }
    return AnfJson::Value{{"value", list}}.dump();
}

std::string VolumeList(int pool) {
    AnfJson::Value list = AnfJson::Value::array();
    for (int v = 0; v < kVolumesPerPool; ++v) {
        const std::string name = VolumeName(pool, v);
        const std::string address = IsMounted(pool, v) ? kServerAddress : "10.99.0.1";
        list.push_back({{"id", PoolId(pool) + "/volumes/" + name},
                        {"name", "files/pool" + std::to_string(pool) + "/" + name},
                        {"location", "westeurope"},
                        {"properties",
                         {{"creationToken", name},
                          {"fileSystemId", "9d1c3c1e-0000-4000-8000-" + std::to_string(100000 + v)},
                          {"usageThreshold", 107374182400},
                          {"subnetId", "/subscriptions/" + Subscription(0) +
                                           "/resourceGroups/net/providers/Microsoft.Network/"
                                           "virtualNetworks/vnet/subnets/anf"},
                          {"protocolTypes", AnfJson::Value::array({"NFSv3"})},
                          {"provisioningState", "Succeeded"},
                          {"mountTargets", AnfJson::Value::array({{{"ipAddress", address}}})}}}});
    }
    return AnfJson::Value{{"value", list}}.dump();
}

// Opens the matching steps of discovery, which take Azure's answers as input.
class DiscoveryProbe : public KXSnapAzureNetAppAPI {
public:
    using KXSnapAzureNetAppAPI::buildJSONForCreateCloneReq;
    using KXSnapAzureNetAppAPI::buildJSONForCreateSnapReq;
    using KXSnapAzureNetAppAPI::buildJSONForRevertVolumeReq;
    using KXSnapAzureNetAppAPI::KXSnapAzureNetAppAPI;
    using KXSnapAzureNetAppAPI::matchVolumeFromListCPResponse;
    using KXSnapAzureNetAppAPI::NicCache;
    using KXSnapAzureNetAppAPI::populateNICCacheFromResponse;
    using KXSnapAzureNetAppAPI::processListResourceGroups;
    using KXSnapAzureNetAppAPI::processListSubscriptions;
    using KXSnapAzureNetAppAPI::SharePathCache;
};

struct CannedTenant {
    std::string subscriptions = SubscriptionList();
    std::vector<std::string> resourceGroups;
    std::string nics = NicList();
    std::vector<std::string> volumes;

    CannedTenant() {
        for (int s = 0; s < kSubscriptions; ++s) {
            resourceGroups.push_back(ResourceGroupList(s));
        }
        for (int pool = 0; pool < kPools; ++pool) {
            volumes.push_back(VolumeList(pool));
        }
    }
};

void BM_NetAppDiscoveryMatch(benchmark::State& state) {
    const CannedTenant tenant;
    kxsnap::JobLog log;
    kxsnap::JobArrays arrays;
    for (auto _ : state) {
        // A fresh record each round: the host's log would otherwise grow without end.
        kxsnap::JobLog roundLog;
        kxsnap::HostRecord record(0, kxsnap::RecordData{}, roundLog, arrays);
        DiscoveryProbe api(&record);

        std::vector<std::string> subscriptions;
        api.processListSubscriptions(tenant.subscriptions, subscriptions);
        std::vector<std::string> groups;
        for (const std::string& list : tenant.resourceGroups) {
            api.processListResourceGroups(list, groups);
        }

        DiscoveryProbe::NicCache nicCache;
        nicCache[kServerAddress];
        DiscoveryProbe::SharePathCache sharePaths;
        for (int v = 0; v < kMountedShares; ++v) {
            auto device = std::make_shared<AzureNetApp::KxSnapANFSnapObj>(&record);
            device->devInfo.sharePath = VolumeName(kPools - 1, v);
            device->devInfo.arrayName = kServerAddress;
            sharePaths[device->devInfo.sharePath].push_back(device);
        }
        AnfJson::Value nics;
        AnfJson::parse(tenant.nics, nics);
        api.populateNICCacheFromResponse(nics, nicCache);

        size_t remaining = kMountedShares;
        for (const std::string& text : tenant.volumes) {
            AnfJson::Value volumes;
            AnfJson::parse(text, volumes);
            api.matchVolumeFromListCPResponse(sharePaths, volumes, remaining);
        }
        if (remaining != 0 || nicCache[kServerAddress].size() != 1) {
            state.SkipWithError("the canned tenant did not resolve every share");
            break;
        }
    }
    state.counters["volumes"] = kPools * kVolumesPerPool;
    state.counters["nics"] = kNics;
}
BENCHMARK(BM_NetAppDiscoveryMatch)->Unit(benchmark::kMillisecond);

AzureNetApp::KxSnapANFSnapObj SnapObject(KXSO::SnapInfo* record) {
    AzureNetApp::KxSnapANFSnapObj snapObj(record);
    snapObj.snapName = "4d1c9a2e-5b3f-4a6d-9e8c-7f0a1b2c3d41";
    AzureNetApp::AzureNetAppSnapshotInfo& snapshot = snapObj.snapshotInfo;
    snapshot.subscriptionId = Subscription(1);
    snapshot.resourceGroupName = "rg-files";
    snapshot.netappAccountName = "files";
    snapshot.capacityPoolName = "pool1";
    snapshot.volumeName = "oradata";
    snapshot.location = "westeurope";
    snapshot.snapshotId = "0c8b5e2a-1d3f-4e5a-8b7c-9d0e1f2a3b4c";
    AzureNetApp::AzureNetAppVolumeInfo& clone = snapObj.cloneVolumeInfo;
    clone.volumeName = "oradata-clone-1";
    clone.location = "westeurope";
    clone.usageThreshold = "107374182400";
    clone.subnetId = "/subscriptions/" + Subscription(1) +
                     "/resourceGroups/net/providers/Microsoft.Network/virtualNetworks/vnet/"
                     "subnets/anf";
    clone.protocolTypes.nfsv3 = true;
    return snapObj;
}

void BM_NetAppRequestBodies(benchmark::State& state) {
    kxsnap::JobLog log;
    kxsnap::JobArrays arrays;
    kxsnap::HostRecord record(0, kxsnap::RecordData{}, log, arrays);
    DiscoveryProbe api(&record);
    const AzureNetApp::KxSnapANFSnapObj snapObj = SnapObject(&record);
    AzureNetApp::AzureInstanceInfo instance;
    AzureNetApp::AzureNetworkInterface nic;
    nic.privateIPv4 = {"10.20.0.4", "10.20.0.5"};
    instance.networkInfo.interfaces = {nic};
    for (auto _ : state) {
        benchmark::DoNotOptimize(api.buildJSONForCreateSnapReq(snapObj));
        benchmark::DoNotOptimize(api.buildJSONForCreateCloneReq(snapObj, instance));
        benchmark::DoNotOptimize(api.buildJSONForRevertVolumeReq(snapObj));
    }
}
BENCHMARK(BM_NetAppRequestBodies);

}  // namespace
