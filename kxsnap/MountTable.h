// The mounted file systems as /proc/mounts lists them (under KXSO_ROOT when
// it is set), read in one place so that every check sees the same table.
#pragma once

#include <string>
#include <vector>

namespace kxsnap {

struct MountEntry {
    std::string device;      // "/dev/sdc1", "10.0.0.4:/vol1"
    std::string mountPoint;  // "/data"
    std::string type;        // "ext4", "nfs4"
};

// Empty when the table cannot be read.
std::vector<MountEntry> ReadMountTable();

}  // namespace kxsnap
