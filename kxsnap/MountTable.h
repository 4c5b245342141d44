// The mounted file systems as /proc/mounts lists them (under KXSO_ROOT when
// it is set), read in one place so that every check sees the same table.
#pragma once

#include <string>
#include <vector>

#include "platform/KxMountTable.h"

namespace kxsnap {

// device ("/dev/sdc1", "10.0.0.4:/vol1"), mountPoint ("/data"), type
// ("ext4", "nfs4") and options, escapes already undone.
using MountEntry = KxMountTable::Entry;

// Empty when the table cannot be read.
std::vector<MountEntry> ReadMountTable();

}  // namespace kxsnap
