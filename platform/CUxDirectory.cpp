#include "platform/CUxDirectory.h"

#include <cstring>

#include <errno.h>

#include "platform/KxInRootLink.h"
#include "platform/KxPlatformEnv.h"

namespace {

// strerror may share one buffer between threads; the GNU strerror_r does not.
std::string ErrnoText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof(buffer));
}

}  // namespace

CUxError CUxDirectory::Open(const std::string& path, const std::string& /*pattern*/,
                            bool /*unused*/) {
    Close();
    const std::string localPath = KxPlatformEnv::LocalPath(path);
    dir_ = opendir(localPath.c_str());
    if (dir_ == nullptr) {
        const int error = errno;
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), error, "Cannot open directory [%s]: %s",
                                       localPath.c_str(), ErrnoText(error).c_str());
    }
    path_ = path;
    return CUxError::Success();
}

CUxError CUxDirectory::GetEntry(std::string& name, bool& atEnd) {
    name.clear();
    atEnd = false;
    if (dir_ == nullptr) {
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), EBADF,
                                       "Directory read before a successful open");
    }
    // readdir reports the end and an error both as nullptr; only errno tells.
    errno = 0;
    const struct dirent* entry = readdir(dir_);
    if (entry == nullptr) {
        const int error = errno;
        if (error != 0) {
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), error,
                                           "Cannot read directory [%s]: %s", path_.c_str(),
                                           ErrnoText(error).c_str());
        }
        atEnd = true;
        return CUxError::Success();
    }
    name = entry->d_name;
    return CUxError::Success();
}

void CUxDirectory::Close() {
    if (dir_ != nullptr) {
        closedir(dir_);
        dir_ = nullptr;
    }
    path_.clear();
}

namespace FXFileUtil {

CUxError ResolveSymLink(const std::string& linkPath, std::string& physicalPath) {
    std::string problem;
    const int error = KxInRootLink::Resolve(KxPlatformEnv::Root(), linkPath, physicalPath, problem);
    if (error != 0) {
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), error, "%s", problem.c_str());
    }
    return CUxError::Success();
}

}  // namespace FXFileUtil
