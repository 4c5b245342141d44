#include "KXSnapCloud/KXSnapAzureNetAppEndpoints.h"

#include "KXSnapCloud/KXSnapAzureNetAppDS.h"
#include "platform/KxPlatformEnv.h"

namespace AzureNetApp {

namespace {
constexpr const char* kSchemeSeparator = "://";
}

std::string withoutScheme(const std::string& url) {
    const size_t separator = url.find(kSchemeSeparator);
    return separator == std::string::npos ? url : url.substr(separator + 3);
}

std::string managementBaseUrl() {
    const std::string override = KxPlatformEnv::ArmEndpointOverride();
    if (!override.empty()) {
        return override;
    }
    return std::string(ANF_API_CONST::ANF_REST_HTTP_CONNECTION_SECURE) + kSchemeSeparator +
           ANF_API_CONST::AZURE_REST_API_BASE_EP;
}

std::string managementEndpoint() {
    return withoutScheme(managementBaseUrl());
}

std::string managementProtocol() {
    const std::string base = managementBaseUrl();
    const size_t separator = base.find(kSchemeSeparator);
    if (separator == std::string::npos || separator == 0) {
        return ANF_API_CONST::ANF_REST_HTTP_CONNECTION_SECURE;
    }
    return base.substr(0, separator);
}

std::string metadataBasePath() {
    return withoutScheme(KxPlatformEnv::ImdsBase()) + ANF_API_CONST::AZURE_REST_API_META_PATH;
}

}  // namespace AzureNetApp
