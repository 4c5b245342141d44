// The scenario file: the machine the emulator pretends to run on and the Azure resources that
// exist when it starts. The format is described in README.md and `azure-emulator --help`.
#pragma once

#include <string>
#include <vector>

#include "EmulatorTypes.h"
#include "Model.h"

namespace azemu {

struct NetworkInterfaceInfo {
    std::vector<std::string> privateIps;
    std::string publicIp;
    std::string subnetAddress = "10.0.0.0";
    std::string subnetPrefix = "24";
    std::string macAddress;
};

struct ExtraBlockDevice {
    std::string name;         // loop0, ram0, dm-0, sr0 ...
    std::string scsiAddress;  // empty for devices without one
};

// What the metadata service says about the machine beyond the Compute model, and how its
// device tree is wired. Fixed for the emulator's life.
struct MachineInfo {
    std::string tenantId;
    std::string subscriptionId;
    std::string resourceGroup;
    std::string location;
    std::string vmName;
    std::string computerName;
    std::string adminUsername = "azureuser";
    bool identityEnabled = true;
    std::string clientId;
    std::string objectId;
    std::vector<NetworkInterfaceInfo> networkInterfaces;
    int dataDiskScsiHost = 3;
    bool resourceDisk = true;
    // Generation 1 puts the OS disk on a controller of its own (VMBus id
    // {00000000-0000-...}) and the optical drive beside the resource disk;
    // generation 2 puts the OS disk and the optical drive (LUN 2) on the
    // controller {f8b3781a-...}. Data disks sit on {f8b3781b-...} in both.
    int generation = 1;
    bool opticalDrive = true;
    std::vector<ExtraBlockDevice> blockDevices;
};

// A resource group and whether the VM's identity has a role on it. Groups it has none on are
// left out of lists, and requests into them are refused as Resource Manager refuses them.
struct ResourceGroupInfo {
    std::string name;
    bool visible = true;
};

struct SubscriptionInfo {
    std::string subscriptionId;
    std::string displayName;
    bool visible = true;
    std::vector<ResourceGroupInfo> resourceGroups;
};

// A subnet addresses are handed out from: declared under virtualNetworks, or made up for the
// VM's own network interfaces.
struct SubnetInfo {
    std::string id;  // .../providers/Microsoft.Network/virtualNetworks/{vnet}/subnets/{name}
    std::string subscriptionId;
    std::string resourceGroup;
    std::string virtualNetwork;
    std::string name;
    std::string addressPrefix;  // "10.20.1.0/24"
    bool declared = true;
};

struct ScenarioConfig {
    MachineInfo machine;
    AzureState initial;  // the Azure side as the scenario describes it
    Settings settings;
    std::vector<SubscriptionInfo> subscriptions;  // the VM's own first
    std::vector<SubnetInfo> subnets;
};

const SubscriptionInfo* findSubscription(const ScenarioConfig& config, const std::string& id);
const ResourceGroupInfo* findResourceGroup(const SubscriptionInfo& sub, const std::string& name);

// Throws std::invalid_argument naming the offending member.
ScenarioConfig parseScenario(const Json& scenario);

}  // namespace azemu
