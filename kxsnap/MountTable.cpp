#include "kxsnap/MountTable.h"

#include <mntent.h>
#include <stdio.h>

#include "kxsnap/Targets.h"

namespace kxsnap {

std::vector<MountEntry> ReadMountTable() {
    std::vector<MountEntry> mounts;
    FILE* table = setmntent((LocalRoot() + "/proc/mounts").c_str(), "re");
    if (!table)
        return mounts;
    // getmntent_r undoes the octal escapes (\040 for a blank) itself.
    struct mntent entry;
    char buffer[8192];
    while (getmntent_r(table, &entry, buffer, sizeof buffer))
        mounts.push_back({entry.mnt_fsname, entry.mnt_dir, entry.mnt_type});
    endmntent(table);
    return mounts;
}

}  // namespace kxsnap
