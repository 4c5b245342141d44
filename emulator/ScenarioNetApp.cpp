// The scenario's networks, access and NetApp Files members (see README.md).
#include <algorithm>

#include "ArmPath.h"
#include "Ipv4.h"
#include "NetAppStore.h"
#include "ScenarioReader.h"
#include "Util.h"
#include "VirtualNetwork.h"

namespace azemu {
namespace scenario {

namespace {

std::string indexed(const std::string& where, size_t i) {
    return where + "[" + std::to_string(i) + "]";
}

void addGroup(SubscriptionInfo& sub, const Json& j, const std::string& where) {
    ResourceGroupInfo rg;
    if (j.is_string()) {
        rg.name = j.get<std::string>();
    } else {
        Reader r(j, where, {"name", "visible"});
        rg.name = r.str("name");
        rg.visible = r.boolean("visible", true);
    }
    if (rg.name.empty() || rg.name.find('/') != std::string::npos) {
        fail(where, "needs a resource group name");
    }
    // Naming a group that exists already only sets whether it can be seen.
    for (auto& existing : sub.resourceGroups) {
        if (iequals(existing.name, rg.name)) {
            existing.visible = rg.visible;
            return;
        }
    }
    sub.resourceGroups.push_back(rg);
}

void addGroups(SubscriptionInfo& sub, const Reader& r, const char* key) {
    const Json& groups = r.array(key);
    for (size_t i = 0; i < groups.size(); ++i)
        addGroup(sub, groups[i], indexed(r.at(key), i));
}

void parseSubscriptions(const Reader& top, ScenarioConfig& cfg) {
    SubscriptionInfo own;
    own.subscriptionId = cfg.machine.subscriptionId;
    own.displayName = top.str("subscriptionDisplayName", "Emulated subscription");
    own.visible = top.boolean("subscriptionVisible", true);
    own.resourceGroups.push_back({cfg.machine.resourceGroup, true});
    addGroups(own, top, "resourceGroups");
    cfg.subscriptions.push_back(own);
    const Json& others = top.array("otherSubscriptions");
    for (size_t i = 0; i < others.size(); ++i) {
        std::string where = indexed("otherSubscriptions", i);
        Reader r(others[i], where, {"subscriptionId", "displayName", "visible", "resourceGroups"});
        SubscriptionInfo sub;
        sub.subscriptionId = r.str("subscriptionId");
        if (sub.subscriptionId.empty())
            fail(r.at("subscriptionId"), "is required");
        if (findSubscription(cfg, sub.subscriptionId))
            fail(where, "repeats a subscription");
        sub.displayName = r.str("displayName", "Emulated subscription " + std::to_string(i + 2));
        sub.visible = r.boolean("visible", true);
        addGroups(sub, r, "resourceGroups");
        cfg.subscriptions.push_back(sub);
    }
    cfg.initial.resourceGroups.clear();
    for (const auto& rg : cfg.subscriptions[0].resourceGroups) {
        cfg.initial.resourceGroups.push_back(rg.name);
    }
}

// Subscription and resource group of a resource the scenario places; both must exist.
std::pair<std::string, std::string> placement(const Reader& r, const ScenarioConfig& cfg) {
    std::string sub = r.str("subscriptionId", cfg.machine.subscriptionId);
    std::string group = r.str("resourceGroup", cfg.machine.resourceGroup);
    const SubscriptionInfo* s = findSubscription(cfg, sub);
    if (!s)
        fail(r.at("subscriptionId"), "'" + sub + "' is not a subscription of the scenario");
    const ResourceGroupInfo* rg = findResourceGroup(*s, group);
    if (!rg)
        fail(r.at("resourceGroup"), "'" + group + "' is not a group of its subscription");
    return {s->subscriptionId, rg->name};
}

void parseVirtualNetworks(const Reader& top, ScenarioConfig& cfg) {
    const Json& vnets = top.array("virtualNetworks");
    for (size_t i = 0; i < vnets.size(); ++i) {
        std::string where = indexed("virtualNetworks", i);
        Reader r(vnets[i], where, {"name", "subscriptionId", "resourceGroup", "subnets"});
        auto [sub, group] = placement(r, cfg);
        std::string vnet = r.str("name");
        if (vnet.empty())
            fail(r.at("name"), "is required");
        const Json& subnets = r.array("subnets");
        for (size_t k = 0; k < subnets.size(); ++k) {
            Reader sr(subnets[k], indexed(r.at("subnets"), k), {"name", "addressPrefix"});
            SubnetInfo s;
            s.name = sr.str("name");
            auto prefix = parseIpv4Prefix(sr.str("addressPrefix"));
            if (s.name.empty())
                fail(sr.at("name"), "is required");
            if (!prefix)
                fail(sr.at("addressPrefix"), "must look like 10.20.1.0/24 (at most /29)");
            s.addressPrefix = prefix->text();
            s.subscriptionId = sub;
            s.resourceGroup = group;
            s.virtualNetwork = vnet;
            s.id = subnetResourceId(sub, group, vnet, s.name);
            if (findSubnet(cfg.subnets, s.id))
                fail(sr.at("name"), "repeats a subnet");
            cfg.subnets.push_back(s);
        }
    }
}

// "vnet/subnet" or a subnet's resource id, among the declared subnets.
const SubnetInfo& resolveSubnet(const ScenarioConfig& cfg, const std::string& ref,
                                const std::string& where) {
    if (ref.find("/providers/") != std::string::npos) {
        if (const SubnetInfo* s = findSubnet(cfg.subnets, ref))
            return *s;
    } else {
        auto parts = split(ref, '/');
        for (const auto& s : cfg.subnets) {
            if (parts.size() == 2 && iequals(s.virtualNetwork, parts[0]) &&
                iequals(s.name, parts[1])) {
                return s;
            }
        }
    }
    fail(where, "'" + ref + "' is not a subnet declared under virtualNetworks");
}

std::string dashedMac(const std::string& mac) {
    if (mac.size() != 12)
        return mac;
    std::string out;
    for (size_t i = 0; i < 12; i += 2)
        out += (i ? "-" : "") + toUpper(mac.substr(i, 2));
    return out;
}

// The VM's own NICs, in the order the metadata service lists its interfaces.
void addVmNics(ScenarioConfig& cfg) {
    const MachineInfo& m = cfg.machine;
    VmRecord* vm = localVm(cfg.initial);
    Json refs = Json::array();
    for (size_t i = 0; i < m.networkInterfaces.size(); ++i) {
        const NetworkInterfaceInfo& info = m.networkInterfaces[i];
        std::string prefix = info.subnetAddress + "/" + info.subnetPrefix;
        auto parsed = parseIpv4Prefix(prefix);
        const SubnetInfo* subnet = nullptr;
        for (const auto& s : cfg.subnets) {
            if (parsed && s.addressPrefix == parsed->text())
                subnet = &s;
        }
        if (!subnet) {
            SubnetInfo s;
            s.declared = false;
            s.subscriptionId = m.subscriptionId;
            s.resourceGroup = m.resourceGroup;
            s.virtualNetwork = m.vmName + "-vnet";
            s.name = i == 0 ? "default" : "subnet" + std::to_string(i + 1);
            s.addressPrefix = parsed ? parsed->text() : prefix;
            s.id = subnetResourceId(s.subscriptionId, s.resourceGroup, s.virtualNetwork, s.name);
            cfg.subnets.push_back(s);
            subnet = &cfg.subnets.back();
        }
        NicRecord nic;
        nic.name = m.vmName + "-nic" + (i == 0 ? "" : std::to_string(i + 1));
        nic.id = resourceGroupId(m.subscriptionId, m.resourceGroup) +
                 "/providers/Microsoft.Network/networkInterfaces/" + nic.name;
        nic.location = m.location;
        nic.macAddress = dashedMac(info.macAddress);
        nic.virtualMachineId = vm ? vm->id : "";
        nic.primary = i == 0;
        for (size_t k = 0; k < info.privateIps.size(); ++k) {
            nic.ipConfigurations.push_back(
                {"ipconfig" + std::to_string(k + 1), info.privateIps[k], subnet->id, k == 0});
        }
        refs.push_back({{"id", nic.id}});
        cfg.initial.networkInterfaces[idKey(nic.id)] = nic;
    }
    if (vm)
        vm->otherProperties["networkProfile"]["networkInterfaces"] = refs;
}

void addOtherNics(const Reader& top, ScenarioConfig& cfg) {
    const Json& nics = top.array("networkInterfaces");
    for (size_t i = 0; i < nics.size(); ++i) {
        std::string where = indexed("networkInterfaces", i);
        Reader r(nics[i], where,
                 {"name", "subscriptionId", "resourceGroup", "privateIpAddresses", "subnet",
                  "hostedWorkloads", "virtualMachine"});
        auto [sub, group] = placement(r, cfg);
        NicRecord nic;
        nic.name = r.str("name");
        if (nic.name.empty())
            fail(r.at("name"), "is required");
        nic.id = resourceGroupId(sub, group) + "/providers/Microsoft.Network/networkInterfaces/" +
                 nic.name;
        if (findById(cfg.initial.networkInterfaces, nic.id))
            fail(where, "repeats a NIC name");
        nic.location = cfg.machine.location;
        nic.virtualMachineId = r.str("virtualMachine");
        nic.hostedWorkloads = r.strings("hostedWorkloads");
        std::vector<std::string> ips = r.strings("privateIpAddresses");
        if (ips.empty())
            fail(r.at("privateIpAddresses"), "needs at least one address");
        for (size_t k = 0; k < ips.size(); ++k) {
            if (!parseIpv4(ips[k]))
                fail(r.at("privateIpAddresses"), "holds a bad address");
            const SubnetInfo* subnet = r.has("subnet")
                                           ? &resolveSubnet(cfg, r.str("subnet"), r.at("subnet"))
                                           : subnetContaining(cfg.subnets, ips[k]);
            std::string subnetId = subnet ? subnet->id : "";
            nic.ipConfigurations.push_back(
                {"ipconfig" + std::to_string(k + 1), ips[k], subnetId, k == 0});
        }
        cfg.initial.networkInterfaces[idKey(nic.id)] = nic;
    }
}

struct NetAppBuilder {
    ScenarioConfig& cfg;
    AzureState& state;

