// The emulated Azure side: what exists, in which state, and what is still in flight.
// Plain records that serialise to JSON as they are, so that --state can save and reload them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ArmPath.h"

namespace azemu {

using Json = nlohmann::json;

constexpr int64_t kNeverDue = -1;

// A managed disk or a snapshot: Compute gives both the same shape.
struct DiskRecord {
    std::string kind;  // "disks" or "snapshots"
    std::string id;    // canonical id, casing as created
    std::string name;
    std::string location;
    std::string sku;
    int64_t sizeGB = 0;
    std::string osType;        // set for OS disks and their snapshots
    std::string createOption;  // Empty, Copy, FromImage
    std::string sourceResourceId;
    std::string sourceUniqueId;
    std::string uniqueId;
    std::string timeCreated;
    std::string provisioningState = "Succeeded";
    bool incremental = false;
    std::vector<std::string> zones;
    Json tags = Json::object();
    std::string managedBy;    // VM id while attached
    std::string operationId;  // pending create/update/delete
    bool deleting = false;
};

struct DataDiskEntry {
    int lun = 0;
    std::string name;
    std::string createOption = "Attach";
    std::string caching = "None";
    std::string diskId;  // managed disk id; empty for an unmanaged disk
    std::string vhdUri;  // unmanaged disk blob
    int64_t sizeGB = 0;  // unmanaged disks only; managed ones report their disk's size
    bool writeAcceleratorEnabled = false;
};

struct OsDiskEntry {
    std::string name;
    std::string diskId;
    std::string osType = "Linux";
    std::string caching = "ReadWrite";
    std::string createOption = "FromImage";
};

struct VmRecord {
    std::string id;
    std::string name;
    std::string location;
    std::string vmId;
    std::string vmSize = "Standard_D4s_v3";
    std::string provisioningState = "Succeeded";
    std::vector<std::string> zones;
    Json tags = Json::object();
    // Members of "properties" the emulator does not interpret (osProfile, networkProfile...):
    // kept as last written, returned as they are.
    Json otherProperties = Json::object();
    Json imageReference = Json::object();
    OsDiskEntry osDisk;
    std::vector<DataDiskEntry> dataDisks;
    int maxDataDisks = 64;
    bool local = false;  // the VM this emulator runs "inside": it has the device tree
    std::string operationId;
};

struct AsyncOperation {
    std::string id;
    std::string kind;  // "vmUpdate", "provision", "delete"
    std::string resourceId;
    std::string location;
    std::string status = "InProgress";  // InProgress, Succeeded, Failed, Canceled
    std::string outcome = "Succeeded";  // the status it will end with
    int64_t startMs = 0;
    int64_t endMs = 0;
    int64_t dueMs = 0;     // kNeverDue: never ends
    Json error;            // {code, message} once it ended badly
    Json pendingVm;        // vmUpdate: the VmRecord to install when it succeeds
    std::string targetId;  // netappRevert: the snapshot the volume goes back to
};

struct DeviceRecord {
    std::string name;  // sda, sdb, ..., loop0
    std::string scsiAddress;
    int lun = -1;      // data disk LUN
    std::string role;  // os, resource, data, other
    std::string diskId;
};

// A data disk's device appearing or vanishing, applied when due.
struct DeviceEvent {
    int64_t dueMs = 0;
    bool add = true;
    int lun = 0;
    std::string diskId;
};

// NetApp Files. The hierarchy is held flat, keyed by id: a child's id starts with its parent's.
struct NetAppAccountRecord {
    std::string id;
    std::string name;
    std::string location;
    Json tags = Json::object();
};

struct CapacityPoolRecord {
    std::string id;
    std::string name;
    std::string location;
    std::string poolId;
    std::string serviceLevel = "Premium";
    int64_t sizeBytes = 4398046511104;  // 4 TiB, the smallest pool
    Json tags = Json::object();
};

struct MountTargetRecord {
    std::string mountTargetId;
    std::string ipAddress;
};

struct NetAppVolumeRecord {
    std::string id;
    std::string name;
    std::string location;
    std::string fileSystemId;
    std::string creationToken;
    std::string serviceLevel = "Premium";
    std::string subnetId;
    int64_t usageThreshold = 107374182400;
    std::vector<std::string> protocolTypes;
    Json exportRules = Json::array();
    std::vector<MountTargetRecord> mountTargets;
    Json tags = Json::object();
    std::string provisioningState = "Succeeded";
    std::string sourceSnapshotId;  // a clone: resource id of the snapshot it was made from
    // What the volume holds, as a label: snapshots capture it, clones start from a snapshot's,
    // a revert puts a snapshot's back. Tests write to a volume by changing it.
    std::string content;
    std::string revertedTo;  // resource id of the snapshot last reverted to
    std::string operationId;
    bool deleting = false;
};

struct NetAppSnapshotRecord {
    std::string id;
    std::string name;
    std::string location;
    std::string snapshotId;  // the snapshot's own GUID
    std::string fileSystemId;
    std::string created;
    std::string provisioningState = "Succeeded";
    std::string content;  // the volume's content when the snapshot was taken
    std::string operationId;
    bool deleting = false;
};

struct IpConfigurationRecord {
    std::string name;
    std::string privateIp;
    std::string subnetId;
    bool primary = true;
};

struct NicRecord {
    std::string id;
    std::string name;
    std::string location;
    std::vector<IpConfigurationRecord> ipConfigurations;
    std::string macAddress;
    std::string virtualMachineId;
    bool primary = false;
    // A NIC NetApp Files made for a mount target: it hosts the volumes served at its address
    // and goes away with the last of them.
    bool servesVolumes = false;
    std::vector<std::string> hostedWorkloads;  // listed as they are, besides served volumes
};

struct AzureState {
    std::vector<std::string> resourceGroups;
    std::map<std::string, DiskRecord> disks;           // key: lower-case id
    std::map<std::string, VmRecord> vms;               // key: lower-case id
    std::map<std::string, AsyncOperation> operations;  // key: lower-case operation id
    std::map<std::string, Json> otherResources;        // other providers' documents by id key
    std::map<std::string, NetAppAccountRecord> netAppAccounts;  // key: lower-case id
    std::map<std::string, CapacityPoolRecord> capacityPools;
    std::map<std::string, NetAppVolumeRecord> netAppVolumes;
    std::map<std::string, NetAppSnapshotRecord> netAppSnapshots;
    std::map<std::string, NicRecord> networkInterfaces;
    std::vector<DeviceRecord> devices;
    std::vector<DeviceEvent> deviceEvents;
};

struct TokenRecord {
    std::string sha256;  // of the token; the token itself is never stored
    int64_t expiresMs = 0;
};

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(DiskRecord, kind, id, name, location, sku, sizeGB,
                                                osType, createOption, sourceResourceId,
                                                sourceUniqueId, uniqueId, timeCreated,
                                                provisioningState, incremental, zones, tags,
                                                managedBy, operationId, deleting)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(DataDiskEntry, lun, name, createOption, caching,
                                                diskId, vhdUri, sizeGB, writeAcceleratorEnabled)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(OsDiskEntry, name, diskId, osType, caching,
                                                createOption)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(VmRecord, id, name, location, vmId, vmSize,
                                                provisioningState, zones, tags, otherProperties,
                                                imageReference, osDisk, dataDisks, maxDataDisks,
                                                local, operationId)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(AsyncOperation, id, kind, resourceId, location,
                                                status, outcome, startMs, endMs, dueMs, error,
                                                pendingVm, targetId)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(NetAppAccountRecord, id, name, location, tags)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(CapacityPoolRecord, id, name, location, poolId,
                                                serviceLevel, sizeBytes, tags)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(MountTargetRecord, mountTargetId, ipAddress)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(NetAppVolumeRecord, id, name, location,
                                                fileSystemId, creationToken, serviceLevel, subnetId,
                                                usageThreshold, protocolTypes, exportRules,
                                                mountTargets, tags, provisioningState,
                                                sourceSnapshotId, content, revertedTo, operationId,
                                                deleting)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(NetAppSnapshotRecord, id, name, location,
                                                snapshotId, fileSystemId, created,
                                                provisioningState, content, operationId, deleting)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(IpConfigurationRecord, name, privateIp, subnetId,
                                                primary)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(NicRecord, id, name, location, ipConfigurations,
                                                macAddress, virtualMachineId, primary,
                                                servesVolumes, hostedWorkloads)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(DeviceRecord, name, scsiAddress, lun, role, diskId)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(DeviceEvent, dueMs, add, lun, diskId)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(AzureState, resourceGroups, disks, vms, operations,
                                                otherResources, devices, deviceEvents,
                                                netAppAccounts, capacityPools, netAppVolumes,
                                                netAppSnapshots, networkInterfaces)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TokenRecord, sha256, expiresMs)

// Lookups by id, compared as ARM compares them (case and extra slashes ignored).
DiskRecord* findDisk(AzureState& s, const std::string& id);
const DiskRecord* findDisk(const AzureState& s, const std::string& id);
VmRecord* findVm(AzureState& s, const std::string& id);
const VmRecord* findVm(const AzureState& s, const std::string& id);
VmRecord* localVm(AzureState& s);
const VmRecord* localVm(const AzureState& s);
bool hasResourceGroup(const AzureState& s, const std::string& name);

// The same for NetApp Files and network interfaces; null when there is none.
template <typename Record>
Record* findById(std::map<std::string, Record>& m, const std::string& id) {
    auto it = m.find(idKey(id));
    return it == m.end() ? nullptr : &it->second;
}
template <typename Record>
const Record* findById(const std::map<std::string, Record>& m, const std::string& id) {
    auto it = m.find(idKey(id));
    return it == m.end() ? nullptr : &it->second;
}
// True when `childId` lies below `parentId` ("/a/b" is the parent of "/a/b/c/d").
bool isBelow(const std::string& childId, const std::string& parentId);

}  // namespace azemu
