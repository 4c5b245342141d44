// Network interfaces and the addresses in subnets: the VM's own NICs, the NICs NetApp Files
// makes for its mount targets (their hostedWorkloads name the volumes served there), and
// handing out a free address for a new mount target.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Model.h"
#include "Scenario.h"

namespace azemu {

const SubnetInfo* findSubnet(const std::vector<SubnetInfo>& subnets, const std::string& id);
// The subnet whose prefix holds `ip`; declared subnets are preferred.
const SubnetInfo* subnetContaining(const std::vector<SubnetInfo>& subnets, const std::string& ip);
std::string subnetResourceId(const std::string& subscription, const std::string& group,
                             const std::string& vnet, const std::string& subnet);

// True when a NIC or a mount target already uses `ip` in that subnet.
bool addressInUse(const AzureState& state, const SubnetInfo& subnet, const std::string& ip);
// The lowest address of the subnet nothing uses yet; nullopt when the subnet is full.
std::optional<std::string> allocateAddress(const AzureState& state, const SubnetInfo& subnet);

// Makes sure the volume's mount target address has its NetApp Files NIC (in the subnet's
// resource group, as Azure puts it beside the virtual network).
void attachVolumeNic(AzureState& state, const SubnetInfo& subnet, const NetAppVolumeRecord& volume);
// Removes NetApp Files NICs that no longer serve any volume.
void dropIdleVolumeNics(AzureState& state);

// Volume ids served at the NIC's addresses, then the NIC's own listed workloads.
std::vector<std::string> hostedWorkloads(const AzureState& state, const NicRecord& nic);
// Shaped like Network's NetworkInterfaces_Get.
Json renderNic(const AzureState& state, const NicRecord& nic);

}  // namespace azemu
