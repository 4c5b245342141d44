#include "platform/KxInRootLink.h"

#include <cstring>
#include <deque>
#include <vector>

#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FXString.h"

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

// Resolves a path one component at a time, entirely in the plain namespace,
// and only touches the file system through the root. That way an absolute
// link target ("/dev/sdc", or "../../sdc" from /dev/disk/azure/...) stays
// inside the root like it would inside a chroot, and a link that tries to
// climb above the root is caught instead of quietly reaching the host's real
// /dev.
class SymLinkResolver {
public:
    SymLinkResolver(std::string root, std::string linkPath)
        : root_(std::move(root)), linkPath_(std::move(linkPath)) {}

    int Resolve(std::string& physicalPath) {
        std::deque<std::string> pending = PathComponents(linkPath_);
        while (!pending.empty()) {
            const std::string component = pending.front();
            pending.pop_front();
            const int error = Step(component, pending);
            if (error != 0) {
                return error;
            }
        }
        physicalPath = PlainPath(resolved_);
        return 0;
    }

    const std::string& Problem() const { return problem_; }

private:
    std::string LocalOf(const std::string& plainPath) const { return root_ + plainPath; }

    int Fail(int error, const std::string& problem) {
        problem_ = problem;
        return error;
    }

    int Step(const std::string& component, std::deque<std::string>& pending) {
        if (component == ".") {
            return 0;
        }
        if (component == "..") {
            return Climb();
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
                return 0;
            }
            return Fail(error, "Cannot resolve [" + linkPath_ + "]: [" + PlainPath(resolved_) +
                                   "] " + ErrnoText(error));
        }
        if (!S_ISLNK(entry.st_mode)) {
            return 0;
        }
        return Follow(candidate, pending);
    }

    int Climb() {
        if (!resolved_.empty()) {
            resolved_.pop_back();
            return 0;
        }
        // Above the real root there is nothing; "/.." is "/" as for realpath.
        if (root_.empty()) {
            return 0;
        }
        return Fail(EXDEV, "Link [" + linkPath_ + "] leads outside the root [" + root_ + "]");
    }

    int Follow(const std::string& localLink, std::deque<std::string>& pending) {
        if (++linksFollowed_ > kMaxLinksFollowed) {
            return Fail(ELOOP, "Link [" + linkPath_ + "] leads through more than " +
                                   std::to_string(kMaxLinksFollowed) + " links");
        }
        std::string target;
        const int error = ReadLinkTarget(localLink, target);
        if (error != 0) {
            return Fail(error, "Cannot read link [" + PlainPath(resolved_) + "] on the way from [" +
                                   linkPath_ + "]: " + ErrnoText(error));
        }
        resolved_.pop_back();  // the link itself is replaced by its target
        if (FXString::StartsWith(target, "/")) {
            resolved_.clear();
        }
        std::deque<std::string> targetComponents = PathComponents(target);
        pending.insert(pending.begin(), targetComponents.begin(), targetComponents.end());
        return 0;
    }

    std::string root_;
    std::string linkPath_;
    std::vector<std::string> resolved_;
    int linksFollowed_ = 0;
    std::string problem_;
};

}  // namespace

namespace KxInRootLink {

int Resolve(const std::string& root, const std::string& linkPath, std::string& physicalPath,
            std::string& problem) {
    SymLinkResolver resolver(root, linkPath);
    const int error = resolver.Resolve(physicalPath);
    problem = error != 0 ? resolver.Problem() : std::string();
    return error;
}

}  // namespace KxInRootLink
