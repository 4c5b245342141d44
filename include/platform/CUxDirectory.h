// Directory enumeration over opendir. Paths are the plain ones the plug-in
// knows ("/sys/block"); the platform looks them up under KXSO_ROOT when set.
#pragma once

#include <dirent.h>

#include <string>

#include "platform/CUxError.h"

class CUxDirectory {
public:
    CUxDirectory() = default;
    ~CUxDirectory() { Close(); }
    CUxDirectory(const CUxDirectory&) = delete;
    CUxDirectory& operator=(const CUxDirectory&) = delete;

    // The pattern "*" lists every entry (the only pattern the plug-in uses);
    // the flag is kept for the platform's signature. Errors carry the errno
    // value as code and are written to the platform log.
    CUxError Open(const std::string& path, const std::string& pattern = "*", bool unused = true);
    // Reads the next entry name, "." and ".." included (callers skip names
    // beginning with '.'). At the end of the directory `atEnd` is true and the
    // result is success.
    CUxError GetEntry(std::string& name, bool& atEnd);
    void Close();
    bool IsOpen() const { return dir_ != nullptr; }

private:
    DIR* dir_ = nullptr;
    std::string path_;
};

namespace FXFileUtil {
// Resolves a symbolic link (and any links it leads through) inside KXSO_ROOT
// and gives the target in its plain form ("/dev/sdc"). A target that leaves the
// root, a loop or a missing link is an error.
//
// Relative targets are read from the link's own directory; absolute targets
// are plain paths, looked up under the root as inside a chroot. A ".." above
// the root is refused (error EXDEV) rather than clamped, so a bad link can never
// reach the machine's real /dev. More than 40 links is a loop (ELOOP). A final
// target that does not exist is not an error: the link names a device that is
// not there (yet), and its plain path is the answer. Without KXSO_ROOT this is
// realpath-like ("/.." is "/"). Error codes are errno values.
CUxError ResolveSymLink(const std::string& linkPath, std::string& physicalPath);
}  // namespace FXFileUtil
