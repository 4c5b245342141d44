#include "NetAppStore.h"

#include <algorithm>
#include <cctype>

#include "ArmPath.h"
#include "Util.h"
#include "VirtualNetwork.h"

namespace azemu {

namespace {

bool isNameChar(unsigned char c, bool allowDot) {
    return std::isalnum(c) || c == '-' || c == '_' || (allowDot && c == '.');
}

}  // namespace

std::string netAppAccountId(const std::string& subscription, const std::string& group,
                            const std::string& account) {
    return resourceGroupId(subscription, group) + "/providers/" + kNetAppNamespace +
           "/netAppAccounts/" + account;
}

std::string childId(const std::string& parentId, const std::string& type, const std::string& name) {
    return normalizeId(parentId) + "/" + type + "/" + name;
}

std::string parentId(const std::string& id) {
    auto segs = pathSegments(id);
    std::string out;
    for (size_t i = 0; i + 2 < segs.size(); ++i)
        out += "/" + segs[i];
    return out;
}

bool isValidNetAppName(const std::string& type, const std::string& name) {
    bool snapshot = type == "snapshots";
    size_t maxLength = snapshot ? 255 : 64;
    if (name.empty() || name.size() > maxLength)
        return false;
    unsigned char first = static_cast<unsigned char>(name[0]);
    if (!(snapshot ? std::isalnum(first) : std::isalpha(first)))
        return false;
    return std::all_of(name.begin(), name.end(),
                       [&](unsigned char c) { return isNameChar(c, snapshot); });
}

bool isValidCreationToken(const std::string& token) {
    if (token.empty() || token.size() > 80)
        return false;
    if (!std::isalpha(static_cast<unsigned char>(token[0])))
        return false;
    return std::all_of(token.begin(), token.end(),
                       [](unsigned char c) { return std::isalnum(c) || c == '-'; });
}

bool creationTokenInUse(const AzureState& state, const std::string& token) {
    return std::any_of(state.netAppVolumes.begin(), state.netAppVolumes.end(),
                       [&](const auto& kv) { return iequals(kv.second.creationToken, token); });
}

std::string canonicalProtocol(const std::string& name) {
    for (const char* p : {"NFSv3", "NFSv4.1", "CIFS"}) {
        if (iequals(name, p))
            return p;
    }
    return iequals(name, "SMB") ? "CIFS" : "";
}

Json defaultExportRules(const std::vector<std::string>& protocols) {
    auto has = [&](const char* p) {
        return std::find(protocols.begin(), protocols.end(), p) != protocols.end();
    };
    return Json::array({{{"ruleIndex", 1},
                         {"unixReadOnly", false},
                         {"unixReadWrite", true},
                         {"cifs", has("CIFS")},
                         {"nfsv3", has("NFSv3")},
                         {"nfsv41", has("NFSv4.1")},
                         {"allowedClients", "0.0.0.0/0"}}});
}

NetAppVolumeRecord& addVolume(AzureState& state, const SubnetInfo& subnet, NetAppVolumeRecord v,
                              const std::string& ip) {
    v.subnetId = subnet.id;
    if (v.fileSystemId.empty())
        v.fileSystemId = randomUuid();
    v.mountTargets = {{randomUuid(), ip}};
    NetAppVolumeRecord& stored = state.netAppVolumes[idKey(v.id)] = std::move(v);
    attachVolumeNic(state, subnet, stored);
    return stored;
}

void removeVolume(AzureState& state, const std::string& volumeId) {
    for (auto it = state.netAppSnapshots.begin(); it != state.netAppSnapshots.end();) {
        it = isBelow(it->second.id, volumeId) ? state.netAppSnapshots.erase(it) : std::next(it);
    }
    state.netAppVolumes.erase(idKey(volumeId));
    dropIdleVolumeNics(state);
}

std::vector<const NetAppSnapshotRecord*> snapshotsOf(const AzureState& state,
                                                     const std::string& volumeId) {
    std::vector<const NetAppSnapshotRecord*> out;
    for (const auto& [key, s] : state.netAppSnapshots) {
        if (isBelow(s.id, volumeId))
            out.push_back(&s);
    }
    return out;
}

const NetAppSnapshotRecord* findSnapshotByReference(const AzureState& state,
                                                    const std::string& reference) {
    if (reference.find('/') != std::string::npos) {
        return findById(state.netAppSnapshots, reference);
    }
    for (const auto& [key, s] : state.netAppSnapshots) {
        if (iequals(s.snapshotId, reference))
            return &s;
    }
    return nullptr;
}

}  // namespace azemu
