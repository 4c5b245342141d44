#include "ArmPath.h"

#include "Util.h"

namespace azemu {

std::vector<std::string> pathSegments(const std::string& path) {
    std::vector<std::string> out;
    for (auto& s : split(path, '/')) {
        if (!s.empty()) out.push_back(s);
    }
    return out;
}

std::string normalizeId(const std::string& id) {
    std::string out;
    for (const auto& s : pathSegments(id)) out += "/" + s;
    return out;
}

std::string idKey(const std::string& id) { return toLower(normalizeId(id)); }

std::string lastSegment(const std::string& id) {
    auto segs = pathSegments(id);
    return segs.empty() ? "" : segs.back();
}

ArmPath parseArmPath(const std::string& path) {
    ArmPath p;
    p.segments = pathSegments(path);
    const auto& s = p.segments;
    size_t i = 0;
    if (s.size() >= 2 && iequals(s[0], "subscriptions")) {
        p.subscription = s[1];
        i = 2;
    } else {
        return p;
    }
    if (s.size() >= i + 2 && iequals(s[i], "resourceGroups")) {
        p.resourceGroup = s[i + 1];
        p.hasResourceGroup = true;
        i += 2;
    }
    if (s.size() >= i + 2 && iequals(s[i], "providers")) {
        p.providerNamespace = s[i + 1];
        p.hasProvider = true;
        p.rest.assign(s.begin() + static_cast<long>(i) + 2, s.end());
    }
    return p;
}

std::string resourceGroupId(const std::string& subscription, const std::string& group) {
    return "/subscriptions/" + subscription + "/resourceGroups/" + group;
}

std::string computeResourceId(const std::string& subscription, const std::string& group,
                              const std::string& type, const std::string& name) {
    return resourceGroupId(subscription, group) + "/providers/Microsoft.Compute/" + type + "/" +
           name;
}

std::string resourceTypeOf(const std::string& id) {
    ArmPath p = parseArmPath(id);
    if (!p.hasProvider || p.rest.size() < 2) return "";
    return p.providerNamespace + "/" + p.rest[0];
}

}  // namespace azemu
