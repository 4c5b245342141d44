// The records of the NetApp Files path (namespace AzureNetApp) and its named
// constants (ANF_API_CONST).
//
// The records are plain values: copyable, no virtual operations, owning all
// their members. An empty string means absent. The only reference is
// KxSnapANFSnapObj's pointer to the host record, which the host owns.
//
// The dump() texts go to the host's log: they never show a token.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapAzureNetAppJson.h"
#include "kxso/KXSOSnapInfo.h"

namespace ANF_API_CONST {

// --- Endpoints -----------------------------------------------------------------
// The public-cloud Resource Manager host and path, without scheme. A test base
// (KXSO_ARM_ENDPOINT) replaces it; see KXSnapAzureNetAppEndpoints.h.
constexpr const char* AZURE_REST_API_BASE_EP = "management.azure.com/";
constexpr int AZURE_REST_API_BASE_EP_LEN = 21;
// The instance metadata service, without scheme, followed by "metadata/".
constexpr const char* AZURE_REST_API_META_BASE_EP = "169.254.169.254/metadata/";
constexpr const char* AZURE_REST_API_META_PATH = "metadata/";
constexpr const char* ANF_REST_HTTP_CONNECTION_SECURE = "https";

// Instance metadata requests, relative to the metadata base. The token's
// resource (the Resource Manager base with its scheme) follows the prefix.
constexpr const char* AZURE_IM_GETTOKEN_ENDPOINT_PREFIX =
    "identity/oauth2/token?api-version=2019-08-15&resource=";
constexpr const char* AZURE_IM_GETTOKEN_ENDPOINT =
    "identity/oauth2/token?api-version=2019-08-15&resource=https://management.azure.com/";
constexpr const char* AZURE_IM_INSTANCE_INFO_ENDPOINT = "instance?api-version=2019-08-15";

// Whole header lines of every request.
constexpr const char* ANF_HDR_ACCEPT = "Accept:application/json";
constexpr const char* ANF_HDR_CONTENT_TYPE = "Content-Type:application/json; charset=UTF-8";
constexpr const char* ANF_HDR_USER_AGENT = "User-Agent:KxSnapAzure";
constexpr const char* ANF_HDR_META_FETCH = "Metadata:true";
constexpr const char* ANF_HDR_AUTHORIZATION = "Authorization:";
constexpr const char* ANF_BEARER_PREFIX = "Bearer ";
// The response header naming an operation's status link.
constexpr const char* ANF_HDR_ASYNC_OPERATION = "Azure-AsyncOperation:";

// --- NetApp Files and Network resources (api-version 2019-11-01) -----------------
constexpr const char* AZURE_ANF_REST_API_VER = "2019-11-01";
constexpr const char* AZURE_REST_CREATE_SNAP_ENDPOINT =
    "subscriptions/%s/resourceGroups/%s/providers/Microsoft.NetApp/netAppAccounts/%s/"
    "capacityPools/%s/volumes/%s/snapshots/%s?api-version=%s";
constexpr const char* AZURE_REST_CREATE_SNAP_FROM_VOL_ENDPOINT = "%s/snapshots/%s?api-version=%s";
constexpr const char* AZURE_REST_DELETE_SNAP_ENDPOINT = AZURE_REST_CREATE_SNAP_ENDPOINT;
constexpr const char* AZURE_REST_GET_SNAP_INFO_ENDPOINT =
    "subscriptions/%s/resourceGroups/%s/providers/Microsoft.NetApp/netAppAccounts/%s/"
    "capacityPools/%s/volumes/%s/snapshots/%s";
constexpr const char* AZURE_REST_GET_SNAP_INFO_FROM_URL_ENDPOINT = "%s?api-version=%s";
constexpr const char* AZURE_REST_GET_VOL_INFO_ENDPOINT =
    "subscriptions/%s/resourceGroups/%s/providers/Microsoft.NetApp/netAppAccounts/%s/"
    "capacityPools/%s/volumes/%s?api-version=%s";
constexpr const char* AZURE_REST_CREATE_VOL_ENDPOINT = AZURE_REST_GET_VOL_INFO_ENDPOINT;
constexpr const char* AZURE_REST_DELETE_VOL_ENDPOINT = AZURE_REST_GET_VOL_INFO_ENDPOINT;
constexpr const char* AZURE_REST_REVERT_VOL_ENDPOINT =
    "subscriptions/%s/resourceGroups/%s/providers/Microsoft.NetApp/netAppAccounts/%s/"
    "capacityPools/%s/volumes/%s/revert?api-version=%s";
constexpr const char* AZURE_REST_LIST_SUB_ENDPOINT = "subscriptions?api-version=%s";
constexpr const char* AZURE_REST_LIST_RES_GROUP_ENDPOINT =
    "subscriptions/%s/resourceGroups?api-version=%s";
constexpr const char* AZURE_REST_LIST_NIC_ENDPOINT =
    "subscriptions/%s/resourceGroups/%s/providers/Microsoft.Network/networkInterfaces"
    "?api-version=%s";
constexpr const char* AZURE_REST_LIST_VOL_FROM_CP_ENDPOINT = "%s/volumes?api-version=%s";
constexpr const char* AZURE_REST_VOL_URL_START_VALIDATION = "subscriptions/";
constexpr const char* ANF_URI_VOLUME_SPEC = "/volumes/";
constexpr const char* ANF_URI_TEMPLATE_COMPUTE_INSTANCE =
    "/subscriptions/%s/resourceGroups/%s/providers/Microsoft.Compute/virtualMachines/%s";
constexpr const char* ANF_NFS_EXPORT_PATH_TEMPLATE = "%s:/%s";

// --- Result codes of the REST client ----------------------------------------------
enum ANF_RESULT : int {
    ANF_RC_SUCCESS = 0,
    ANF_RC_TOKEN_NOT_OBTAINED = 13,
    ANF_RC_INVALID_RESPONSE = 14,
    ANF_RC_REST_CALL_FAILED = 15,
    ANF_RC_ASYNC_OP_FAILED = 17,  // also: the client could not be prepared
    ANF_RC_RESOURCE_NOT_FOUND = 18,
    ANF_RC_ASYNC_OP_TIMED_OUT = 25,
    ANF_RC_ASYNC_OP_ACCEPTED = 26,
    ANF_RC_INVALID_SNAPSHOT_URL = 29,
    ANF_RC_DEVICES_NOT_RESOLVED = 34,
    ANF_RC_NO_EXPORT_RULE = 36,  // a clone would have been open to every client
};

// Operation kinds passed to monitoring.
enum ANF_OPERATION : int {
    ANF_OP_CREATE_SNAP = 1,
    ANF_OP_DELETE_SNAP = 2,
    ANF_OP_CREATE_CLONE = 3,
    ANF_OP_DELETE_CLONE = 4,
    ANF_OP_REVERT_VOL = 5,
};

// Flags of rest_getInstanceDetails.
constexpr int ANF_GET_INSTANCE_FLAG_NONE = 0;
constexpr int ANF_GET_INSTANCE_FLAG_EXTENDED = 1;

// Array tunables.
constexpr int32_t ANF_CONFIG_DEFAULT_RETRY_COUNT = 1440;
constexpr int32_t ANF_CONFIG_DEFAULT_RETRY_INTERVAL = 30;
constexpr int ANF_CONFIG_DEFAULT_DIAG_LOGGING = 0;

// Setting of section "Ferrolink" naming the clients of clone export rules.
constexpr const char* ANF_CUSTOM_EXPORTPOLICY_IP_RANGE_REGKEY = "sANFCustomExportPolicyIPRange";

}  // namespace ANF_API_CONST

