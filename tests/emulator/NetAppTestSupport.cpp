#include "NetAppTestSupport.h"

namespace azemu::test {

Json netAppScenario() {
    Json s = baseScenario();
    Json extra = Json::parse(R"({
      "resourceGroups": ["anf-rg", "net-rg", {"name": "hidden-rg", "visible": false}],
      "otherSubscriptions": [
        {"subscriptionId": "99999999-aaaa-4bbb-8ccc-dddddddddddd", "displayName": "Other",
         "resourceGroups": ["other-rg"]},
        {"subscriptionId": "88888888-aaaa-4bbb-8ccc-dddddddddddd", "visible": false,
         "resourceGroups": ["secret-rg"]}
      ],
      "virtualNetworks": [
        {"name": "test-vnet", "resourceGroup": "net-rg",
         "subnets": [{"name": "vm", "addressPrefix": "10.1.2.0/24"},
                     {"name": "anf", "addressPrefix": "10.1.3.0/28"}]}
      ],
      "netAppAccounts": [
        {"name": "acct1", "resourceGroup": "anf-rg",
         "capacityPools": [{"name": "pool1", "volumes": [
           {"name": "vol1", "creationToken": "share1", "mountTargetIp": "10.1.3.4",
            "subnet": "test-vnet/anf", "usageThreshold": 214748364800,
            "protocolTypes": ["NFSv3"], "content": "vol1-v1",
            "snapshots": [{"name": "old-snap"}]},
           {"name": "vol2", "creationToken": "share2", "subnet": "test-vnet/anf",
            "protocolTypes": ["NFSv4.1"]}
         ]}]},
        {"name": "hiddenacct", "resourceGroup": "hidden-rg",
         "capacityPools": [{"name": "poolh", "volumes": [
           {"name": "vol3", "creationToken": "share3", "mountTargetIp": "10.1.3.6"}
         ]}]}
      ]
    })");
    s.update(extra);
    return s;
}

void NetAppTest::SetUp() {
    restart(netAppScenario());
}

std::string NetAppTest::groupPathOf(const std::string& group) const {
    return "subscriptions/" + emu_->subscriptionId() + "/resourceGroups/" + group;
}

std::string NetAppTest::poolPath(const std::string& group, const std::string& account,
                                 const std::string& pool) const {
    return groupPathOf(group) + "/providers/Microsoft.NetApp/netAppAccounts/" + account +
           "/capacityPools/" + pool;
}

std::string NetAppTest::volumePath(const std::string& volume) const {
    return poolPath() + "/volumes/" + volume;
}

std::string NetAppTest::snapshotPathOf(const std::string& volume,
                                       const std::string& snapshot) const {
    return volumePath(volume) + "/snapshots/" + snapshot;
}

std::string NetAppTest::volumeId(const std::string& volume) const {
    return "/" + volumePath(volume);
}

Reply NetAppTest::anf(const std::string& method, const std::string& path, const std::string& body) {
    return arm(method, path, body, kNetAppApi);
}

Reply NetAppTest::putSnapshot(const std::string& volume, const std::string& name) {
    Json vol = anf("GET", volumePath(volume)).json();
    Json body = {{"location", vol["location"]},
                 {"properties", {{"fileSystemId", vol["properties"]["fileSystemId"]}}}};
    return anf("PUT", snapshotPathOf(volume, name), body.dump());
}

Json NetAppTest::cloneBody(const std::string& name, const std::string& snapshotGuid,
                           const std::string& sourceVolume) {
    Json source = anf("GET", volumePath(sourceVolume)).json();
    Json rule = {{"nfsv3", true},         {"nfsv41", false},       {"ruleIndex", 1},
                 {"unixReadOnly", false}, {"unixReadWrite", true}, {"allowedClients", "10.1.2.5"}};
    return {
        {"location", source["location"]},
        {"tags",
         {{"data-protection-vendor-kx", "harrowind"}, {"data-protection-feature-kx", "quillfast"}}},
        {"properties",
         {{"creationToken", name},
          {"snapshotId", snapshotGuid},
          {"usageThreshold", std::to_string(source["properties"]["usageThreshold"].get<int64_t>())},
          {"subnetId", source["properties"]["subnetId"]},
          {"protocolTypes", source["properties"]["protocolTypes"]},
          {"exportPolicy", {{"rules", Json::array({rule})}}}}}};
}

Json NetAppTest::finish(const Reply& accepted) {
    std::string link = accepted.header("Azure-AsyncOperation");
    EXPECT_FALSE(link.empty()) << accepted.status << " " << accepted.body;
    if (link.empty())
        return Json();
    return waitForOperation(link);
}

const NetAppVolumeView* NetAppTest::volumeView(const std::string& token) {
    views_ = emu_->netAppVolumes();
    for (const auto& v : views_) {
        if (v.creationToken == token)
            return &v;
    }
    return nullptr;
}

}  // namespace azemu::test
