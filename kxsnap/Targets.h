// Turns what a person names on the command line (/dev/sdc, a mount point,
// 10.0.0.4:/vol1) into the source device a plug-in record carries, reading
// the device tree and /proc/mounts under KXSO_ROOT when it is set.
#pragma once

#include <string>
#include <vector>

#include "kxsnap/Catalog.h"

namespace kxsnap {

struct BackupTarget {
    std::string given;
    SnapKind kind = SnapKind::kManagedDisk;
    // "/dev/sdc", or the NetApp Files form
    // "{idatype:NFS,type:nfs4,lunuuid:\/vol1,targethostname:10.0.0.4}".
    std::string sourceDevicePath;
    std::string label;  // short word for the snapshot name: "sdc", "vol1"
};

// Throws UsageError with a one-line reason: device not found, not a block
// device, not an NFS export, not a NetApp Files export.
BackupTarget ResolveTarget(const std::string& given);

// The targets of a backup after the local checks, before anything is written
// or sent: the usable ones, each disk once, and a one-line reason for each
// refused one.
struct CheckedTargets {
    std::vector<BackupTarget> usable;
    std::vector<std::string> refused;  // "/dev/sda: ... is the VM's OS disk"
    std::vector<std::string> merged;   // a disk named a second time
};

// Checks block devices with the plug-in's own device classifier: the OS and
// resource disks, loop and device-mapper devices, optical drives and other
// non-disk devices, and partitions are refused.
CheckedTargets CheckTargets(const std::vector<std::string>& given);

// Follows symbolic links as the kernel would, inside the local root:
// "/dev/disk/azure/scsi1/lun1" gives "/dev/sdc".
std::string ResolveDevicePath(const std::string& path);

// KXSO_ROOT without a trailing '/', or "".
std::string LocalRoot();

// A valid Azure resource name of at most 80 characters, unique through the
// UUID's first eight digits: "kxsnap-sdc-20261206-160102-1a2b3c4d".
std::string SnapshotName(const std::string& label, const std::string& uuid);

}  // namespace kxsnap
