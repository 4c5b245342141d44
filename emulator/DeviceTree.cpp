#include "DeviceTree.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "Util.h"

namespace fs = std::filesystem;

namespace azemu {

namespace {

const char* kMarker = ".azure-emulator-root";
const char* kTrash = "sys/devices/.removed";

void makeDirs(const fs::path& p) {
    std::error_code ec;
    fs::create_directories(p, ec);
    if (ec) throw std::runtime_error("cannot create " + p.string() + ": " + ec.message());
}

void touch(const fs::path& p) {
    std::ofstream f(p, std::ios::app);
    if (!f) throw std::runtime_error("cannot create " + p.string());
}

// A symlink appears in one step: made under a hidden name, then renamed over the final one.
// Readers skip names starting with '.', as they skip them in /sys/block.
void atomicSymlink(const std::string& target, const fs::path& link) {
    fs::path tmp = link.parent_path() / ("." + link.filename().string() + ".new");
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), link.c_str()) != 0) {
        throw std::runtime_error("cannot create link " + link.string());
    }
}

void removeLinkIfTo(const fs::path& link, const std::string& target) {
    std::error_code ec;
    if (fs::is_symlink(link, ec) && fs::read_symlink(link, ec).string() == target) {
        fs::remove(link, ec);
    }
}

void removeTree(const fs::path& p) {
    std::error_code ec;
    fs::remove_all(p, ec);
    if (ec) throw std::runtime_error("cannot remove " + p.string() + ": " + ec.message());
}

struct ScsiAddress {
    int host = 0, channel = 0, target = 0, lun = 0;
};

ScsiAddress parseAddress(const std::string& text) {
    auto parts = split(text, ':');
    if (parts.size() != 4) throw std::runtime_error("bad SCSI address " + text);
    return {std::stoi(parts[0]), std::stoi(parts[1]), std::stoi(parts[2]), std::stoi(parts[3])};
}


}  // namespace

std::string scsiDiskName(size_t index) {
    std::string suffix;
    size_t n = index + 1;
    while (n > 0) {
        --n;
        suffix.insert(suffix.begin(), static_cast<char>('a' + n % 26));
        n /= 26;
    }
    return "sd" + suffix;
}

std::string scsiAddress(int host, int channel, int target, int lun) {
    return std::to_string(host) + ":" + std::to_string(channel) + ":" + std::to_string(target) +
           ":" + std::to_string(lun);
}

std::map<int, std::string> controllerIds(const MachineInfo& machine) {
    std::map<int, std::string> ids;
    ids[0] = machine.generation == 2 ? "{f8b3781a-1e82-4818-a1c3-63d806ec15bb}"
                                     : "{00000000-0000-8899-0000-000000000000}";
    ids[1] = "{00000000-0001-8899-0000-000000000000}";
    ids[machine.dataDiskScsiHost] = "{f8b3781b-1e82-4818-a1c3-63d806ec15bb}";
    return ids;
}

DeviceTree::DeviceTree(std::string root, std::map<int, std::string> controllerIds,
                       std::string osLink)
    : root_(std::move(root)), controllerIds_(std::move(controllerIds)), osLink_(std::move(osLink)) {}

// The partition a real OS or resource disk carries, and the udev link named after it.
const char* DeviceTree::partitionLink(const std::string& role) const {
    if (role == "os") return osLink_.c_str();
    if (role == "resource") return "resource";
    return nullptr;
}

