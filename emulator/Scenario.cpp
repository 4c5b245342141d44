#include "Scenario.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "ArmPath.h"
#include "ComputeDisks.h"
#include "ScenarioReader.h"
#include "Util.h"

namespace azemu {

namespace {

using scenario::fail;
using scenario::Reader;

// Members that only the emulated machine itself has: they wire its metadata and device tree.
const std::set<std::string> kLocalVmOnly = {"computerName",     "adminUsername",
                                            "resourceDisk",     "dataDiskScsiHost",
                                            "networkInterfaces", "generation",
                                            "opticalDrive"};

struct Builder {
    const MachineInfo& machine;
    AzureState& state;
    int64_t now = nowMs();

    std::string diskIdFor(const std::string& name) const {
        return computeResourceId(machine.subscriptionId, machine.resourceGroup, "disks", name);
    }

    std::string checkedSku(const Reader& r, const char* key, const std::string& def,
                           bool snapshot) const {
        std::string sku = canonicalSku(r.str(key, def), snapshot);
        if (sku.empty())
            fail(r.at(key), "is not a " + std::string(snapshot ? "snapshot" : "disk") + " SKU");
        return sku;
    }

    DiskRecord& addDisk(const std::string& where, const std::string& name) {
        if (!isValidComputeName(name))
            fail(where, "'" + name + "' is not a valid disk name");
        std::string id = diskIdFor(name);
        if (findDisk(state, id))
            fail(where, "disk '" + name + "' is defined twice");
        DiskRecord d;
        d.kind = "disks";
        d.id = id;
        d.name = name;
        d.location = machine.location;
        d.createOption = "Empty";
        d.uniqueId = randomUuid();
        d.timeCreated = isoTime(now);
        return state.disks[idKey(id)] = d;
    }

    DiskRecord& addFreeDisk(const Json& j, const std::string& where) {
        Reader r(j, where, {"name", "sku", "sizeGB", "zones", "tags", "osType"});
        DiskRecord& d = addDisk(where, r.str("name"));
        d.sku = checkedSku(r, "sku", "Standard_LRS", false);
        d.sizeGB = r.integer("sizeGB", 64);
        d.zones = r.strings("zones");
        d.tags = r.tags("tags");
        d.osType = r.str("osType");
        return d;
    }

    OsDiskEntry addOsDisk(const Json& j, const std::string& where, VmRecord& vm) {
        Reader r(j, where, {"name", "sku", "sizeGB", "osType", "caching"});
        DiskRecord& d = addDisk(where, r.str("name", vm.name + "_OsDisk_1"));
        d.sku = checkedSku(r, "sku", "Premium_LRS", false);
        d.sizeGB = r.integer("sizeGB", 30);
        d.osType = r.str("osType", "Linux");
        d.createOption = "FromImage";
        d.zones = vm.zones;
        d.managedBy = vm.id;
        OsDiskEntry os;
        os.name = d.name;
        os.diskId = d.id;
        os.osType = d.osType;
        os.caching = r.str("caching", "ReadWrite");
        return os;
    }

    DataDiskEntry addDataDisk(const Json& j, const std::string& where, VmRecord& vm) {
        Reader r(
            j, where,
            {"lun", "name", "sku", "sizeGB", "caching", "createOption", "tags", "zones", "vhdUri"});
        if (!r.has("lun"))
            fail(where, "needs a lun");
        DataDiskEntry e;
        e.lun = static_cast<int>(r.integer("lun", 0));
        if (e.lun < 0 || e.lun > 63)
            fail(r.at("lun"), "must be between 0 and 63");
        e.caching = r.str("caching", "None");
        e.createOption = r.str("createOption", "Attach");
        if (r.has("vhdUri")) {
            e.vhdUri = r.str("vhdUri");
            e.name = r.str("name", vm.name + "-vhd-lun" + std::to_string(e.lun));
            e.sizeGB = r.integer("sizeGB", 128);
            return e;
        }
        DiskRecord& d =
            addDisk(where, r.str("name", vm.name + "_DataDisk_" + std::to_string(e.lun)));
        d.sku = checkedSku(r, "sku", "Premium_LRS", false);
        d.sizeGB = r.integer("sizeGB", 128);
        d.zones = r.has("zones") ? r.strings("zones") : vm.zones;
        d.tags = r.tags("tags");
        d.managedBy = vm.id;
        e.name = d.name;
        e.diskId = d.id;
        return e;
    }

