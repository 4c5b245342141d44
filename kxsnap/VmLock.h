// One VM's attach and detach work, one kxsnap at a time: mount, unmount and
// revert of managed disks all rewrite the same VM's disk list, and two
// updates at once make Azure preempt one of them. The lock is an flock on a
// file beside the catalogue, released when the holder ends however it ends.
#pragma once

#include <string>

namespace kxsnap {

class VmLock {
public:
    // Waits up to `timeoutMs` for the lock; throws EnvironmentError when
    // another kxsnap still holds it then, or the file cannot be opened.
    VmLock(const std::string& path, int timeoutMs);
    ~VmLock();
    VmLock(const VmLock&) = delete;
    VmLock& operator=(const VmLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace kxsnap
