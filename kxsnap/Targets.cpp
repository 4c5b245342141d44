#include "kxsnap/Targets.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kxsnap/Errors.h"
#include "kxsnap/MountTable.h"
#include "platform/KxInRootLink.h"
#include "src/KxSnapAzureUtilsDeviceClass.h"

namespace kxsnap {

namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool IsNfsType(const std::string& type) {
    return type == "nfs" || type == "nfs4";
}

bool IsIpAddress(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

std::string LastSegment(const std::string& path) {
    std::string trimmed = WithoutTrailingSlash(path);
    size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

BackupTarget NfsTarget(const std::string& given, const MountEntry& mount) {
    size_t colon = mount.device.find(":/");
    std::string server = mount.device.substr(0, colon);
    std::string share = mount.device.substr(colon + 2);
    if (!server.empty() && server.front() == '[' && server.back() == ']')
        server = server.substr(1, server.size() - 2);
    if (!IsIpAddress(server)) {
        throw UsageError(given + " is not an Azure NetApp Files export: it is mounted from " +
                         server + ", and NetApp Files volumes are mounted by IP address");
    }
    share = WithoutTrailingSlash(share);
    if (share.empty() || share == "/")
        throw UsageError(given + " is not an Azure NetApp Files export: no volume path");
    BackupTarget target;
    target.given = given;
    target.kind = SnapKind::kNetAppFiles;
    target.sourceDevicePath = "{idatype:NFS,type:" + mount.type + ",lunuuid:\\/" + share +
                              ",targethostname:" + server + "}";
    target.label = LastSegment(share);
    return target;
}

// Follows device links with the plug-in's own resolver, under the same root.
// A link that is broken on the way, loops or leaves the root resolves to
// nothing: the path is given back unchanged (and `problem` says why).
std::string ResolveInsideRoot(const std::string& path, std::string* problem = nullptr) {
    std::string resolved, reason;
    if (KxInRootLink::Resolve(LocalRoot(), path, resolved, reason) != 0) {
        if (problem)
            *problem = reason;
        return path;
    }
    return resolved;
}

BackupTarget BlockTarget(const std::string& given) {
    std::string root = LocalRoot();
    struct stat info;
    // A path outside /dev is most likely an NFS mount point that is not mounted.
    bool underDev = given.rfind("/dev/", 0) == 0;
    if (lstat((root + given).c_str(), &info) != 0 || (!underDev && S_ISDIR(info.st_mode)))
        throw UsageError(underDev ? "device not found: " + given
                                  : given + " is neither a block device nor an NFS mount in " +
                                        "/proc/mounts");
    std::string problem;
    std::string device = ResolveInsideRoot(given, &problem);
    if (!problem.empty())
        throw UsageError(given + " is not a block device: " + problem);
    std::string name = LastSegment(device);
    struct stat sysfs;
    bool known =
        device.rfind("/dev/", 0) == 0 && stat((root + "/sys/block/" + name).c_str(), &sysfs) == 0;
    // Without a sandbox root the device node itself must be a block device.
    if (known && root.empty())
        known = stat(device.c_str(), &info) == 0 && S_ISBLK(info.st_mode);
    if (!known) {
        throw UsageError(given +
                         " is not a block device (name a whole disk such as /dev/sdc, "
                         "or a mounted NFS export)");
    }
    BackupTarget target;
    target.given = given;
    target.kind = SnapKind::kManagedDisk;
    target.sourceDevicePath = device;
    target.label = name;
    return target;
}

}  // namespace

std::string ResolveDevicePath(const std::string& path) {
    return ResolveInsideRoot(path);
}

std::string LocalRoot() {
    const char* root = getenv("KXSO_ROOT");
    std::string text = root ? root : "";
    while (!text.empty() && text.back() == '/')
        text.pop_back();
    return text;
}

BackupTarget ResolveTarget(const std::string& given) {
    if (given.empty())
        throw UsageError("empty target");
    std::vector<MountEntry> mounts = ReadMountTable();
    bool exportForm = given.front() != '/' && given.find(":/") != std::string::npos;
    if (exportForm) {
        for (const auto& mount : mounts) {
            if (IsNfsType(mount.type) &&
                WithoutTrailingSlash(mount.device) == WithoutTrailingSlash(given))
                return NfsTarget(given, mount);
        }
        throw UsageError(given + " is not mounted here (no NFS mount of it in /proc/mounts)");
    }
    for (const auto& mount : mounts) {
        if (mount.mountPoint != WithoutTrailingSlash(given))
            continue;
        if (!IsNfsType(mount.type)) {
            throw UsageError(given + " is a " + mount.type + " mount of " + mount.device +
                             ", not an NFS export; name its disk (e.g. /dev/sdc) instead");
        }
        if (mount.device.find(":/") == std::string::npos)
            throw UsageError(given + " is not an Azure NetApp Files export");
        return NfsTarget(given, mount);
    }
    return BlockTarget(given);
}

namespace {

// The disks a device-mapper device is made of, "/dev/sdc, /dev/sdd".
std::string DeviceMapperSlaves(const std::string& blockName) {
    std::error_code error;
    std::vector<std::string> names;
    std::filesystem::directory_iterator slaves(LocalRoot() + "/sys/block/" + blockName + "/slaves",
                                               error);
    for (; !error && slaves != std::filesystem::directory_iterator(); slaves.increment(error))
        names.push_back("/dev/" + slaves->path().filename().string());
    std::sort(names.begin(), names.end());
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// Why the plug-in would refuse a block device, "" for a data disk.
std::string DeviceRefusal(const KxSnapAzureDeviceClassifier& classifier,
                          const std::string& device) {
    AzureDeviceVerdict verdict = classifier.Classify(device);
    if (verdict.IsDataDisk())
        return "";
    std::string reason = verdict.reason;
    if (verdict.deviceClass == AzureDeviceClass::kDeviceMapper) {
        std::string slaves = DeviceMapperSlaves(LastSegment(device));
        if (!slaves.empty())
            reason += " (it is made of " + slaves + ")";
    }
    return reason;
}

}  // namespace

CheckedTargets CheckTargets(const std::vector<std::string>& given) {
    KxSnapAzureDeviceClassifier classifier;
    CheckedTargets checked;
    for (const std::string& name : given) {
        try {
            BackupTarget target = ResolveTarget(name);
            std::string reason;
            if (target.kind == SnapKind::kManagedDisk)
                reason = DeviceRefusal(classifier, target.sourceDevicePath);
            if (!reason.empty()) {
                checked.refused.push_back(name + ": " + reason);
                continue;
            }
            auto same = std::find_if(checked.usable.begin(), checked.usable.end(), [&](auto& seen) {
                return seen.sourceDevicePath == target.sourceDevicePath;
            });
            if (same != checked.usable.end()) {
                checked.merged.push_back(name + " is " + same->given +
                                         ", named already: one snapshot is taken of it");
                continue;
            }
            checked.usable.push_back(std::move(target));
        } catch (const UsageError& error) {
            // A partition has no /sys/block entry of its own: say what it is.
            std::string device = ResolveInsideRoot(name);
            AzureDeviceVerdict verdict = classifier.Classify(device);
            bool partition = device.rfind("/dev/", 0) == 0 &&
                             verdict.deviceClass == AzureDeviceClass::kPartition;
            checked.refused.push_back(partition ? name + ": " + verdict.reason : error.what());
        }
    }
    return checked;
}

std::string SnapshotName(const std::string& label, const std::string& uuid) {
    std::string word;
    for (char c : label) {
        bool allowed = isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        word += allowed ? c : '-';
    }
    if (word.size() > 40)
        word.resize(40);
    time_t now = time(nullptr);
    struct tm parts;
    gmtime_r(&now, &parts);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &parts);
    // Ends with a hex digit: Azure names must end with a letter, digit or '_'.
    return "kxsnap-" + word + "-" + stamp + "-" + uuid.substr(0, 8);
}

}  // namespace kxsnap
