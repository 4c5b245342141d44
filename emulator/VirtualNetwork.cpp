#include "VirtualNetwork.h"

#include <algorithm>

#include "ArmPath.h"
#include "Ipv4.h"
#include "Util.h"

namespace azemu {

namespace {

std::string nicResourceId(const std::string& subscription, const std::string& group,
                          const std::string& name) {
    return resourceGroupId(subscription, group) +
           "/providers/Microsoft.Network/networkInterfaces/" + name;
}

bool sameSubnet(const std::string& a, const std::string& b) {
    return idKey(a) == idKey(b);
}

bool nicHasAddress(const NicRecord& nic, const std::string& subnetId, const std::string& ip) {
    return std::any_of(nic.ipConfigurations.begin(), nic.ipConfigurations.end(),
                       [&](const IpConfigurationRecord& c) {
                           return c.privateIp == ip && sameSubnet(c.subnetId, subnetId);
                       });
}

bool volumeHasAddress(const NetAppVolumeRecord& v, const std::string& subnetId,
                      const std::string& ip) {
    if (!sameSubnet(v.subnetId, subnetId))
        return false;
    return std::any_of(v.mountTargets.begin(), v.mountTargets.end(),
                       [&](const MountTargetRecord& m) { return m.ipAddress == ip; });
}

}  // namespace

const SubnetInfo* findSubnet(const std::vector<SubnetInfo>& subnets, const std::string& id) {
    for (const auto& s : subnets) {
        if (sameSubnet(s.id, id))
            return &s;
    }
    return nullptr;
}

const SubnetInfo* subnetContaining(const std::vector<SubnetInfo>& subnets, const std::string& ip) {
    auto address = parseIpv4(ip);
    if (!address)
        return nullptr;
    const SubnetInfo* found = nullptr;
    for (const auto& s : subnets) {
        auto prefix = parseIpv4Prefix(s.addressPrefix);
        if (!prefix || !prefix->contains(*address))
            continue;
        if (s.declared)
            return &s;
        if (!found)
            found = &s;
    }
    return found;
}

std::string subnetResourceId(const std::string& subscription, const std::string& group,
                             const std::string& vnet, const std::string& subnet) {
    return resourceGroupId(subscription, group) + "/providers/Microsoft.Network/virtualNetworks/" +
           vnet + "/subnets/" + subnet;
}

bool addressInUse(const AzureState& state, const SubnetInfo& subnet, const std::string& ip) {
    for (const auto& [key, nic] : state.networkInterfaces) {
        if (nicHasAddress(nic, subnet.id, ip))
            return true;
    }
    for (const auto& [key, v] : state.netAppVolumes) {
        if (volumeHasAddress(v, subnet.id, ip))
            return true;
    }
    return false;
}

std::optional<std::string> allocateAddress(const AzureState& state, const SubnetInfo& subnet) {
    auto prefix = parseIpv4Prefix(subnet.addressPrefix);
    if (!prefix)
        return std::nullopt;
    for (uint32_t a = prefix->network + kAzureReservedLow; a < prefix->broadcast(); ++a) {
        std::string ip = formatIpv4(a);
        if (!addressInUse(state, subnet, ip))
            return ip;
    }
    return std::nullopt;
}

void attachVolumeNic(AzureState& state, const SubnetInfo& subnet,
                     const NetAppVolumeRecord& volume) {
    for (const auto& target : volume.mountTargets) {
        bool present = std::any_of(state.networkInterfaces.begin(), state.networkInterfaces.end(),
                                   [&](const auto& kv) {
                                       return kv.second.servesVolumes &&
                                              nicHasAddress(kv.second, subnet.id, target.ipAddress);
                                   });
        if (present)
            continue;
        std::string dashed = target.ipAddress;
        std::replace(dashed.begin(), dashed.end(), '.', '-');
        NicRecord nic;
        nic.name = "anf-" + subnet.virtualNetwork + "-nic-" + dashed;
        nic.id = nicResourceId(subnet.subscriptionId, subnet.resourceGroup, nic.name);
        nic.location = volume.location;
        nic.servesVolumes = true;
        nic.ipConfigurations.push_back({"ipconfig1", target.ipAddress, subnet.id, true});
        state.networkInterfaces[idKey(nic.id)] = nic;
    }
}

void dropIdleVolumeNics(AzureState& state) {
    for (auto it = state.networkInterfaces.begin(); it != state.networkInterfaces.end();) {
        const NicRecord& nic = it->second;
        bool idle =
            nic.servesVolumes && nic.hostedWorkloads.empty() && hostedWorkloads(state, nic).empty();
        it = idle ? state.networkInterfaces.erase(it) : std::next(it);
    }
}

std::vector<std::string> hostedWorkloads(const AzureState& state, const NicRecord& nic) {
    std::vector<std::string> out;
    if (nic.servesVolumes) {
        for (const auto& [key, v] : state.netAppVolumes) {
            bool served = std::any_of(nic.ipConfigurations.begin(), nic.ipConfigurations.end(),
                                      [&](const IpConfigurationRecord& c) {
                                          return volumeHasAddress(v, c.subnetId, c.privateIp);
                                      });
            if (served)
                out.push_back(v.id);
        }
    }
    out.insert(out.end(), nic.hostedWorkloads.begin(), nic.hostedWorkloads.end());
    return out;
}

Json renderNic(const AzureState& state, const NicRecord& nic) {
    Json configs = Json::array();
    for (const auto& c : nic.ipConfigurations) {
        configs.push_back({{"name", c.name},
                           {"id", nic.id + "/ipConfigurations/" + c.name},
                           {"properties",
                            {{"provisioningState", "Succeeded"},
                             {"privateIPAddress", c.privateIp},
                             {"privateIPAllocationMethod", "Dynamic"},
                             {"subnet", {{"id", c.subnetId}}},
                             {"primary", c.primary},
                             {"privateIPAddressVersion", "IPv4"}}}});
    }
    Json props = {
        {"provisioningState", "Succeeded"},
        {"ipConfigurations", configs},
        {"dnsSettings", {{"dnsServers", Json::array()}, {"appliedDnsServers", Json::array()}}},
        {"enableAcceleratedNetworking", false},
        {"enableIPForwarding", false},
        {"hostedWorkloads", hostedWorkloads(state, nic)}};
    if (!nic.macAddress.empty())
        props["macAddress"] = nic.macAddress;
    if (!nic.virtualMachineId.empty()) {
        props["primary"] = nic.primary;
        props["virtualMachine"] = {{"id", nic.virtualMachineId}};
    }
    return {{"name", nic.name},
            {"id", nic.id},
            {"location", nic.location},
            {"properties", props},
            {"type", "Microsoft.Network/networkInterfaces"}};
}

}  // namespace azemu
