#include "kxsnap/Targets.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kxsnap/Errors.h"

namespace kxsnap {

namespace {

struct MountEntry {
    std::string device;
    std::string mountPoint;
    std::string type;
};

// /proc/mounts writes blanks and some other bytes as octal escapes ("\040").
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isdigit(field[i + 1]) &&
            isdigit(field[i + 2]) && isdigit(field[i + 3])) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<MountEntry> ReadMounts() {
    std::ifstream in(LocalRoot() + "/proc/mounts");
    std::vector<MountEntry> mounts;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        MountEntry entry;
        if (fields >> entry.device >> entry.mountPoint >> entry.type) {
            entry.device = Unescape(entry.device);
            entry.mountPoint = Unescape(entry.mountPoint);
            mounts.push_back(entry);
        }
    }
    return mounts;
}

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

// Follows symbolic links the way the kernel would, inside the local root.
std::string ResolveInsideRoot(const std::string& path) {
    std::string root = LocalRoot();
    std::string current = path;
    for (int hops = 0; hops < 16; ++hops) {
        char buffer[PATH_MAX];
        ssize_t length = readlink((root + current).c_str(), buffer, sizeof buffer - 1);
        if (length <= 0)
            return current;
        std::string link(buffer, static_cast<size_t>(length));
        if (link.front() != '/')
            link = current.substr(0, current.rfind('/') + 1) + link;
        // Collapse "dir/../" so that the result stays a plain /dev path.
        std::vector<std::string> parts;
        std::istringstream segments(link);
        std::string segment;
        while (std::getline(segments, segment, '/')) {
            if (segment.empty() || segment == ".")
                continue;
            if (segment == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else {
                parts.push_back(segment);
            }
        }
        current.clear();
        for (const auto& part : parts)
            current += "/" + part;
    }
    return current;
}

BackupTarget BlockTarget(const std::string& given) {
    std::string root = LocalRoot();
    struct stat info;
    if (lstat((root + given).c_str(), &info) != 0)
        throw UsageError("device not found: " + given);
    std::string device = ResolveInsideRoot(given);
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
    std::vector<MountEntry> mounts = ReadMounts();
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
