// Symbolic links resolved inside a root folder as inside a chroot: the one
// resolver both the plug-in (FXFileUtil::ResolveSymLink, under KXSO_ROOT) and
// kxsnap (its backup targets) use.
#pragma once

#include <string>

namespace KxInRootLink {

// Resolves `linkPath` (a plain path such as "/dev/disk/azure/scsi1/lun1") and
// any links it leads through, looking every component up under `root` ("" =
// the real root). Gives the target in its plain form ("/dev/sdc").
//
// Relative targets are read from the link's own directory; absolute targets
// are plain paths, looked up under the root. A ".." above the root is refused
// (EXDEV) rather than clamped, so a bad link can never reach the machine's
// real /dev; without a root "/.." is "/" as for realpath. More than 40 links
// is a loop (ELOOP). A final target that does not exist is not an error: the
// link names a device that is not there (yet), and its plain path is the
// answer. Returns 0, or the errno value with a one-line `problem`.
int Resolve(const std::string& root, const std::string& linkPath, std::string& physicalPath,
            std::string& problem);

}  // namespace KxInRootLink
