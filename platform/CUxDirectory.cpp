#include "platform/CUxDirectory.h"

#include <cstring>
#include <deque>
#include <vector>

#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FXString.h"
#include "platform/KxPlatformEnv.h"

namespace {

// The kernel's own limit on links followed in one lookup.
constexpr int kMaxLinksFollowed = 40;

// strerror may share one buffer between threads; the GNU strerror_r does not.
std::string ErrnoText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof(buffer));
}

std::deque<std::string> PathComponents(const std::string& path) {
    const std::vector<std::string> parts = FXString::Split(path, "/", FXString::SPLIT_DROP_EMPTY);
    return std::deque<std::string>(parts.begin(), parts.end());
}

std::string PlainPath(const std::vector<std::string>& components) {
    return "/" + FXString::Join(components, "/");
}

// 0 or the errno value of the failure.
int ReadLinkTarget(const std::string& localPath, std::string& target) {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = readlink(localPath.c_str(), buffer.data(), buffer.size());
    if (length < 0) {
        return errno;
    }
    if (static_cast<size_t>(length) >= buffer.size()) {
        return ENAMETOOLONG;
    }
    target.assign(buffer.data(), static_cast<size_t>(length));
    return 0;
}

// Resolves `linkPath` one component at a time, entirely in the plain
// namespace, and only touches the file system through the root. That way an
// absolute link target ("/dev/sdc", or "../../sdc" from /dev/disk/azure/...)
// stays inside the root like it would inside a chroot, and a link that tries
// to climb above the root is caught instead of quietly reaching the host's
// real /dev.
class SymLinkResolver {
public:
    explicit SymLinkResolver(std::string root) : root_(std::move(root)) {}

    CUxError Resolve(const std::string& linkPath, std::string& physicalPath) {
        std::deque<std::string> pending = PathComponents(linkPath);
        while (!pending.empty()) {
            const std::string component = pending.front();
            pending.pop_front();
            CUxError step = Step(component, pending, linkPath);
            if (step) {
                return step;
            }
        }
        physicalPath = PlainPath(resolved_);
        return CUxError::Success();
    }

private:
    std::string LocalOf(const std::string& plainPath) const { return root_ + plainPath; }

    CUxError Step(const std::string& component, std::deque<std::string>& pending,
                  const std::string& linkPath) {
        if (component == ".") {
            return CUxError::Success();
        }
        if (component == "..") {
            return Climb(linkPath);
        }
        resolved_.push_back(component);
        const std::string candidate = LocalOf(PlainPath(resolved_));
        struct stat entry {};
        if (lstat(candidate.c_str(), &entry) != 0) {
            const int error = errno;
            // A link whose final target is missing names a device that is not
            // there (yet); its plain name is still the answer. A missing link
            // or a missing directory on the way is an error.
            if (error == ENOENT && pending.empty() && linksFollowed_ > 0) {
                return CUxError::Success();
            }
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), error, "Cannot resolve [%s]: [%s] %s",
                                           linkPath.c_str(), PlainPath(resolved_).c_str(),
                                           ErrnoText(error).c_str());
        }
        if (!S_ISLNK(entry.st_mode)) {
            return CUxError::Success();
        }
        return Follow(candidate, pending, linkPath);
    }

    CUxError Climb(const std::string& linkPath) {
        if (!resolved_.empty()) {
            resolved_.pop_back();
            return CUxError::Success();
        }
        // Above the real root there is nothing; "/.." is "/" as for realpath.
        if (root_.empty()) {
            return CUxError::Success();
        }
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), EXDEV,
                                       "Link [%s] leads outside the root [%s]", linkPath.c_str(),
                                       root_.c_str());
    }

    CUxError Follow(const std::string& localLink, std::deque<std::string>& pending,
                    const std::string& linkPath) {
        if (++linksFollowed_ > kMaxLinksFollowed) {
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), ELOOP,
                                           "Link [%s] leads through more than %d links",
                                           linkPath.c_str(), kMaxLinksFollowed);
        }
        std::string target;
        const int error = ReadLinkTarget(localLink, target);
        if (error != 0) {
            return FXErrorUtil::ErrorErrNo(
                FXCODE_LOCATION(), error, "Cannot read link [%s] on the way from [%s]: %s",
                PlainPath(resolved_).c_str(), linkPath.c_str(), ErrnoText(error).c_str());
        }
        resolved_.pop_back();  // the link itself is replaced by its target
        if (FXString::StartsWith(target, "/")) {
            resolved_.clear();
        }
        std::deque<std::string> targetComponents = PathComponents(target);
        pending.insert(pending.begin(), targetComponents.begin(), targetComponents.end());
        return CUxError::Success();
    }

    std::string root_;
    std::vector<std::string> resolved_;
    int linksFollowed_ = 0;
};

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
    SymLinkResolver resolver(KxPlatformEnv::Root());
    return resolver.Resolve(linkPath, physicalPath);
}

}  // namespace FXFileUtil
