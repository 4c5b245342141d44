// Whether something on this machine still uses a device kxsnap is about to
// take away (detach, replace) or an NFS export it is about to delete: a
// mounted file system, or a holder such as a device-mapper or RAID device.
#pragma once

#include <string>

namespace kxsnap {

// One line saying what uses the block device or any of its partitions,
// "" when nothing does: "/dev/sdg1 is mounted at /data".
std::string BlockDeviceUse(const std::string& device);

// "10.0.0.5:/clone is mounted at /mnt/clone", "" when not mounted.
std::string ExportUse(const std::string& exportPath);

}  // namespace kxsnap
