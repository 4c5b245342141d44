#include "kxsnap/DemoScenarios.h"

namespace kxsnap {

const char* const kManagedDiskDevices[4] = {"/dev/sdc", "/dev/sdd", "/dev/sde", "/dev/sdf"};
const char* const kNetAppMountPoints[2] = {"/mnt/sales", "/mnt/builds"};

std::string ManagedDiskScenario() {
    return R"({
  "resourceGroup": "kx-demo-rg",
  "location": "westeurope",
  "vm": {
    "name": "kxdemo-vm",
    "size": "Standard_D4s_v3",
    "maxDataDisks": 16,
    "dataDisks": [
      {"lun": 0, "name": "kxdemo-data0", "sku": "Premium_LRS", "sizeGB": 128},
      {"lun": 1, "name": "kxdemo-data1", "sku": "Premium_LRS", "sizeGB": 128},
      {"lun": 2, "name": "kxdemo-logs", "sku": "StandardSSD_LRS", "sizeGB": 64},
      {"lun": 3, "name": "kxdemo-archive", "sku": "Standard_LRS", "sizeGB": 256}
    ],
    "networkInterfaces": [{"privateIpAddresses": ["10.20.0.4"], "subnet": "10.20.0.0/24"}]
  },
  "settings": {"provisioningDelayMs": 0, "asyncOperationDelayMs": 0, "deviceDelayMs": 0}
})";
}

std::string NetAppScenario() {
    return R"({
  "resourceGroup": "kx-demo-rg",
  "location": "westeurope",
  "vm": {
    "name": "kxdemo-nfs-vm",
    "dataDisks": [],
    "networkInterfaces": [{"privateIpAddresses": ["10.20.0.4"], "subnet": "10.20.0.0/24"}]
  },
  "virtualNetworks": [{"name": "kx-vnet", "subnets": [
    {"name": "default", "addressPrefix": "10.20.0.0/24"},
    {"name": "anf", "addressPrefix": "10.20.1.0/24"}]}],
  "netAppAccounts": [{"name": "kx-anf", "capacityPools": [{"name": "pool1", "volumes": [
    {"name": "sales", "creationToken": "sales", "mountTargetIp": "10.20.1.4",
     "subnet": "kx-vnet/anf"},
    {"name": "builds", "creationToken": "builds", "mountTargetIp": "10.20.1.4",
     "subnet": "kx-vnet/anf"}]}]}]
})";
}

std::string NetAppMounts() {
    return "/dev/sda1 / ext4 rw,relatime 0 0\n"
           "10.20.1.4:/sales /mnt/sales nfs4 rw,relatime,vers=4.1,hard,proto=tcp 0 0\n"
           "10.20.1.4:/builds /mnt/builds nfs4 rw,relatime,vers=4.1,hard,proto=tcp 0 0\n";
}

}  // namespace kxsnap
