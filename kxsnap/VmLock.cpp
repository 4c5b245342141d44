#include "kxsnap/VmLock.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "kxsnap/Errors.h"

namespace kxsnap {

namespace {

constexpr auto kRetryInterval = std::chrono::milliseconds(25);

}  // namespace

VmLock::VmLock(const std::string& path, int timeoutMs) {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw EnvironmentError("cannot open the VM lock " + path + ": " + strerror(errno));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            int error = errno;
            close(fd_);
            throw EnvironmentError("cannot lock " + path + ": " + strerror(error));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            close(fd_);
            throw EnvironmentError(
                "another kxsnap is attaching or detaching disks on this VM (lock " + path +
                "); try again when it has finished, or wait longer with --lock-timeout");
        }
        std::this_thread::sleep_for(kRetryInterval);
    }
}

VmLock::~VmLock() {
    if (fd_ >= 0)
        close(fd_);  // releases the lock
}

}  // namespace kxsnap