// --- Names of the service engine ------------------------------------------------------
constexpr const char* KX_ANF_DEFAULT_ARRAY_MGMT_ENTRY = "AzureNetAppFiles-Default-MI";
constexpr const char* KX_ANF_REG_KEY_CUSTOM_ARRAY_ID = "sANFCustomArrayName";
constexpr const char* KX_ANF_SNAP_CLONE_NAME_PREFIX = "KXClone-";
constexpr const char* KX_ANF_SNAP_CLONE_DEFAULT_SIZE = "107374182400";  // 100 GiB
constexpr const char* KX_ANF_CONFIG_RETRY_INTERVAL_KEY =
    "SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY";
constexpr const char* KX_ANF_CONFIG_RETRY_COUNT_KEY = "SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY";
constexpr const char* KX_ANF_CONFIG_DIAG_LOGGING_KEY = "SMCONFIG_ANF_ENABLE_DIAGNOSTIC_LOGGING_KEY";

// --- Regular expressions (ECMAScript, whole-string match) ---------------------------------
// (.+) is greedy: a resource id with extra path segments puts them into the
// earlier groups.
constexpr const char* ANF_RAW_VOL_PATH_REGEX =
    R"(\/subscriptions\/(.+)\/resourceGroups\/(.+)\/providers\/Microsoft\.NetApp\/)"
    R"(netAppAccounts\/(.+)\/capacityPools\/(.+)\/volumes\/(.+))";