    void checkName(const Reader& r, const char* type, const std::string& name) {
        if (!isValidNetAppName(type, name)) {
            fail(r.at("name"), "'" + name + "' is not a valid name for " + type);
        }
    }

    void addAccount(const Json& j, const std::string& where) {
        Reader r(j, where,
                 {"name", "subscriptionId", "resourceGroup", "location", "tags", "capacityPools"});
        auto [sub, group] = placement(r, cfg);
        NetAppAccountRecord a;
        a.name = r.str("name");
        checkName(r, "netAppAccounts", a.name);
        a.id = netAppAccountId(sub, group, a.name);
        if (findById(state.netAppAccounts, a.id))
            fail(where, "repeats an account");
        a.location = r.str("location", cfg.machine.location);
        a.tags = r.tags("tags");
        state.netAppAccounts[idKey(a.id)] = a;
        const Json& pools = r.array("capacityPools");
        for (size_t i = 0; i < pools.size(); ++i) {
            addPool(pools[i], indexed(r.at("capacityPools"), i), a);
        }
    }

    void addPool(const Json& j, const std::string& where, const NetAppAccountRecord& account) {
        Reader r(j, where, {"name", "serviceLevel", "size", "tags", "volumes"});
        CapacityPoolRecord p;
        p.name = r.str("name");
        checkName(r, "capacityPools", p.name);
        p.id = childId(account.id, "capacityPools", p.name);
        if (findById(state.capacityPools, p.id))
            fail(where, "repeats a capacity pool");
        p.location = account.location;
        p.poolId = randomUuid();
        p.serviceLevel = r.str("serviceLevel", "Premium");
        p.sizeBytes = r.integer("size", 4398046511104);
        p.tags = r.tags("tags");
        state.capacityPools[idKey(p.id)] = p;
        const Json& volumes = r.array("volumes");
        for (size_t i = 0; i < volumes.size(); ++i) {
            addVolumeEntry(volumes[i], indexed(r.at("volumes"), i), p);
        }
    }

