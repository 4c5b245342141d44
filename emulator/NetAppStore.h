// NetApp Files resources in the state: ids, naming rules, and the changes that touch several
// records at once (a volume with its mount target and NIC; a volume's removal with its
// snapshots). Shared by the scenario and the REST handlers.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Model.h"
#include "Scenario.h"

namespace azemu {

constexpr const char* kNetAppNamespace = "Microsoft.NetApp";
constexpr int64_t kMinVolumeQuota = 107374182400;     // 100 GiB
constexpr int64_t kMaxVolumeQuota = 109951162777600;  // 100 TiB
constexpr size_t kMaxExportRules = 5;

std::string netAppAccountId(const std::string& subscription, const std::string& group,
                            const std::string& account);
// "{parent}/{type}/{name}", keeping the parent id's spelling.
std::string childId(const std::string& parentId, const std::string& type, const std::string& name);
std::string parentId(const std::string& id);  // drops the last type/name pair

// Names as the service accepts them: accounts, pools and volumes begin with a letter and hold
// letters, digits, '-' and '_'; snapshots may also begin with a digit and hold '.'.
bool isValidNetAppName(const std::string& type, const std::string& name);
// Creation tokens are export paths: a letter, then letters, digits and '-', at most 80.
bool isValidCreationToken(const std::string& token);
bool creationTokenInUse(const AzureState& state, const std::string& token);

// "NFSv3", "NFSv4.1" or "CIFS" for any spelling the service takes; "" for anything else.
std::string canonicalProtocol(const std::string& name);
// The rule the service puts on a volume created without an export policy.
Json defaultExportRules(const std::vector<std::string>& protocols);

// Stores `v` (id, name, location, token, subnet... filled in) with a mount target at `ip`
// and a NIC for it; gives it a file system id. Returns the stored record.
NetAppVolumeRecord& addVolume(AzureState& state, const SubnetInfo& subnet, NetAppVolumeRecord v,
                              const std::string& ip);
// Removes the volume, its snapshots and NICs left serving nothing.
void removeVolume(AzureState& state, const std::string& volumeId);
std::vector<const NetAppSnapshotRecord*> snapshotsOf(const AzureState& state,
                                                     const std::string& volumeId);
// A snapshot named by its resource id or by its GUID (the two forms clients send).
const NetAppSnapshotRecord* findSnapshotByReference(const AzureState& state,
                                                    const std::string& reference);

}  // namespace azemu
