#include "kxsnap/InUse.h"

#include <filesystem>
#include <vector>

#include "kxsnap/MountTable.h"
#include "kxsnap/Targets.h"

namespace kxsnap {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error))
        names.push_back(entries->path().filename().string());
    return names;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The disk and its partitions: "sdg", "sdg1", ...
std::vector<std::string> DiskAndPartitions(const std::string& disk) {
    std::vector<std::string> names{disk};
    std::string folder = LocalRoot() + "/sys/block/" + disk;
    for (const auto& entry : Entries(folder)) {
        if (entry.size() > disk.size() && entry.compare(0, disk.size(), disk) == 0 &&
            fs::is_directory(folder + "/" + entry))
            names.push_back(entry);
    }
    return names;
}

std::string HoldersOf(const std::string& disk, const std::string& name) {
    std::string folder = LocalRoot() + "/sys/block/" + disk +
                         (name == disk ? std::string() : "/" + name) + "/holders";
    std::string holders;
    for (const auto& holder : Entries(folder))
        holders += (holders.empty() ? "" : ", ") + holder;
    return holders;
}

std::string WithoutTrailingSlash(std::string text) {
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

}  // namespace

std::string BlockDeviceUse(const std::string& device) {
    if (device.empty())
        return "";
    std::string disk = BaseName(ResolveDevicePath(device));
    std::vector<std::string> names = DiskAndPartitions(disk);
    std::vector<MountEntry> mounts = ReadMountTable();
    for (const auto& name : names) {
        for (const auto& mount : mounts) {
            if (mount.device.rfind("/dev/", 0) == 0 &&
                ResolveDevicePath(mount.device) == "/dev/" + name)
                return "/dev/" + name + " is mounted at " + mount.mountPoint;
        }
        std::string holders = HoldersOf(disk, name);
        if (!holders.empty())
            return "/dev/" + name + " is held by " + holders;
    }
    return "";
}

std::string ExportUse(const std::string& exportPath) {
    if (exportPath.empty())
        return "";
    for (const auto& mount : ReadMountTable()) {
        if (WithoutTrailingSlash(mount.device) == WithoutTrailingSlash(exportPath))
            return exportPath + " is mounted at " + mount.mountPoint;
    }
    return "";
}

}  // namespace kxsnap
