#include "NetAppDocuments.h"

#include "ArmPath.h"
#include "Ipv4.h"
#include "VirtualNetwork.h"

namespace azemu {

namespace {

Json withTags(Json doc, const Json& tags) {
    if (tags.is_object() && !tags.empty())
        doc["tags"] = tags;
    return doc;
}

Json mountTargetProperties(const NetAppVolumeRecord& v, const MountTargetRecord& m,
                           const std::vector<SubnetInfo>& subnets) {
    Json props = {{"mountTargetId", m.mountTargetId},
                  {"fileSystemId", v.fileSystemId},
                  {"ipAddress", m.ipAddress},
                  {"startIp", m.ipAddress},
                  {"endIp", m.ipAddress},
                  {"subnet", ""},
                  {"netmask", ""},
                  {"gateway", ""},
                  {"smbServerFqdn", ""},
                  {"provisioningState", "Succeeded"}};
    const SubnetInfo* subnet = findSubnet(subnets, v.subnetId);
    if (auto prefix = subnet ? parseIpv4Prefix(subnet->addressPrefix) : std::nullopt) {
        props["subnet"] = formatIpv4(prefix->network);
        props["netmask"] = prefix->netmask();
        props["gateway"] = formatIpv4(prefix->network + 1);
    }
    return props;
}

}  // namespace

std::string netAppResourceName(const std::string& id) {
    ArmPath p = parseArmPath(id);
    std::string name;
    for (size_t i = 1; i < p.rest.size(); i += 2)
        name += (name.empty() ? "" : "/") + p.rest[i];
    return name;
}

std::string netAppResourceType(const std::string& id) {
    ArmPath p = parseArmPath(id);
    std::string type = p.providerNamespace;
    for (size_t i = 0; i < p.rest.size(); i += 2)
        type += "/" + p.rest[i];
    return type;
}

Json renderAccount(const NetAppAccountRecord& a) {
    return withTags({{"id", a.id},
                     {"name", a.name},
                     {"type", "Microsoft.NetApp/netAppAccounts"},
                     {"location", a.location},
                     {"properties", {{"provisioningState", "Succeeded"}}}},
                    a.tags);
}

Json renderPool(const CapacityPoolRecord& p) {
    return withTags({{"id", p.id},
                     {"name", netAppResourceName(p.id)},
                     {"type", "Microsoft.NetApp/netAppAccounts/capacityPools"},
                     {"location", p.location},
                     {"properties",
                      {{"provisioningState", "Succeeded"},
                       {"poolId", p.poolId},
                       {"serviceLevel", p.serviceLevel},
                       {"size", p.sizeBytes}}}},
                    p.tags);
}

Json renderMountTarget(const NetAppVolumeRecord& v, const MountTargetRecord& m,
                       const std::vector<SubnetInfo>& subnets) {
    std::string id = v.id + "/mountTargets/" + m.mountTargetId;
    return {{"id", id},
            {"name", netAppResourceName(id)},
            {"type", "Microsoft.NetApp/netAppAccounts/capacityPools/volumes/mountTargets"},
            {"location", v.location},
            {"properties", mountTargetProperties(v, m, subnets)}};
}

Json renderVolume(const NetAppVolumeRecord& v, const std::vector<SubnetInfo>& subnets) {
    Json targets = Json::array();
    for (const auto& m : v.mountTargets)
        targets.push_back(mountTargetProperties(v, m, subnets));
    Json props = {{"fileSystemId", v.fileSystemId},
                  {"creationToken", v.creationToken},
                  {"usageThreshold", v.usageThreshold},
                  {"serviceLevel", v.serviceLevel},
                  // A revert running on the volume shows, as in Azure, as an update.
                  {"provisioningState", !v.operationId.empty() && v.provisioningState == "Succeeded"
                                            ? std::string("Updating")
                                            : v.provisioningState},
                  {"subnetId", v.subnetId},
                  {"exportPolicy", {{"rules", v.exportRules}}},
                  {"protocolTypes", v.protocolTypes},
                  {"mountTargets", targets}};
    if (!v.sourceSnapshotId.empty())
        props["snapshotId"] = v.sourceSnapshotId;
    return withTags({{"id", v.id},
                     {"name", netAppResourceName(v.id)},
                     {"type", "Microsoft.NetApp/netAppAccounts/capacityPools/volumes"},
                     {"location", v.location},
                     {"properties", props}},
                    v.tags);
}

Json renderSnapshot(const NetAppSnapshotRecord& s) {
    return {{"id", s.id},
            {"name", netAppResourceName(s.id)},
            {"type", "Microsoft.NetApp/netAppAccounts/capacityPools/volumes/snapshots"},
            {"location", s.location},
            {"properties",
             {{"snapshotId", s.snapshotId},
              {"fileSystemId", s.fileSystemId},
              {"created", s.created},
              {"provisioningState", s.provisioningState}}}};
}

}  // namespace azemu