constexpr size_t ANF_RAW_VOL_PATH_REGEX_GROUP_LENGTH = 6;
constexpr size_t ANF_RAW_VOL_PATH_REGEX_INDEX_SUB_ID = 1;
constexpr size_t ANF_RAW_VOL_PATH_REGEX_INDEX_RESGROUP_NAME = 2;
constexpr size_t ANF_RAW_VOL_PATH_REGEX_INDEX_NETAPPACC_NAME = 3;
constexpr size_t ANF_RAW_VOL_PATH_REGEX_INDEX_CP_NAME = 4;
constexpr size_t ANF_RAW_VOL_PATH_REGEX_INDEX_VOL_NAME = 5;

constexpr const char* ANF_RAW_SNAPSHOT_PATH_REGEX =
    R"(\/subscriptions\/(.+)\/resourceGroups\/(.+)\/providers\/Microsoft\.NetApp\/)"
    R"(netAppAccounts\/(.+)\/capacityPools\/(.+)\/volumes\/(.+)\/snapshots\/(.+))";
constexpr size_t ANF_RAW_SNAPSHOT_PATH_REGEX_GROUP_LENGTH = 7;
constexpr size_t ANF_RAW_SNAPSHOT_PATH_REGEX_INDEX_SNAP_NAME = 6;

// A NetApp Files source device name as the host gives it.
constexpr const char* ANF_SOURCE_DEVICE_NAME_REGEX =
    R"(\{idatype:(\S*),type:(\S*),lunuuid:(\S*),targethostname:(\S*)\})";
constexpr size_t ANF_SOURCE_DEVICE_NAME_REGEX_GROUP_LENGTH = 5;
constexpr size_t ANF_SOURCE_DEVICE_NAME_REGEX_INDEX_IDATYPE = 1;
constexpr size_t ANF_SOURCE_DEVICE_NAME_REGEX_INDEX_SHARETYPE = 2;
constexpr size_t ANF_SOURCE_DEVICE_NAME_REGEX_INDEX_SHAREPATH = 3;
constexpr size_t ANF_SOURCE_DEVICE_NAME_REGEX_INDEX_ARRAYNAME = 4;

namespace AzureNetApp {

// The (subscription, resource group) pair.
struct AzureEntity {
    std::string subscriptionId;
    std::string resourceGroupName;
};

// One mount target of a volume.
struct MountInfo {
    std::string ipAddress;
};

struct ProtocolTypes {
    bool nfsv3 = false;
    bool nfsv41 = false;
    bool smb = false;

    void clear();
    // True when at least one protocol is enabled.
    bool isValid() const;
    std::string dump() const;
    // ["NFSv3", "NFSv4.1", "SMB"], in that order, for the flags set.
    AnfJson::Value createJSONArray() const;
    // Sets the flags named in `array` (letter case ignored, others skipped);
    // the result is isValid().
    bool parseFromArray(const AnfJson::Value& array);
};

struct AzureNetAppVolumeInfo : AzureEntity {
    std::string capacityPoolName;
    std::string netappAccountName;
    std::string volumeName;
    std::string fileSystemId;
    std::string location;
    std::string rawPath;  // the full resource id, "/subscriptions/..."
    std::string rawName;  // "account/pool/volume", as Azure names it
    std::string sharePath;
    std::string subnetId;
    std::string usageThreshold;  // bytes, decimal text
    std::vector<MountInfo> mountTargets;
    ProtocolTypes protocolTypes;

