// The plug-in's own CPU cost on the documents and tables a large VM brings:
// what a job spends between Azure's answers.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "KXSnapCloud/KXSnapAzureNetAppRegex.h"
#include "KxSnapAzureAPI.h"
#include "KxSnapAzureUtils.h"
#include "platform/KxJson.h"

namespace {

constexpr const char* kSubscription = "0b1f6471-1bf0-4dda-aec3-111122223333";

std::string DiskId(int index) {
    return std::string("/subscriptions/") + kSubscription +
           "/resourceGroups/rg-app/providers/Microsoft.Compute/disks/data-disk-" +
           std::to_string(index);
}

// A VM document as Resource Manager returns it, with `dataDisks` data disks.
std::string VmDocument(int dataDisks) {
    KxJson::Value disks = KxJson::Value::array();
    for (int lun = 0; lun < dataDisks; ++lun) {
        disks.push_back(
            {{"lun", lun},
             {"name", "data-disk-" + std::to_string(lun)},
             {"createOption", "Attach"},
             {"caching", "None"},
             {"toBeDetached", false},
             {"diskSizeGB", 1024},
             {"managedDisk", {{"id", DiskId(lun)}, {"storageAccountType", "Premium_LRS"}}}});
    }
    KxJson::Value vm = {
        {"name", "app-vm"},
        {"id", std::string("/subscriptions/") + kSubscription +
                   "/resourceGroups/rg-app/providers/Microsoft.Compute/virtualMachines/app-vm"},
        {"location", "westeurope"},
        {"type", "Microsoft.Compute/virtualMachines"},
        {"properties",
         {{"vmId", "0f8fad5b-d9cb-469f-a165-70867728950e"},
          {"hardwareProfile", {{"vmSize", "Standard_D16s_v3"}}},
          {"storageProfile",
           {{"osDisk",
             {{"osType", "Linux"},
              {"name", "app-vm-os"},
              {"createOption", "FromImage"},
              {"managedDisk", {{"id", DiskId(999)}, {"storageAccountType", "Premium_LRS"}}}}},
            {"dataDisks", disks}}},
          {"provisioningState", "Succeeded"}}}};
    return KxJson::Serialize(vm);
}

void BM_ParseVmDocument64Disks(benchmark::State& state) {
    const std::string document = VmDocument(64);
    KxSnapAzureAPI api;
    for (auto _ : state) {
        AzureInstanceInfo instance;
        benchmark::DoNotOptimize(api.ParseVMInfoFromJSONReponse(document, instance));
        benchmark::DoNotOptimize(instance);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * document.size()));
}
BENCHMARK(BM_ParseVmDocument64Disks);

void BM_FreeLunWith63Taken(benchmark::State& state) {
    std::vector<AzureDiskInfo> disks(63);
    for (int lun = 0; lun < 63; ++lun) {
        disks[lun].lun = lun;
        disks[lun].id = DiskId(lun);
    }
    KxSnapAzureAPI api;
    for (auto _ : state) {
        int lun = -1;
        benchmark::DoNotOptimize(api.FindFirstFreeLUNIdForVM(disks, lun, 0));
        benchmark::DoNotOptimize(lun);
    }
}
BENCHMARK(BM_FreeLunWith63Taken);

void BM_VmUpdateBody64Disks(benchmark::State& state) {
    std::vector<AzureDiskInfo> disks(64);
    for (int lun = 0; lun < 64; ++lun) {
        disks[lun].lun = lun;
        disks[lun].id = DiskId(lun);
        disks[lun].name = "data-disk-" + std::to_string(lun);
        disks[lun].createOption = "Attach";
        disks[lun].caching = "None";
        disks[lun].storageAccountType = "Premium_LRS";
    }
    KxSnapAzureAPI api;
    for (auto _ : state) {
        KxJson::Value dataDisks = KxJson::Value::array();
        for (const AzureDiskInfo& disk : disks) {
            KxJson::Value entry;
            api.ConvertDiskInfoToJsonObj(disk, entry);
            dataDisks.push_back(std::move(entry));
        }
        KxJson::Value body = {{"properties", {{"storageProfile", {{"dataDisks", dataDisks}}}}}};
        benchmark::DoNotOptimize(KxJson::Serialize(body));
    }
}
BENCHMARK(BM_VmUpdateBody64Disks);

void BM_SnapshotAndDiskRequestBodies(benchmark::State& state) {
    AzureInstanceInfo instance;
    instance.location = "westeurope";
    instance.zones = {"1"};
    AzureDiskInfo disk;
    disk.id = DiskId(7);
    disk.name = "data-disk-7";
    disk.storageAccountType = "Premium_ZRS";
    AzureDiskSnapShotInfo snapshot;
    snapshot.name = "kx-snap-1";
    snapshot.id = std::string("subscriptions/") + kSubscription +
                  "/resourceGroups/rg-app/providers/Microsoft.Compute/snapshots/kx-snap-1";
    snapshot.storageAccountType = "Premium_ZRS";
    snapshot.originalDiskName = "data-disk-7";
    KxSnapAzureAPI api;
    for (auto _ : state) {
        snapshot.incremental = true;
        benchmark::DoNotOptimize(api.SnapshotRequestBody(disk, snapshot, instance));
        snapshot.incremental = false;
        benchmark::DoNotOptimize(api.SnapshotRequestBody(disk, snapshot, instance));
        benchmark::DoNotOptimize(api.DiskFromSnapshotRequestBody(instance, "kx-disk-7", snapshot));
    }
}
BENCHMARK(BM_SnapshotAndDiskRequestBodies);

void BM_SnapMetadataFormatAndParse(benchmark::State& state) {
    AzureSnapMetadata metadata;
    metadata.snapURL = std::string("/subscriptions/") + kSubscription +
                       "/resourceGroups/rg-app/providers/Microsoft.Compute/snapshots/kx-snap-1";
    metadata.sourceDiskURL = DiskId(7);
    metadata.sourceDiskName = "data-disk-7";
    metadata.sourceDiskSku = "Premium_LRS";
    for (auto _ : state) {
        std::string text;
        FormatAzureSnapMetaData(metadata, text);
        AzureSnapMetadata parsed;
        benchmark::DoNotOptimize(ParseAzureSnapMetaData(text, parsed));
    }
}
BENCHMARK(BM_SnapMetadataFormatAndParse);

void BM_NetAppResourceIdExpressions(benchmark::State& state) {
    const std::string snapshot = std::string("/subscriptions/") + kSubscription +
                                 "/resourceGroups/rg-files/providers/Microsoft.NetApp/"
                                 "netAppAccounts/files/capacityPools/pool1/volumes/share1/"
                                 "snapshots/kx-snap-1";
    const std::string device = "{idatype:nfs,type:nfs,lunuuid:\\/share1,targethostname:10.0.1.4}";
    for (auto _ : state) {
        std::smatch match;
        benchmark::DoNotOptimize(
            AzureNetApp::matchWhole(snapshot, AzureNetApp::rawSnapshotPathRegex(),
                                    AzureNetApp::resourceIdSeparators(), match));
        benchmark::DoNotOptimize(
            AzureNetApp::matchWhole(device, AzureNetApp::sourceDeviceNameRegex(),
                                    AzureNetApp::sourceDeviceNameSeparators(), match));
    }
}
BENCHMARK(BM_NetAppResourceIdExpressions);

}  // namespace

BENCHMARK_MAIN();
