// What a Linux block device is on an Azure VM: a data disk (tied to an Azure
// LUN), the OS or resource disk, an optical drive or other non-disk SCSI
// device, a partition, a loop or device-mapper device, an NVMe disk, or
// something that cannot be told.
//
// A device is tied to a LUN only when it is a SCSI disk (sysfs type 0) on a
// data-disk controller. The data-disk controllers are the ones the Azure
// storage device rules treat as such: the SCSI hosts behind the links
// /dev/disk/azure/scsi1..3/lun<N> and /dev/disk/azure/data/by-lun/<N>, or,
// for a host no such link leads to, a host whose VMBus device_id is one of
// the data-disk controller ids those rules test. When neither can be read the
// device is refused with a reason that says what is missing: taking the last
// field of any SCSI address for a LUN snapshots the wrong disk.
#pragma once

#include <set>
#include <string>

enum class AzureDeviceClass {
    kDataDisk,
    kOsDisk,
    kResourceDisk,
    kNotADisk,        // optical drive or another SCSI device type, no SCSI address
    kOtherController, // a SCSI disk on a controller that holds no data disks
    kPartition,
    kLoop,
    kDeviceMapper,
    kNvme,
    kNotFound,
    kUnknown,         // the tree does not say; refused
};

struct AzureDeviceVerdict {
    AzureDeviceClass deviceClass = AzureDeviceClass::kUnknown;
    std::string blockName;    // "sdc"
    std::string scsiAddress;  // "3:0:0:1", when it has one
    int lun = -1;             // the Azure LUN, data disks only
    std::string reason;       // why the device is not a data disk; empty for one

    bool IsDataDisk() const { return deviceClass == AzureDeviceClass::kDataDisk; }
};

class KxSnapAzureDeviceClassifier {
public:
    // Reads the Azure device links once; make one per lookup, since devices
    // come and go between calls.
    KxSnapAzureDeviceClassifier();

    // `device` is "/dev/<name>" or a bare block-device name; the name is
    // compared with /sys/block without regard to case.
    AzureDeviceVerdict Classify(const std::string& device) const;

private:
    void ReadLinks();
    void AddDataLinksUnder(const std::string& directory);
    void AddSystemLink(const std::string& link, std::set<std::string>& names);
    bool ClassifyScsiDisk(AzureDeviceVerdict& verdict) const;
    bool ClassifyController(AzureDeviceVerdict& verdict, int host) const;

    std::set<int> dataDiskHosts_;
    std::set<std::string> osDisks_;
    std::set<std::string> resourceDisks_;
};
