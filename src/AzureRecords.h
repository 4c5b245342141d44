// The plain records through which the managed-disk engine sees Azure: a
// generic resource, a managed disk (also one entry of a VM's disk list), a
// snapshot, this virtual machine, the snapshot metadata, the token, the web
// proxy and the request record of the REST client. Every member has value
// semantics; records are copied freely.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "KxSnapWebProxy.h"

// Tag keys the engine writes on the resources it creates. They are stored in
// Azure with every resource, so their texts never change.
constexpr const char* AZURE_TAG_DISK_CREATED = "DiskCreatedByHarrowind";
constexpr const char* AZURE_TAG_SNAPSHOT_CREATED = "SnapShotCreatedByHarrowind";
constexpr const char* AZURE_TAG_DISK_REVERTED = "DiskRevertOperationByHarrowind";

struct AzureResourceInfo {
    std::string name;
    std::string type;
    std::string id;  // full resource id, as Azure reports it
    std::string location;
    std::map<std::string, std::string> tags;  // only the engine's own tags
    std::string propertiesJson;               // the "properties" object, serialised
};

struct AzureDiskInfo : AzureResourceInfo {
    std::string createOption;
    std::string caching;
    std::string diskState;
    std::string sourceResourceId;
    std::string timeCreated;
    std::string provisioningState;
    std::string storageAccountType;
    std::string originalDiskName;  // earlier name recorded in the revert tag
    uint64_t diskSizeGB = 0;
    int32_t lun = 0;
    bool isManaged = true;
    bool incremental = true;  // snapshots only; cleared when Azure refuses one
};

struct AzureDiskSnapShotInfo : AzureDiskInfo {
    std::string diskName;  // disk to create from this snapshot (map, revert)
    // Revert: the LUN of the disk the new one replaces, taken when free, so
    // that a source disk given back later finds its own LUN.
    int32_t preferredLun = -1;
};

struct AzureInstanceInfo : AzureResourceInfo {
    std::string osType;
    std::string resourceGroupName;  // always upper case
    std::string subscriptionId;
    std::string vmId;
    std::string vmInfoJson;            // the whole VM description as received
    std::vector<AzureDiskInfo> disks;  // data disks, then the OS disk (lun -1)
    std::vector<std::string> zones;
};

struct AzureSnapMetadata {
    std::string snapURL;
    std::string sourceDiskURL;
    std::string sourceDiskName;
    std::string sourceDiskSku;
};

struct AzureAccessInfo {
    std::string subscriptionId;
};

struct AzureAccessTokenInfo : AzureAccessInfo {
    std::string access_token;  // secret: never logged
    std::string expires_in;
    std::string expires_on;
    std::string resource;
    std::string token_type;
};


// Operation codes of the REST client. The code picks the HTTP method, the
// extra header and the follow-up poll of a request.
enum AzureOperation : int {
    AZURE_OP_GET_TOKEN = 0,
    AZURE_OP_GET = 1,
    AZURE_OP_CREATE_SNAPSHOT = 2,
    AZURE_OP_GET_SNAPSHOT = 3,
    AZURE_OP_DELETE_SNAPSHOT = 4,
    AZURE_OP_PUT_WITH_PROVISIONING = 5,
    AZURE_OP_DETACH_DISK = 6,
    AZURE_OP_CREATE_DISK = 7,
    AZURE_OP_DELETE_DISK = 8,
    AZURE_OP_DELETE_RESOURCE = 9,
    AZURE_OP_GET_INSTANCE_METADATA = 21,
    AZURE_OP_GET_VM_INFO = 22,
    AZURE_OP_GET_RESOURCE_INFO = 23,
    AZURE_OP_GET_ASYNC_STATUS = 24,
    AZURE_OP_ATTACH_DISK = 41,
};

struct AzureAPIRequest {
    AzureOperation operation = AZURE_OP_GET;
    std::string baseUrl;
    std::string resourcePath;
    std::string leaf;
    std::vector<std::string> queryParams;  // each "key=value"
    AzureAccessInfo accessInfo;            // not read by the sending path
    std::string extra;                     // not read by the sending path
};
