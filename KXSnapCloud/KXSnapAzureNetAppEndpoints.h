// The endpoints in force for the NetApp Files path: the public-cloud Resource
// Manager and the link-local metadata service, or the bases a test put in
// KXSO_ARM_ENDPOINT / KXSO_IMDS_ENDPOINT. Whatever compares with or strips the
// management endpoint asks here instead of assuming the public host's length.
#pragma once

#include <string>

namespace AzureNetApp {

// The Resource Manager base with scheme and a final "/":
// "https://management.azure.com/" unless overridden.
std::string managementBaseUrl();
// managementBaseUrl without its scheme: "management.azure.com/".
std::string managementEndpoint();
// The scheme of managementBaseUrl: "https" unless a test base says otherwise.
std::string managementProtocol();
// The metadata service base without scheme, followed by "metadata/":
// "169.254.169.254/metadata/" unless overridden.
std::string metadataBasePath();

// What follows the first "://" of `url`, or `url` whole without one.
std::string withoutScheme(const std::string& url);

}  // namespace AzureNetApp
