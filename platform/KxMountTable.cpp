#include "platform/KxMountTable.h"

#include <memory>
#include <vector>

#include <mntent.h>
#include <stdio.h>

namespace {

// Room for a whole line: two paths of PATH_MAX, the type and the options.
constexpr size_t kLineBufferSize = 16384;

struct MountFileCloser {
    void operator()(FILE* file) const { endmntent(file); }
};

}  // namespace

namespace KxMountTable {

bool Read(const std::string& path, std::vector<Entry>& entries) {
    entries.clear();
    std::unique_ptr<FILE, MountFileCloser> file(setmntent(path.c_str(), "re"));
    if (!file) {
        return false;
    }
    std::vector<char> buffer(kLineBufferSize);
    struct mntent entry {};
    while (getmntent_r(file.get(), &entry, buffer.data(), static_cast<int>(buffer.size()))) {
        entries.push_back({entry.mnt_fsname, entry.mnt_dir, entry.mnt_type, entry.mnt_opts});
    }
    return true;
}

}  // namespace KxMountTable
