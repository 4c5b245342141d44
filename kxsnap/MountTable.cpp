#include "kxsnap/MountTable.h"

#include "kxsnap/Targets.h"

namespace kxsnap {

// The plug-in's reader (getmntent_r), on the table under the local root.
std::vector<MountEntry> ReadMountTable() {
    std::vector<MountEntry> mounts;
    KxMountTable::Read(LocalRoot() + "/proc/mounts", mounts);
    return mounts;
}

}  // namespace kxsnap
