// Mapping between Azure LUNs and Linux SCSI block devices, read from the
// machine's device tree: "/sys/block/<name>/device/scsi_device/<h:c:t:l>" and
// the links "/dev/disk/azure/scsi*/lun<N>" that the distribution's device
// rules create for Azure data disks.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "KxSnapAzureAPI.h"
#include "KxSnapAzureUtils.h"
#include "KxSnapAzureUtilsDeviceClass.h"
#include "platform/CUxDirectory.h"
#include "platform/EvDebug.h"
#include "platform/FXString.h"
#include "platform/KXPlatformInfo.h"
#include "platform/KxException.h"
#include "platform/KxProcess.h"

namespace {

constexpr const char* kSysBlock = "/sys/block";
constexpr const char* kAzureDiskLinks = "/dev/disk/azure";
constexpr const char* kScsiDeviceSuffix = "/device/scsi_device";
constexpr const char* kSettleSettingKey = "nAzureWaitTimeForDeviceRefresh";
constexpr uint32_t kDefaultSettleSecs = 60;
// Reads the next entry other than "." and "..". False on a read error.
bool NextEntry(CUxDirectory& dir, std::string& name, bool& atEnd) {
    do {
        if (dir.GetEntry(name, atEnd).IsError()) {
            return false;
        }
    } while (!atEnd && (name == "." || name == ".."));
    return true;
}

// "/dev/sdc" -> "/sdc": the part from the last '/' on (all of it without one).
std::string TailFromLastSlash(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash);
}

std::string ScsiDevicePath(const std::string& deviceName) {
    std::string tail = TailFromLastSlash(deviceName);
    if (tail.empty() || tail[0] != '/') {
        tail = "/" + tail;
    }
    return std::string(kSysBlock) + tail + kScsiDeviceSuffix;
}

bool HasIgnoredPrefix(const std::string& name) {
    static constexpr const char* kIgnored[] = {".", "ram", "loop", "dm-", "fd"};
    for (const char* prefix : kIgnored) {
        if (FXString::StartsWith(name, prefix)) {
            return true;
        }
    }
    return false;
}

// The decimal number after the last ':' of a SCSI address (leading digits;
// none give 0); -1 when the address has no ':'.
int LunOfScsiAddress(const std::string& address) {
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos) {
        return -1;
    }
    return std::atoi(address.c_str() + colon + 1);
}

// Outcome of reading one disk's SCSI address directory.
enum class ScsiLookup { kOpenFailed, kNoAddress, kFound };

ScsiLookup ReadScsiAddress(const std::string& scsiPath, std::string& address) {
    CUxDirectory dir;
    if (dir.Open(scsiPath, "*", true).IsError()) {
        return ScsiLookup::kOpenFailed;
    }
    bool atEnd = false;
    if (!NextEntry(dir, address, atEnd) || atEnd) {
        return ScsiLookup::kNoAddress;
    }
    return ScsiLookup::kFound;
}

