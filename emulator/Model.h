// The emulated Azure side: what exists, in which state, and what is still in flight.
// Plain records that serialise to JSON as they are, so that --state can save and reload them.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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
    int64_t dueMs = 0;  // kNeverDue: never ends
    Json error;         // {code, message} once it ended badly
    Json pendingVm;     // vmUpdate: the VmRecord to install when it succeeds
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

struct AzureState {
    std::vector<std::string> resourceGroups;
    std::map<std::string, DiskRecord> disks;           // key: lower-case id
    std::map<std::string, VmRecord> vms;               // key: lower-case id
    std::map<std::string, AsyncOperation> operations;  // key: lower-case operation id
    std::map<std::string, Json> otherResources;        // other providers' documents by id key
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
                                                pendingVm)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(DeviceRecord, name, scsiAddress, lun, role, diskId)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(DeviceEvent, dueMs, add, lun, diskId)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(AzureState, resourceGroups, disks, vms, operations,
                                                otherResources, devices, deviceEvents)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(TokenRecord, sha256, expiresMs)

// Lookups by id, compared as ARM compares them (case and extra slashes ignored).
DiskRecord* findDisk(AzureState& s, const std::string& id);
const DiskRecord* findDisk(const AzureState& s, const std::string& id);
VmRecord* findVm(AzureState& s, const std::string& id);
const VmRecord* findVm(const AzureState& s, const std::string& id);
VmRecord* localVm(AzureState& s);
const VmRecord* localVm(const AzureState& s);
bool hasResourceGroup(const AzureState& s, const std::string& name);

}  // namespace azemu