    VmRecord& addVm(const Json& j, const std::string& where, bool local) {
        std::set<std::string> allowed = {"name", "vmId",   "size",      "maxDataDisks", "zones",
                                         "tags", "osDisk", "dataDisks", "image"};
        if (local)
            allowed.insert(kLocalVmOnly.begin(), kLocalVmOnly.end());
        Reader r(j, where, allowed);
        VmRecord vm;
        vm.name = r.str("name", local ? machine.vmName : "");
        if (!isValidComputeName(vm.name))
            fail(r.at("name"), "is not a valid VM name");
        vm.id = computeResourceId(machine.subscriptionId, machine.resourceGroup, "virtualMachines",
                                  vm.name);
        if (findVm(state, vm.id))
            fail(where, "VM '" + vm.name + "' is defined twice");
        vm.location = machine.location;
        vm.vmId = r.str("vmId", randomUuid());
        vm.vmSize = r.str("size", "Standard_D4s_v3");
        vm.maxDataDisks = static_cast<int>(r.integer("maxDataDisks", 64));
        vm.zones = r.strings("zones");
        vm.tags = r.tags("tags");
        vm.local = local;
        Json image = r.object("image");
        vm.imageReference = {{"publisher", image.value("publisher", "ExamplePublisher")},
                             {"offer", image.value("offer", "example-linux")},
                             {"sku", image.value("sku", "1-gen2")},
                             {"version", image.value("version", "latest")}};
        vm.osDisk = addOsDisk(r.object("osDisk"), r.at("osDisk"), vm);
        std::set<int> luns;
        const Json& disks = r.array("dataDisks");
        for (size_t i = 0; i < disks.size(); ++i) {
            std::string w = r.at("dataDisks") + "[" + std::to_string(i) + "]";
            DataDiskEntry e = addDataDisk(disks[i], w, vm);
            if (!luns.insert(e.lun).second)
                fail(w, "uses LUN " + std::to_string(e.lun) + " twice");
            vm.dataDisks.push_back(e);
        }
        std::sort(vm.dataDisks.begin(), vm.dataDisks.end(),
                  [](const auto& a, const auto& b) { return a.lun < b.lun; });
        std::string computer = local ? machine.computerName : vm.name;
        vm.otherProperties = {
            {"osProfile",
             {{"computerName", computer.empty() ? vm.name : computer},
              {"adminUsername", machine.adminUsername},
              {"linuxConfiguration", {{"disablePasswordAuthentication", true}}},
              {"secrets", Json::array()}}},
            {"networkProfile",
             {{"networkInterfaces",
               Json::array({{{"id", resourceGroupId(machine.subscriptionId, machine.resourceGroup) +
                                        "/providers/Microsoft.Network/networkInterfaces/" +
                                        vm.name + "-nic"}}})}}},
        };
        return state.vms[idKey(vm.id)] = vm;
    }

