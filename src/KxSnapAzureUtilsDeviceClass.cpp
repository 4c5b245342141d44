#include "KxSnapAzureUtilsDeviceClass.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/CUxDirectory.h"
#include "platform/FXString.h"
#include "platform/KxPlatformEnv.h"

namespace {

constexpr const char* kSysBlock = "/sys/block";
constexpr const char* kAzureLinks = "/dev/disk/azure";
// Subdirectories of kAzureLinks whose links name data disks by LUN. scsi0
// is left out: the older rules put the OS disk of a generation 2 VM there.
constexpr const char* kDataLinkDirs[] = {"scsi1", "scsi2", "scsi3", "data/by-lun"};
constexpr const char* kOsLinks[] = {"root", "os"};
constexpr const char* kResourceLinks[] = {"resource"};
// The VMBus ids of the SCSI controllers that carry data disks, and of the
// controller that carries the OS disk of a generation 2 VM (at LUN 0).
constexpr const char* kDataControllerIds[] = {"{f8b3781b-1e82-4818-a1c3-63d806ec15bb}",
                                              "{f8b3781c-1e82-4818-a1c3-63d806ec15bb}",
                                              "{f8b3781d-1e82-4818-a1c3-63d806ec15bb}"};
constexpr const char* kGen2OsControllerId = "{f8b3781a-1e82-4818-a1c3-63d806ec15bb}";
constexpr const char* kScsiTypeDisk = "0";
constexpr const char* kScsiTypeOptical = "5";

bool IsDirectory(const std::string& plainPath) {
    struct stat entry {};
    return stat(KxPlatformEnv::LocalPath(plainPath).c_str(), &entry) == 0 &&
           S_ISDIR(entry.st_mode);
}

// The first line of a small sysfs attribute, trimmed; false when unreadable.
bool ReadAttribute(const std::string& plainPath, std::string& value) {
    std::ifstream file(KxPlatformEnv::LocalPath(plainPath));
    if (!file || !std::getline(file, value)) {
        return false;
    }
    value = FXString::Trim(value);
    return true;
}

// The entries of a directory other than "." and ".."; empty when unreadable.
std::vector<std::string> Entries(const std::string& plainPath) {
    std::vector<std::string> names;
    CUxDirectory dir;
    if (dir.Open(plainPath, "*", true).IsError()) {
        return names;
    }
    std::string name;
    bool atEnd = false;
    while (dir.GetEntry(name, atEnd).IsSuccess() && !atEnd) {
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    return names;
}

std::string NameAfterLastSlash(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The SCSI address of a block device, "" when it has none.
std::string ScsiAddress(const std::string& blockName) {
    const std::vector<std::string> entries =
        Entries(std::string(kSysBlock) + "/" + blockName + "/device/scsi_device");
    return entries.empty() ? std::string() : entries.front();
}

// Field `index` of "host:channel:target:lun" as a number, -1 when absent.
int AddressField(const std::string& address, size_t index) {
    const std::vector<std::string> fields = FXString::Split(address, ":", FXString::SPLIT_KEEP_EMPTY);
    if (fields.size() != 4 || fields[index].empty() ||
        fields[index].find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::atoi(fields[index].c_str());
}

bool IsDataControllerId(const std::string& id) {
    for (const char* known : kDataControllerIds) {
        if (FXString::EqualsNoCase(id, known)) {
            return true;
        }
    }
    return false;
}

// "?00000000-0000-*" (OS disk) and "?00000000-0001-*" (resource disk): the
// ids the device rules give the controllers of a generation 1 VM's own disks.
bool HasSystemIdPrefix(const std::string& id, const std::string& prefix) {
    return id.size() > prefix.size() && id.compare(1, prefix.size(), prefix) == 0;
}

// The /sys/block entry whose name equals `name` ignoring case, "" when none.
std::string FindBlockEntry(const std::string& name) {
    if (IsDirectory(std::string(kSysBlock) + "/" + name)) {
        return name;
    }
    for (const std::string& entry : Entries(kSysBlock)) {
        if (FXString::EqualsNoCase(entry, name)) {
            return entry;
        }
    }
    return std::string();
}

// The disk a partition belongs to ("sdc" for "sdc1"), "" when `name` is none.
std::string DiskOfPartition(const std::string& name) {
    for (const std::string& entry : Entries(kSysBlock)) {
        if (entry.size() < name.size() && FXString::StartsWith(name, entry) &&
            IsDirectory(std::string(kSysBlock) + "/" + entry + "/" + name)) {
            return entry;
        }
    }
    return std::string();
}

// The VMBus device id of the controller behind SCSI host `host`, read from
// the device directory that holds "host<N>". False when it cannot be read.
bool ControllerIdOf(const std::string& blockName, int host, std::string& id,
                    std::string& where) {
    std::string devicePath;
    const std::string link = std::string(kSysBlock) + "/" + blockName + "/device";
    if (FXFileUtil::ResolveSymLink(link, devicePath).IsError()) {
        where = link;
        return false;
    }
    const std::string hostDir = "/host" + std::to_string(host) + "/";
    const size_t at = (devicePath + "/").find(hostDir);
    if (at == std::string::npos) {
        where = devicePath;
        return false;
    }
    where = devicePath.substr(0, at) + "/device_id";
    return ReadAttribute(where, id) && !id.empty();
}

AzureDeviceVerdict Refused(AzureDeviceVerdict verdict, AzureDeviceClass deviceClass,
                           const std::string& reason) {
    verdict.deviceClass = deviceClass;
    verdict.lun = -1;
    verdict.reason = reason;
    return verdict;
}

}  // namespace

KxSnapAzureDeviceClassifier::KxSnapAzureDeviceClassifier() {
    ReadLinks();
}

void KxSnapAzureDeviceClassifier::ReadLinks() {
    for (const char* dir : kDataLinkDirs) {
        AddDataLinksUnder(std::string(kAzureLinks) + "/" + dir);
    }
    for (const char* link : kOsLinks) {
        AddSystemLink(link, osDisks_);
    }
    for (const char* link : kResourceLinks) {
        AddSystemLink(link, resourceDisks_);
    }
}

void KxSnapAzureDeviceClassifier::AddDataLinksUnder(const std::string& directory) {
    for (const std::string& entry : Entries(directory)) {
        if (entry.find("part") != std::string::npos || FXString::StartsWith(entry, ".")) {
            continue;
        }
        std::string target;
        if (FXFileUtil::ResolveSymLink(directory + "/" + entry, target).IsError()) {
            continue;
        }
        const int host = AddressField(ScsiAddress(NameAfterLastSlash(target)), 0);
        if (host >= 0) {
            dataDiskHosts_.insert(host);
        }
    }
}

void KxSnapAzureDeviceClassifier::AddSystemLink(const std::string& link,
                                                std::set<std::string>& names) {
    std::string target;
    if (FXFileUtil::ResolveSymLink(std::string(kAzureLinks) + "/" + link, target).IsSuccess() &&
        !target.empty()) {
        names.insert(NameAfterLastSlash(target));
    }
}

AzureDeviceVerdict KxSnapAzureDeviceClassifier::Classify(const std::string& device) const {
    AzureDeviceVerdict verdict;
    const std::string name = NameAfterLastSlash(device);
    const std::string quoted = "Device [" + device + "]";
    if (name.empty()) {
        return Refused(verdict, AzureDeviceClass::kNotFound, "No device name given");
    }
    if (FXString::StartsWith(name, "loop")) {
        return Refused(verdict, AzureDeviceClass::kLoop, quoted + " is a loop device");
    }
    if (FXString::StartsWith(name, "dm-")) {
        return Refused(verdict, AzureDeviceClass::kDeviceMapper,
                       quoted + " is a device-mapper device; name the Azure disk beneath it");
    }
    if (FXString::StartsWith(name, "nvme")) {
        return Refused(verdict, AzureDeviceClass::kNvme,
                       quoted + " is an NVMe-interface disk; only SCSI data disks are supported");
    }
    verdict.blockName = FindBlockEntry(name);
    if (verdict.blockName.empty()) {
        const std::string disk = DiskOfPartition(name);
        if (!disk.empty()) {
            return Refused(verdict, AzureDeviceClass::kPartition,
                           quoted + " is a partition of /dev/" + disk + "; name the whole disk");
        }
        return Refused(verdict, AzureDeviceClass::kNotFound,
                       quoted + " has no entry under " + kSysBlock);
    }
    if (osDisks_.count(verdict.blockName) != 0) {
        return Refused(verdict, AzureDeviceClass::kOsDisk, quoted + " is the VM's OS disk");
    }
    if (resourceDisks_.count(verdict.blockName) != 0) {
        return Refused(verdict, AzureDeviceClass::kResourceDisk,
                       quoted + " is the VM's resource (temporary) disk");
    }
    if (!ClassifyScsiDisk(verdict)) {
        verdict.reason = quoted + verdict.reason;
        return verdict;
    }
    verdict.deviceClass = AzureDeviceClass::kDataDisk;
    return verdict;
}

// Fills the address and, for a SCSI disk on a data-disk controller, the LUN.
// False, with the end of a reason, for anything else.
bool KxSnapAzureDeviceClassifier::ClassifyScsiDisk(AzureDeviceVerdict& verdict) const {
    verdict.scsiAddress = ScsiAddress(verdict.blockName);
    const int host = AddressField(verdict.scsiAddress, 0);
    const int lun = AddressField(verdict.scsiAddress, 3);
    if (host < 0 || lun < 0) {
        verdict.deviceClass = AzureDeviceClass::kNotADisk;
        verdict.reason = " has no SCSI address under " + std::string(kSysBlock) + "/" +
                         verdict.blockName + "/device/scsi_device";
        return false;
    }
    const std::string typePath = std::string(kSysBlock) + "/" + verdict.blockName + "/device/type";
    std::string type;
    if (!ReadAttribute(typePath, type)) {
        verdict.deviceClass = AzureDeviceClass::kUnknown;
        verdict.reason = " has no readable SCSI device type at " + typePath +
                         "; a device is taken for a data disk only when it is a SCSI disk";
        return false;
    }
    if (type != kScsiTypeDisk) {
        verdict.deviceClass = AzureDeviceClass::kNotADisk;
        verdict.reason = " is a SCSI device of type " + type +
                         (type == kScsiTypeOptical ? " (optical drive)" : "") + ", not a disk";
        return false;
    }
    if (!ClassifyController(verdict, host)) {
        return false;
    }
    verdict.lun = lun;
    return true;
}

bool KxSnapAzureDeviceClassifier::ClassifyController(AzureDeviceVerdict& verdict,
                                                     int host) const {
    if (dataDiskHosts_.count(host) != 0) {
        return true;
    }
    std::string id;
    std::string where;
    if (!ControllerIdOf(verdict.blockName, host, id, where)) {
        verdict.deviceClass = AzureDeviceClass::kUnknown;
        verdict.reason = " sits on SCSI host " + std::to_string(host) +
                         ", which no /dev/disk/azure/scsi1/lun<N> or "
                         "/dev/disk/azure/data/by-lun/<N> link leads to, and whose VMBus "
                         "device_id cannot be read at " + where +
                         "; cannot tell whether it is an Azure data-disk controller";
        return false;
    }
    if (IsDataControllerId(id)) {
        return true;
    }
    const bool gen2Os = FXString::EqualsNoCase(id, kGen2OsControllerId);
    if ((gen2Os && AddressField(verdict.scsiAddress, 3) == 0) ||
        HasSystemIdPrefix(id, "00000000-0000-")) {
        verdict.deviceClass = AzureDeviceClass::kOsDisk;
        verdict.reason = " is the VM's OS disk (SCSI controller " + id + ")";
        return false;
    }
    if (HasSystemIdPrefix(id, "00000000-0001-")) {
        verdict.deviceClass = AzureDeviceClass::kResourceDisk;
        verdict.reason = " is the VM's resource (temporary) disk (SCSI controller " + id + ")";
        return false;
    }
    verdict.deviceClass = AzureDeviceClass::kOtherController;
    verdict.reason = " sits on SCSI controller " + id + " (host " + std::to_string(host) +
                     "), which is not an Azure data-disk controller";
    return false;
}