bool LunidForScsiDiskName(const std::string& deviceName, int& lun, std::string& detail,
                          const std::vector<std::string>* listed) {
    std::vector<std::string> fetched;
    if (listed == nullptr) {
        FetchAllDiskNamesList(fetched);
    }
    const std::vector<std::string>& disks = listed != nullptr ? *listed : fetched;
    const std::string wanted = TailFromLastSlash(deviceName);
    std::string foundDisk;
    for (const std::string& disk : disks) {
        if (!FXString::EqualsNoCase(wanted, TailFromLastSlash(disk))) {
            EvDebug().DebugLvl(2, AZURE_LOG_TAG, "Skip .... source device [%s] scsi device [%s]",
                               deviceName.c_str(), disk.c_str());
            continue;
        }
        const std::string scsiPath = ScsiDevicePath(disk);
        EvDebug().DebugLvl(2, AZURE_LOG_TAG, "scsi_device fullpath [%s] for device [%s]",
                           scsiPath.c_str(), deviceName.c_str());
        std::string address;
        const ScsiLookup lookup = ReadScsiAddress(scsiPath, address);
        if (lookup == ScsiLookup::kOpenFailed) {
            EvDebug().DebugLvl(-1, AZURE_LOG_TAG,
                               "Failed to find scsi device path [%s] for source device [%s]",
                               scsiPath.c_str(), deviceName.c_str());
            return false;
        }
        if (lookup == ScsiLookup::kNoAddress) {
            continue;
        }
        EvDebug().DebugLvl(2, AZURE_LOG_TAG, "scsi_addres [%s] for device [%s]", address.c_str(),
                           deviceName.c_str());
        if (address.find(':') != std::string::npos) {
            lun = LunOfScsiAddress(address);
            EvDebug().DebugLvl(2, AZURE_LOG_TAG,
                               "Found disk lunid [%d]  scsi_address [%s] for device [%s]", lun,
                               address.c_str(), deviceName.c_str());
            foundDisk = disk;
            break;
        }
    }
    if (lun >= 0) {
        // The last field of any SCSI address reads as a LUN; only a SCSI disk
        // on a data-disk controller really sits at that Azure LUN.
        const AzureDeviceVerdict verdict = KxSnapAzureDeviceClassifier().Classify(foundDisk);
        if (!verdict.IsDataDisk()) {
            EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "%s", verdict.reason.c_str());
            detail = verdict.reason;
            lun = -1;
        }
    }
    return lun >= 0;
}

// True when `device` is a SCSI disk on a data-disk controller at `lun`; the
// OS disk, the resource disk and an optical drive may sit at the same number.
bool IsDataDiskAtLun(const KxSnapAzureDeviceClassifier& classifier, const std::string& device,
                     int lun) {
    const AzureDeviceVerdict verdict = classifier.Classify(device);
    if (!verdict.IsDataDisk()) {
        EvDebug().DebugLvl(2, AZURE_LOG_TAG, "%s", verdict.reason.c_str());
        return false;
    }
    return verdict.lun == lun;
}

enum class LinkSearch { kFound, kNotFound, kUnreadable };

// Resolves the "lun<N>" link of one subdirectory of /dev/disk/azure into
// `deviceName`.
LinkSearch FindLunLinkIn(const std::string& subdir, const std::string& linkName, int lun,
                         std::string& deviceName) {
    CUxDirectory dir;
    const CUxError opened = dir.Open(subdir, "*", true);
    if (opened.IsError()) {
        EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "Failed to get entry from [%s] [%s]", subdir.c_str(),
                           opened.Message().c_str());
        return LinkSearch::kUnreadable;
    }
    std::string entry;
    bool atEnd = false;
    while (true) {
        if (!NextEntry(dir, entry, atEnd)) {
            EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "Failed to enumerate under [%s] [%s]",
                               subdir.c_str(), entry.c_str());
            return LinkSearch::kNotFound;
        }
        if (atEnd) {
            return LinkSearch::kNotFound;
        }
        if (!FXString::EqualsNoCase(entry, linkName)) {
            continue;
        }
        const std::string linkPath = subdir + "/" + entry;
        EvDebug().Debug(AZURE_LOG_TAG, "Entry [%s] is a sybmolic link [%s]", entry.c_str(),
                        linkPath.c_str());
        const CUxError resolved = FXFileUtil::ResolveSymLink(linkPath, deviceName);
        EvDebug().DebugLvl(2, AZURE_LOG_TAG,
                           "linkpath [%s] phy path [%s] bSymLinkDetected [%d] lunid [%d]",
                           linkPath.c_str(), deviceName.c_str(), resolved.IsSuccess() ? 1 : 0, lun);
        if (resolved.IsSuccess() &&
            IsDataDiskAtLun(KxSnapAzureDeviceClassifier(), deviceName, lun)) {
            EvDebug().Debug(AZURE_LOG_TAG, "Found disk name [%s] for scsi lunid [%d]",
                            deviceName.c_str(), lun);
            return LinkSearch::kFound;
        }
        deviceName.clear();
    }
}