    std::vector<std::string> protocols(const Reader& r) {
        std::vector<std::string> out;
        for (const auto& p : r.strings("protocolTypes")) {
            std::string canonical = canonicalProtocol(p);
            if (canonical.empty())
                fail(r.at("protocolTypes"), "holds an unknown protocol " + p);
            out.push_back(canonical);
        }
        if (out.empty())
            out.push_back("NFSv3");
        return out;
    }

    const SubnetInfo& volumeSubnet(const Reader& r, const std::string& ip) {
        if (r.has("subnet"))
            return resolveSubnet(cfg, r.str("subnet"), r.at("subnet"));
        if (!ip.empty()) {
            if (const SubnetInfo* s = subnetContaining(cfg.subnets, ip))
                return *s;
            fail(r.at("mountTargetIp"), "lies in no subnet of the scenario");
        }
        std::vector<const SubnetInfo*> declared;
        for (const auto& s : cfg.subnets) {
            if (s.declared)
                declared.push_back(&s);
        }
        if (declared.size() != 1)
            fail(r.at("subnet"), "is needed to place the volume");
        return *declared[0];
    }

    void addVolumeEntry(const Json& j, const std::string& where, const CapacityPoolRecord& pool) {
        Reader r(j, where,
                 {"name", "creationToken", "mountTargetIp", "subnet", "usageThreshold",
                  "protocolTypes", "serviceLevel", "content", "tags", "exportRules", "snapshots"});
        NetAppVolumeRecord v;
        v.name = r.str("name");
        checkName(r, "volumes", v.name);
        v.id = childId(pool.id, "volumes", v.name);
        if (findById(state.netAppVolumes, v.id))
            fail(where, "repeats a volume");
        v.location = pool.location;
        v.creationToken = r.str("creationToken", v.name);
        if (!isValidCreationToken(v.creationToken)) {
            fail(r.at("creationToken"), "is not a valid export path");
        }
        if (creationTokenInUse(state, v.creationToken)) {
            fail(r.at("creationToken"), "is used by another volume");
        }
        v.serviceLevel = r.str("serviceLevel", pool.serviceLevel);
        v.usageThreshold = r.integer("usageThreshold", kMinVolumeQuota);
        if (v.usageThreshold < kMinVolumeQuota || v.usageThreshold > kMaxVolumeQuota) {
            fail(r.at("usageThreshold"), "must be between 100 GiB and 100 TiB in bytes");
        }
        v.protocolTypes = protocols(r);
        v.exportRules =
            r.has("exportRules") ? r.array("exportRules") : defaultExportRules(v.protocolTypes);
        v.tags = r.tags("tags");
        v.content = r.str("content", v.name + ":initial");
        std::string ip = r.str("mountTargetIp");
        const SubnetInfo& subnet = volumeSubnet(r, ip);
        if (ip.empty()) {
            auto free = allocateAddress(state, subnet);
            if (!free)
                fail(where, "finds no free address in " + subnet.addressPrefix);
            ip = *free;
        } else {
            auto address = parseIpv4(ip);
            auto prefix = parseIpv4Prefix(subnet.addressPrefix);
            if (!address || !prefix || !prefix->contains(*address)) {
                fail(r.at("mountTargetIp"), "is not an address of " + subnet.addressPrefix);
            }
            // Volumes may share a mount target address (and its NIC); nothing else may.
            for (const auto& [key, nic] : state.networkInterfaces) {
                for (const auto& c : nic.ipConfigurations) {
                    if (!nic.servesVolumes && c.privateIp == ip &&
                        idKey(c.subnetId) == idKey(subnet.id)) {
                        fail(r.at("mountTargetIp"), "is used by NIC " + nic.name);
                    }
                }
            }
        }
        NetAppVolumeRecord& stored = addVolume(state, subnet, v, ip);
        const Json& snaps = r.array("snapshots");
        for (size_t i = 0; i < snaps.size(); ++i) {
            addSnapshotEntry(snaps[i], indexed(r.at("snapshots"), i), stored);
        }
    }