    // Empties every string but sharePath and resets the protocols; sharePath
    // and mountTargets stay.
    void clear();
    std::string dump() const;
    // Fills the five coordinates from rawPath; false when rawPath is empty or
    // does not name a volume.
    bool parseRawPath();
};

struct AzureNetAppSnapshotInfo : AzureNetAppVolumeInfo {
    std::string snapshotName;
    std::string snapshotId;  // Azure's snapshot GUID
    std::string provisioningState;
    std::string snapRawName;
    std::string snapRawPath;  // the snapshot's full resource id

    // Sets only snapshotName from snapRawPath; false when it is empty or does
    // not name a snapshot.
    bool parseRawPath();
};

struct AzureError {
    std::string code;
    std::string message;

    void clear();
    // `isMetadata`: the instance metadata service's shape ("error",
    // "error_description"); otherwise Resource Manager's inner error object
    // ("code", "message"). True when either field was found non-empty.
    bool fromJsonObj(const AnfJson::Value& object, bool isMetadata);
    std::string toString() const;
};

// One Azure asynchronous operation.
struct AzureAsyncOpInfo {
    std::string asyncOpUrl;  // the status link as a request path
    float percentComplete = -1;
    std::string startTime;
    std::string endTime;
    std::string status;
    std::string resourceName;
    AzureError error;

    // Empties asyncOpUrl only.
    void clear();
};

// Credentials of other authentication schemes; nothing in this system fills them.
struct AzureAccessInfo {
    std::string tenantId;
    std::string clientId;
    std::string grantType;
    std::string authority;
    std::string scope;
    int32_t timeoutSecs = 0;

    void clear();
};

// A managed-identity token response, member names as the response's keys.
struct AzureAccessTokenInfo : AzureAccessInfo {
    std::string access_token;
    std::string expires_in;
    std::string expires_on;
    std::string resource;
    std::string token_type;
    std::string not_before;
    std::string client_id;
    std::string ext_expires_in;

    void clear();
    // Shows the token's length, never the token.
    std::string dump() const;
};

struct AzureNetworkInterface {
    std::vector<std::string> privateIPv4;
    std::vector<std::string> privateIPv6;

    void clear();
    std::string dump() const;
};

struct AzureVMNetworkInfo {
    std::vector<AzureNetworkInterface> interfaces;
    std::string connectedVNet;
    std::vector<std::string> peeredVNets;

    void clear();
    std::string dump() const;
};

// This virtual machine.
struct AzureInstanceInfo : AzureEntity {
    std::string location;
    std::string name;
    std::string uri;
    std::string vmId;
    std::vector<AzureEntity> accessibleResGroups;
    AzureVMNetworkInfo networkInfo;

    void clear();
    // True when both the subscription and the resource group are known.
    bool validate() const;
    // Sets uri from subscription, resource group and name; false, changing
    // nothing, when any of them is empty.
    bool generateUri();
    std::string dump() const;
};

// The parts of a source device name.
struct DevInfo {
    std::string idaType;
    std::string shareType;
    std::string sharePath;
    std::string arrayName;  // the NFS server address the share was mounted from
};

// Tunables of one array, shared by the engine and its work objects.
struct ANFArrayConfigs {
    int32_t retryCount;
    int32_t retryInterval;  // seconds
    bool diagnosticLogging;

    ANFArrayConfigs() { init(); }
    void init();
    std::string dump() const;
};

// The service engine's work object for one device.
struct KxSnapANFSnapObj {
    KXSO::SnapInfo* snapInfo = nullptr;  // the host's record, not owned
    std::string deviceName;
    std::shared_ptr<ANFArrayConfigs> arrayConfigs;
    int64_t snapNum = 0;
    std::string snapName;
    DevInfo devInfo;
    AzureNetAppSnapshotInfo snapshotInfo;
    std::string asyncOpLink;
    AzureNetAppVolumeInfo cloneVolumeInfo;
    int32_t opState = 0;

    KxSnapANFSnapObj();
    // Reads the record's snapshot id once.
    explicit KxSnapANFSnapObj(KXSO::SnapInfo* record);
    void reset();
};

// The service engine's work objects by the position of their record in the
// job's array, in that order.
using SnapObjMap = std::map<int64_t, std::shared_ptr<KxSnapANFSnapObj>>;

}  // namespace AzureNetApp
