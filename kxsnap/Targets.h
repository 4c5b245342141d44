// Turns what a person names on the command line (/dev/sdc, a mount point,
// 10.0.0.4:/vol1) into the source device a plug-in record carries, reading
// the device tree and /proc/mounts under KXSO_ROOT when it is set.
#pragma once

#include <string>

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

// KXSO_ROOT without a trailing '/', or "".
std::string LocalRoot();

// A valid Azure resource name of at most 80 characters, unique through the
// UUID's first eight digits: "kxsnap-sdc-20261206-160102-1a2b3c4d".
std::string SnapshotName(const std::string& label, const std::string& uuid);

}  // namespace kxsnap
