// Test seams read only by the platform layer. Without them the plug-in talks
// to the real Azure endpoints and reads the real device tree.
//
//   KXSO_ARM_ENDPOINT   replaces every Resource Manager base URL, e.g.
//                       "https://127.0.0.1:8443/"
//   KXSO_IMDS_ENDPOINT  replaces the instance metadata address
//                       "http://169.254.169.254/", e.g. "http://127.0.0.1:8081/"
//   KXSO_CA_FILE        a PEM bundle that HTTPS requests trust
//   KXSO_ROOT           directory under which local paths (/sys/block, /dev,
//                       /dev/disk/azure, /proc/mounts) are looked up
#pragma once

#include <string>

namespace KxPlatformEnv {
// The override, or "" when unset. A base URL override always ends in "/".
std::string ArmEndpointOverride();
std::string ImdsEndpointOverride();
std::string CaFile();
std::string Root();  // "" = the real root; never ends in "/"

// The real root's instance metadata base.
constexpr const char* kImdsAddress = "http://169.254.169.254/";
// The metadata base in force (override or the real one); ends in "/".
std::string ImdsBase();
// Host part of ImdsBase, for proxy bypass lists (CURLOPT_NOPROXY): "127.0.0.1"
// for "http://127.0.0.1:8081/". No port: libcurl's bypass list matches host
// names only, so "127.0.0.1:8081" would never bypass the proxy.
std::string ImdsHost();

// Where a plain local path ("/sys/block/sdc") is found on this machine:
// Root() + the path when KXSO_ROOT is set, else the path itself.
std::string LocalPath(const std::string& plainPath);
}  // namespace KxPlatformEnv