// Walks the scsi* subdirectories of /dev/disk/azure for the link of `lun`.
// False when the base directory cannot be read.
bool FindAzureLunLink(int lun, std::string& deviceName) {
    const std::string base = kAzureDiskLinks;
    const std::string linkName = FXString::Format("lun%d", lun);
    EvDebug().DebugLvl(2, AZURE_LOG_TAG, "Find azure scsi disks under [%s] ", base.c_str());
    CUxDirectory dir;
    const CUxError opened = dir.Open(base, "*", true);
    if (opened.IsError()) {
        EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "Failed to find scsi device paths under [%s] [%s]",
                           base.c_str(), opened.Message().c_str());
        return false;
    }
    std::string entry;
    bool atEnd = false;
    while (true) {
        if (!NextEntry(dir, entry, atEnd)) {
            EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "Failed to enumerate under [%s] [%s]",
                               base.c_str(), entry.c_str());
            return false;
        }
        if (atEnd) {
            return false;
        }
        EvDebug().DebugLvl(2, AZURE_LOG_TAG, "entry under [%s] [%s]", base.c_str(), entry.c_str());
        const std::string subdir = FXString::Format("%s/%s", base.c_str(), entry.c_str());
        if (subdir.find("scsi") == std::string::npos) {
            continue;
        }
        const LinkSearch search = FindLunLinkIn(subdir, linkName, lun, deviceName);
        if (search == LinkSearch::kFound) {
            return true;
        }
        if (search == LinkSearch::kUnreadable) {
            // A subdirectory that cannot be read ends the whole walk.
            return false;
        }
    }
}

}  // namespace

void WaitForDevicesToSettle() {
    uint32_t settleSecs = kDefaultSettleSecs;
    KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, kSettleSettingKey, settleSecs);
    EvDebug().DebugLvl(0, AZURE_LOG_TAG, "wait for devices to settle [%u]secs", settleSecs);
    KxProcess::system(FXString::Format("udevadm settle --timeout=%u", settleSecs), nullptr, nullptr,
                      0, false);
}

bool FetchAllDiskNamesList(std::vector<std::string>& names) {
    names.clear();
    WaitForDevicesToSettle();
    CUxDirectory dir;
    if (dir.Open(kSysBlock, "*", true).IsError()) {
        return false;
    }
    std::string entry;
    bool atEnd = false;
    if (dir.GetEntry(entry, atEnd).IsError()) {
        dir.Close();
        return false;
    }
    while (!atEnd) {
        if (!HasIgnoredPrefix(entry)) {
            names.push_back("/dev/" + entry);
            EvDebug().DebugLvl(2, AZURE_LOG_TAG, "Found [%s]", entry.c_str());
        }
        if (dir.GetEntry(entry, atEnd).IsError()) {
            // Later read errors are passed over; the list holds what was read.
            break;
        }
    }
    dir.Close();
    return true;
}

bool DiscoverMappedDiskNames(const std::vector<std::string>& before,
                             std::vector<std::string>& found) {
    std::vector<std::string> now;
    if (!FetchAllDiskNamesList(now)) {
        EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "%s", "Failed to fetch devices list");
        return false;
    }
    for (const std::string& name : now) {
        bool known = false;
        for (const std::string& old : before) {
            if (old == name) {
                known = true;
                break;
            }
        }
        if (!known) {
            found.push_back(name);
            EvDebug().DebugLvl(1, AZURE_LOG_TAG, "Found mapped device [%s]", name.c_str());
        }
    }
    if (found.empty()) {
        EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "No new devices found [%lu]",
                           static_cast<unsigned long>(before.size()));
        return false;
    }
    return true;
}