    void addSnapshot(const Json& j, const std::string& where) {
        Reader r(j, where,
                 {"name", "sourceDisk", "incremental", "sku", "sizeGB", "tags", "timeCreated",
                  "provisioningState"});
        std::string name = r.str("name");
        if (!isValidComputeName(name))
            fail(r.at("name"), "is not a valid snapshot name");
        DiskRecord s;
        s.kind = "snapshots";
        s.id = computeResourceId(machine.subscriptionId, machine.resourceGroup, "snapshots", name);
        if (findDisk(state, s.id))
            fail(where, "snapshot '" + name + "' is defined twice");
        s.name = name;
        s.location = machine.location;
        s.createOption = "Copy";
        s.incremental = r.boolean("incremental", false);
        s.sku = checkedSku(r, "sku", "Standard_LRS", true);
        s.tags = r.tags("tags");
        s.timeCreated = r.str("timeCreated", isoTime(now));
        s.provisioningState = r.str("provisioningState", "Succeeded");
        s.uniqueId = randomUuid();
        s.sizeGB = r.integer("sizeGB", 0);
        std::string source = r.str("sourceDisk");
        if (!source.empty()) {
            const DiskRecord* src =
                findDisk(state, source.find('/') == std::string::npos ? diskIdFor(source) : source);
            if (!src)
                fail(r.at("sourceDisk"), "'" + source + "' is not a disk of the scenario");
            s.sourceResourceId = src->id;
            s.sourceUniqueId = src->uniqueId;
            s.osType = src->osType;
            if (s.sizeGB == 0)
                s.sizeGB = src->sizeGB;
        }
        if (s.sizeGB == 0)
            s.sizeGB = 128;
        state.disks[idKey(s.id)] = s;
    }
};

NetworkInterfaceInfo parseNic(const Json& j, const std::string& where) {
    Reader r(j, where, {"privateIpAddresses", "publicIpAddress", "subnet", "macAddress"});
    NetworkInterfaceInfo nic;
    nic.privateIps = r.strings("privateIpAddresses");
    nic.publicIp = r.str("publicIpAddress");
    std::string subnet = r.str("subnet", "10.0.0.0/24");
    auto slash = subnet.find('/');
    if (slash == std::string::npos)
        fail(r.at("subnet"), "must look like 10.0.0.0/24");
    nic.subnetAddress = subnet.substr(0, slash);
    nic.subnetPrefix = subnet.substr(slash + 1);
    nic.macAddress = r.str("macAddress", "000D3A" + toUpper(randomHex(3)));
    return nic;
}

ExtraBlockDevice parseBlockDevice(const Json& j, const std::string& where) {
    ExtraBlockDevice d;
    if (j.is_string()) {
        d.name = j.get<std::string>();
    } else {
        Reader r(j, where, {"name", "scsiAddress"});
        d.name = r.str("name");
        d.scsiAddress = r.str("scsiAddress");
        if (!d.scsiAddress.empty() && split(d.scsiAddress, ':').size() != 4) {
            fail(r.at("scsiAddress"), "must look like H:C:T:L");
        }
    }
    if (d.name.empty() || d.name.find('/') != std::string::npos || d.name[0] == '.') {
        fail(where, "needs a plain device name");
    }
    return d;
}

void parseMachine(const Reader& top, const Json& vmJson, MachineInfo& m) {
    m.tenantId = top.str("tenantId", "00000000-0000-0000-0000-00000000000a");
    m.subscriptionId = top.str("subscriptionId", "11111111-2222-3333-4444-555555555555");
    m.resourceGroup = top.str("resourceGroup", "kx-rg");
    m.location = top.str("location", "westeurope");
    if (m.subscriptionId.empty() || m.resourceGroup.empty() || m.location.empty()) {
        fail("subscriptionId/resourceGroup/location", "must not be empty");
    }
    Json identity = top.object("identity");
    Reader ir(identity, "identity", {"enabled", "clientId", "objectId"});
    m.identityEnabled = ir.boolean("enabled", true);
    m.clientId = ir.str("clientId", randomUuid());
    m.objectId = ir.str("objectId", randomUuid());

    std::set<std::string> vmMembers = kLocalVmOnly;
    for (const auto& item : vmJson.items())
        vmMembers.insert(item.key());  // checked in addVm
    Reader vr(vmJson, "vm", vmMembers);
    m.vmName = vr.str("name", "kxvm");
    m.computerName = vr.str("computerName", m.vmName);
    m.adminUsername = vr.str("adminUsername", "azureuser");
    m.resourceDisk = vr.boolean("resourceDisk", true);
    m.dataDiskScsiHost = static_cast<int>(vr.integer("dataDiskScsiHost", 3));
    m.generation = static_cast<int>(vr.integer("generation", 1));
    if (m.generation != 1 && m.generation != 2) fail("vm.generation", "must be 1 or 2");
    m.opticalDrive = vr.boolean("opticalDrive", true);
    const Json& nics = vr.array("networkInterfaces");
    for (size_t i = 0; i < nics.size(); ++i) {
        m.networkInterfaces.push_back(
            parseNic(nics[i], "vm.networkInterfaces[" + std::to_string(i) + "]"));
    }
    if (m.networkInterfaces.empty()) {
        m.networkInterfaces.push_back(parseNic(Json::object(), "vm.networkInterfaces[0]"));
        m.networkInterfaces[0].privateIps = {"10.0.0.4"};
    }
    const Json& devices = top.array("blockDevices");
    for (size_t i = 0; i < devices.size(); ++i) {
        m.blockDevices.push_back(
            parseBlockDevice(devices[i], "blockDevices[" + std::to_string(i) + "]"));
    }
}

}  // namespace

const SubscriptionInfo* findSubscription(const ScenarioConfig& config, const std::string& id) {
    for (const auto& sub : config.subscriptions) {
        if (iequals(sub.subscriptionId, id))
            return &sub;
    }
    return nullptr;
}

const ResourceGroupInfo* findResourceGroup(const SubscriptionInfo& sub, const std::string& name) {
    for (const auto& rg : sub.resourceGroups) {
        if (iequals(rg.name, name))
            return &rg;
    }
    return nullptr;
}

ScenarioConfig parseScenario(const Json& scenario) {
    Reader top(scenario, "",
               {"tenantId", "subscriptionId", "resourceGroup", "location", "identity", "vm",
                "otherVms", "disks", "snapshots", "blockDevices", "settings",
                "subscriptionDisplayName", "subscriptionVisible", "resourceGroups",
                "otherSubscriptions", "virtualNetworks", "networkInterfaces", "netAppAccounts"});
    ScenarioConfig cfg;
    Json vmJson = top.object("vm");
    parseMachine(top, vmJson, cfg.machine);
    if (cfg.machine.dataDiskScsiHost < 2)
        fail("vm.dataDiskScsiHost", "must be 2 or more");

    cfg.initial.resourceGroups = {cfg.machine.resourceGroup};
    Builder b{cfg.machine, cfg.initial};
    b.addVm(vmJson, "vm", true);
    const Json& others = top.array("otherVms");
    for (size_t i = 0; i < others.size(); ++i) {
        b.addVm(others[i], "otherVms[" + std::to_string(i) + "]", false);
    }
    const Json& disks = top.array("disks");
    for (size_t i = 0; i < disks.size(); ++i) {
        b.addFreeDisk(disks[i], "disks[" + std::to_string(i) + "]");
    }
    const Json& snaps = top.array("snapshots");
    for (size_t i = 0; i < snaps.size(); ++i) {
        b.addSnapshot(snaps[i], "snapshots[" + std::to_string(i) + "]");
    }
    scenario::addNetworksAndNetApp(top, cfg);
    try {
        cfg.settings = Settings::fromJson(top.object("settings"));
    } catch (const std::invalid_argument& e) {
        fail("settings", e.what());
    }
    return cfg;
}

}  // namespace azemu