    void addSnapshotEntry(const Json& j, const std::string& where, const NetAppVolumeRecord& v) {
        Reader r(j, where, {"name", "content", "created"});
        NetAppSnapshotRecord s;
        s.name = r.str("name");
        checkName(r, "snapshots", s.name);
        s.id = childId(v.id, "snapshots", s.name);
        if (findById(state.netAppSnapshots, s.id))
            fail(where, "repeats a snapshot");
        s.location = v.location;
        s.snapshotId = randomUuid();
        s.fileSystemId = v.fileSystemId;
        s.created = r.str("created", isoTimeSeconds(nowMs()));
        s.content = r.str("content", v.content);
        state.netAppSnapshots[idKey(s.id)] = s;
    }
};

}  // namespace

void addNetworksAndNetApp(const Reader& top, ScenarioConfig& cfg) {
    parseSubscriptions(top, cfg);
    parseVirtualNetworks(top, cfg);
    addVmNics(cfg);
    addOtherNics(top, cfg);
    NetAppBuilder netApp{cfg, cfg.initial};
    const Json& accounts = top.array("netAppAccounts");
    for (size_t i = 0; i < accounts.size(); ++i) {
        netApp.addAccount(accounts[i], indexed("netAppAccounts", i));
    }
}

}  // namespace scenario
}  // namespace azemu
