// The two Azures the demo plays on: a VM with four managed data disks, and a
// VM that mounts two Azure NetApp Files volumes over NFS.
#pragma once

#include <string>

namespace kxsnap {

// Data disks at LUNs 0-3, devices /dev/sdc to /dev/sdf.
std::string ManagedDiskScenario();
extern const char* const kManagedDiskDevices[4];

// Volumes "sales" and "builds" in one capacity pool, mounted at /mnt/sales
// and /mnt/builds from 10.20.1.4.
std::string NetAppScenario();
std::string NetAppMounts();  // the /proc/mounts text for the sandbox
extern const char* const kNetAppMountPoints[2];

}  // namespace kxsnap
