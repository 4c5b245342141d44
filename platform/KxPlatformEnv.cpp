#include "platform/KxPlatformEnv.h"

#include <cstdlib>

#include "platform/FXString.h"

namespace {

std::string EnvValue(const char* name) {
    const char* value = getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string WithTrailingSlash(std::string url) {
    if (!url.empty() && url.back() != '/') {
        url += '/';
    }
    return url;
}

}  // namespace

namespace KxPlatformEnv {

std::string ArmEndpointOverride() {
    return WithTrailingSlash(EnvValue("KXSO_ARM_ENDPOINT"));
}

std::string ImdsEndpointOverride() {
    return WithTrailingSlash(EnvValue("KXSO_IMDS_ENDPOINT"));
}

std::string CaFile() {
    return EnvValue("KXSO_CA_FILE");
}

std::string Root() {
    // "/" and "/tmp/root/" name the same trees as "" and "/tmp/root"; without
    // the trailing slash LocalPath can simply prepend the root.
    return FXString::TrimRight(EnvValue("KXSO_ROOT"), "/");
}

std::string ImdsBase() {
    const std::string override = ImdsEndpointOverride();
    return override.empty() ? std::string(kImdsAddress) : override;
}

std::string ImdsHost() {
    std::string rest = ImdsBase();
    const size_t scheme = rest.find("://");
    if (scheme != std::string::npos) {
        rest = rest.substr(scheme + 3);
    }
    std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    const size_t userInfo = authority.rfind('@');
    if (userInfo != std::string::npos) {
        authority = authority.substr(userInfo + 1);
    }
    if (FXString::StartsWith(authority, "[")) {
        // An IPv6 literal: the bypass list wants the address without brackets.
        return authority.substr(1, authority.find(']') - 1);
    }
    // Proxy bypass lists match host names only; "host:port" would never match.
    return authority.substr(0, authority.find(':'));
}

std::string LocalPath(const std::string& plainPath) {
    const std::string root = Root();
    if (root.empty()) {
        return plainPath;
    }
    return FXString::StartsWith(plainPath, "/") ? root + plainPath : root + "/" + plainPath;
}

}  // namespace KxPlatformEnv