// A host the layout does not name gets an id no device rule treats as a
// data-disk controller.
void DeviceTree::writeControllerId(int host) const {
    auto known = controllerIds_.find(host);
    char other[64];
    std::snprintf(other, sizeof(other), "{5e1f0c2a-77d4-4c1b-9a3e-%012d}", host);
    const std::string id = known != controllerIds_.end() ? known->second : other;
    fs::path file = fs::path(root_) / ("sys/devices/emulated/vmbus" + std::to_string(host)) /
                    "device_id";
    std::ofstream out(file, std::ios::trunc);
    out << id << "\n";
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

void DeviceTree::prepare() const {
    std::error_code ec;
    fs::path root = fs::absolute(root_);
    makeDirs(root);
    if (fs::canonical(root, ec) == fs::path("/")) {
        throw std::runtime_error("refusing to lay a device tree out over /");
    }
    bool ours = fs::exists(root / kMarker);
    if (!ours && (fs::exists(root / "sys") || fs::exists(root / "dev"))) {
        throw std::runtime_error(root.string() +
                                 " holds sys/ or dev/ that the emulator did not create");
    }
    touch(root / kMarker);
    removeTree(root / "sys");
    removeTree(root / "dev");
    makeDirs(root / "sys/block");
    makeDirs(root / "sys/devices");
    makeDirs(root / "dev/disk/azure/scsi1");
}

std::string DeviceTree::deviceDir(const DeviceRecord& d) const {
    if (d.scsiAddress.empty()) return "sys/devices/virtual/block/" + d.name;
    ScsiAddress a = parseAddress(d.scsiAddress);
    return "sys/devices/emulated/vmbus" + std::to_string(a.host) + "/host" +
           std::to_string(a.host) + "/target" +
           std::to_string(a.host) + ":" + std::to_string(a.channel) + ":" +
           std::to_string(a.target) + "/" + d.scsiAddress;
}

void DeviceTree::add(const DeviceRecord& d) const {
    fs::path root(root_);
    std::string blockDir;  // relative to root/sys
    if (d.scsiAddress.empty()) {
        makeDirs(root / deviceDir(d));
        blockDir = deviceDir(d).substr(4);
    } else {
        fs::path scsi = root / deviceDir(d);
        makeDirs(scsi / "scsi_device" / d.scsiAddress);
        writeControllerId(parseAddress(d.scsiAddress).host);
        std::ofstream type(scsi / "type", std::ios::trunc);
        type << (d.role == "optical" ? "5" : "0") << "\n";
        makeDirs(scsi / "block" / d.name);
        atomicSymlink("../../../" + d.scsiAddress, scsi / "block" / d.name / "device");
        blockDir = deviceDir(d).substr(4) + "/block/" + d.name;
    }
    touch(root / "dev" / d.name);
    if (const char* link = partitionLink(d.role)) {
        std::string part = d.name + "1";
        makeDirs(root / "sys" / blockDir / part);
        touch(root / "dev" / part);
        atomicSymlink("../../" + part, root / "dev/disk/azure" / (std::string(link) + "-part1"));
        atomicSymlink("../../" + d.name, root / "dev/disk/azure" / link);
    }
    // Last: from here on the device is visible in sys/block.
    atomicSymlink("../" + blockDir, root / "sys/block" / d.name);
    if (d.role == "data") {
        atomicSymlink("../../../" + d.name,
                      root / "dev/disk/azure/scsi1" / ("lun" + std::to_string(d.lun)));
    }
}

void DeviceTree::remove(const DeviceRecord& d) const {
    fs::path root(root_);
    std::error_code ec;
    if (d.role == "data") {
        removeLinkIfTo(root / "dev/disk/azure/scsi1" / ("lun" + std::to_string(d.lun)),
                       "../../../" + d.name);
    }
    // First out of sys/block, so readers stop finding it before its parts go.
    fs::remove(root / "sys/block" / d.name, ec);
    if (const char* link = partitionLink(d.role)) {
        removeLinkIfTo(root / "dev/disk/azure" / link, "../../" + d.name);
        removeLinkIfTo(root / "dev/disk/azure" / (std::string(link) + "-part1"),
                       "../../" + d.name + "1");
        fs::remove(root / "dev" / (d.name + "1"), ec);
    }
    // Out of sight in one rename, into a folder of its own that stays until the tree is
    // laid out again: a reader that opened one of its directories before the rename, however
    // long ago, still finds it whole (emptying it at a later removal showed a slow reader an
    // address folder with nothing in it).
    makeDirs(root / kTrash);
    std::string trash = (root / kTrash / (d.name + ".XXXXXX")).string();
    if (::mkdtemp(trash.data()) != nullptr) {
        ::rename((root / deviceDir(d)).c_str(), (fs::path(trash) / d.name).c_str());
    } else {
        removeTree(root / deviceDir(d));
    }
    fs::remove(root / "dev" / d.name, ec);
}

DeviceManager::DeviceManager(std::string root, const MachineInfo& machine)
    : tree_(std::move(root), controllerIds(machine), machine.generation == 2 ? "os" : "root"),
      machine_(machine) {}

std::string DeviceManager::firstFreeName(const AzureState& state) const {
    for (size_t i = 0;; ++i) {
        std::string name = scsiDiskName(i);
        bool used = std::any_of(state.devices.begin(), state.devices.end(),
                                [&](const DeviceRecord& d) { return d.name == name; });
        if (!used) return name;
    }
}

void DeviceManager::addDataDisk(AzureState& state, int lun, const std::string& diskId) const {
    DeviceRecord d;
    d.name = firstFreeName(state);
    d.scsiAddress = scsiAddress(machine_.dataDiskScsiHost, 0, 0, lun);
    d.lun = lun;
    d.role = "data";
    d.diskId = diskId;
    tree_.add(d);
    state.devices.push_back(d);
}

void DeviceManager::layOut(AzureState& state) const {
    tree_.prepare();
    if (!state.devices.empty()) {
        for (const auto& d : state.devices) tree_.add(d);
        return;
    }
    const VmRecord* vm = localVm(state);
    auto addFixed = [&](DeviceRecord d) {
        tree_.add(d);
        state.devices.push_back(d);
    };
    addFixed({"sda", "0:0:0:0", -1, "os", vm ? vm->osDisk.diskId : ""});
    if (machine_.resourceDisk) addFixed({"sdb", "1:0:1:0", -1, "resource", ""});
    bool listedOptical = false;
    for (const auto& extra : machine_.blockDevices) {
        const bool optical = extra.name.rfind("sr", 0) == 0;
        listedOptical = listedOptical || extra.name == "sr0";
        addFixed({extra.name, extra.scsiAddress, -1, optical ? "optical" : "other", ""});
    }
    // The VM's optical drive: beside the resource disk on generation 1, at LUN 2 of the
    // OS disk's controller on generation 2.
    if (machine_.opticalDrive && !listedOptical) {
        addFixed({"sr0", machine_.generation == 2 ? "0:0:0:2" : "1:0:0:0", -1, "optical", ""});
    }
    if (!vm) return;
    for (const auto& disk : vm->dataDisks) {
        addDataDisk(state, disk.lun, disk.diskId.empty() ? disk.vhdUri : disk.diskId);
    }
}

void DeviceManager::apply(AzureState& state, const DeviceEvent& event) const {
    auto present =
        std::find_if(state.devices.begin(), state.devices.end(),
                     [&](const DeviceRecord& d) { return d.role == "data" && d.lun == event.lun; });
    if (present != state.devices.end()) {
        tree_.remove(*present);
        state.devices.erase(present);
    }
    if (event.add) addDataDisk(state, event.lun, event.diskId);
}

}  // namespace azemu