namespace {

bool FindLunOfDevice(const std::string& deviceName, int& lun, std::string& detail,
                     const std::vector<std::string>* listed) {
    if (deviceName.empty()) {
        EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "%s", "Source device name is empty");
        return false;
    }
    lun = -1;
    EvDebug().DebugLvl(2, AZURE_LOG_TAG, "Find scsi address for device name [%s]",
                       deviceName.c_str());
    try {
        return LunidForScsiDiskName(deviceName, lun, detail, listed);
    } catch (const KxException& e) {
        EvDebug().Error(AZURE_LOG_TAG, "%s", e.what());
    } catch (const std::exception& e) {
        EvDebug().Error(AZURE_LOG_TAG, "%s", e.what());
    }
    lun = -1;
    return false;
}

}  // namespace

bool GetLunidForScsiDiskName(const std::string& deviceName, int& lun, std::string& detail) {
    return FindLunOfDevice(deviceName, lun, detail, nullptr);
}

bool GetLunidForScsiDiskName(const std::string& deviceName, int& lun, std::string& detail,
                             const std::vector<std::string>& disks) {
    return FindLunOfDevice(deviceName, lun, detail, &disks);
}

bool GetScsiDiskNameForLunid(const std::vector<std::string>& candidates, const int lun,
                             std::string& deviceName, std::string& /*detail*/) {
    if (lun < 0) {
        EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "%s", "Invalid scsi lunid");
        return false;
    }
    EvDebug().DebugLvl(2, AZURE_LOG_TAG, "Find scsi disk name for lunid [%d]", lun);
    const KxSnapAzureDeviceClassifier classifier;
    for (const std::string& candidate : candidates) {
        const std::string scsiPath = ScsiDevicePath(candidate);
        EvDebug().DebugLvl(2, AZURE_LOG_TAG, "scsi_device fullpath [%s] ", scsiPath.c_str());
        std::string address;
        const ScsiLookup lookup = ReadScsiAddress(scsiPath, address);
        if (lookup == ScsiLookup::kOpenFailed) {
            EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "Failed to find scsi device path [%s]",
                               scsiPath.c_str());
            return false;
        }
        if (lookup == ScsiLookup::kNoAddress) {
            continue;
        }
        EvDebug().DebugLvl(2, AZURE_LOG_TAG, "scsi_addres [%s] for device [%s]", address.c_str(),
                           candidate.c_str());
        if (LunOfScsiAddress(address) != lun || !IsDataDiskAtLun(classifier, candidate, lun)) {
            continue;
        }
        deviceName = candidate;
        EvDebug().DebugLvl(2, AZURE_LOG_TAG,
                           "Found disk name [%s] for scsi lunid [%d]  scsi_address [%s]",
                           candidate.c_str(), lun, address.c_str());
        break;
    }
    return !deviceName.empty();
}

bool GetScsiDiskNameForLunid2(const std::vector<std::string>& /*candidates*/, const int lun,
                              std::string& deviceName, std::string& /*detail*/) {
    if (lun < 0) {
        EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "%s", "Invalid scsi lunid");
        return false;
    }
    WaitForDevicesToSettle();
    return FindSettledDiskNameForLunid(lun, deviceName);
}

bool FindSettledDiskNameForLunid(int lun, std::string& deviceName) {
    if (lun < 0) {
        EvDebug().DebugLvl(-1, AZURE_LOG_TAG, "%s", "Invalid scsi lunid");
        return false;
    }
    EvDebug().DebugLvl(2, AZURE_LOG_TAG, "Find scsi disk name for lunid [%d]", lun);
    const bool found = FindAzureLunLink(lun, deviceName);
    if (!found || deviceName.empty()) {
        EvDebug().DebugLvl(2, AZURE_LOG_TAG,
                           "Failed to find scsi disk name for azure disk lunid [%d]", lun);
        return false;
    }
    return true;
}
