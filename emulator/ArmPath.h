// Resource Manager paths and resource ids. ARM compares them without regard to case and
// tolerates doubled slashes, so every lookup goes through idKey().
#pragma once

#include <string>
#include <vector>

namespace azemu {

std::vector<std::string> pathSegments(const std::string& path);  // empty segments dropped
std::string normalizeId(const std::string& id);  // "/a/b/c": one leading slash, no doubles
std::string idKey(const std::string& id);        // normalizeId, lower-cased
std::string lastSegment(const std::string& id);

// /subscriptions/{sub}[/resourceGroups/{rg}][/providers/{namespace}/{rest...}]
struct ArmPath {
    std::vector<std::string> segments;
    std::string subscription;
    std::string resourceGroup;
    std::string providerNamespace;
    std::vector<std::string> rest;  // after the namespace: type, name, child type, ...
    bool hasResourceGroup = false;
    bool hasProvider = false;
};
ArmPath parseArmPath(const std::string& path);

std::string resourceGroupId(const std::string& subscription, const std::string& group);
std::string computeResourceId(const std::string& subscription, const std::string& group,
                              const std::string& type, const std::string& name);

// "Microsoft.Compute/disks" for a Compute id; "" when the id is not a provider resource id.
std::string resourceTypeOf(const std::string& id);

}  // namespace azemu
