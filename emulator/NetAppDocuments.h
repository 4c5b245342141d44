// NetApp Files resources as the service shows them (api-version 2019-11-01): accounts,
// capacity pools, volumes with their mount targets, export policy and protocols, snapshots.
#pragma once

#include <string>
#include <vector>

#include "Model.h"
#include "Scenario.h"

namespace azemu {

// "account1/pool1/volume1" for a volume id: the names along the NetApp path.
std::string netAppResourceName(const std::string& id);
std::string netAppResourceType(const std::string& id);  // "Microsoft.NetApp/netAppAccounts/..."

Json renderAccount(const NetAppAccountRecord& a);
Json renderPool(const CapacityPoolRecord& p);
Json renderVolume(const NetAppVolumeRecord& v, const std::vector<SubnetInfo>& subnets);
Json renderSnapshot(const NetAppSnapshotRecord& s);
// One mount target as MountTargets_List shows it (the volume's list is the same, flattened).
Json renderMountTarget(const NetAppVolumeRecord& v, const MountTargetRecord& m,
                       const std::vector<SubnetInfo>& subnets);

}  // namespace azemu
