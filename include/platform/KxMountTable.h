// The mount table in the form /proc/mounts writes it, read through glibc's
// getmntent_r, which undoes the kernel's octal escapes ("\040" for a blank,
// "\011", "\012", "\134"). Shared by the plug-in and kxsnap.
#pragma once

#include <string>
#include <vector>

namespace KxMountTable {

struct Entry {
    std::string device;      // "10.0.0.4:/vol1", "/dev/sdc1"
    std::string mountPoint;  // "/mnt/with space"
    std::string type;        // "nfs4"
    std::string options;     // "rw,relatime,vers=4.1"
};

// Every entry of the table at `path` ("/proc/mounts", or the same file under
// a test root), in file order. False when the file cannot be opened; lines
// that are not mount entries are skipped, as getmntent_r skips them.
bool Read(const std::string& path, std::vector<Entry>& entries);

}  // namespace KxMountTable
