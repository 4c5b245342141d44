// Helpers shared by the files of KxSnapAzureAPI; not part of its interface.
#pragma once

#include <string>

#include "platform/FXString.h"
#include "platform/KxPlatformEnv.h"

namespace kxazure {

// The Resource Manager base in force for a cloud: the test override when set,
// else the cloud's own base.
inline std::string ArmBaseFor(const char* cloudEndpoint) {
    const std::string override = KxPlatformEnv::ArmEndpointOverride();
    return override.empty() ? std::string(cloudEndpoint) : override;
}

// An instance metadata URL with the metadata address in force.
inline std::string ImdsUrl(const char* url) {
    const std::string text = url;
    const std::string address = KxPlatformEnv::kImdsAddress;
    if (!FXString::StartsWith(text, address)) {
        return text;
    }
    return KxPlatformEnv::ImdsBase() + text.substr(address.size());
}

// The part of a resource id after its last '/'.
inline std::string LastIdComponent(const std::string& id) {
    const size_t slash = id.rfind('/');
    return slash == std::string::npos ? id : id.substr(slash + 1);
}

// An Azure id without its leading '/', as the creation bodies want it.
inline std::string IdWithoutLeadingSlash(const std::string& id) {
    return (!id.empty() && id[0] == '/') ? id.substr(1) : id;
}

}  // namespace kxazure
