// KxSnapAzureAPI: the managed-disk engine's client of the Azure Compute REST
// interface. One object per exported call: InitAzureContext once, then the
// disk, snapshot and virtual-machine operations. Every operation returns a
// CUxError by value (code 0 = success) and never throws.
//
// The class is split over several files by concern:
//   KxSnapAzureAPIContext.cpp  context, endpoint, token, instance description
//   KxSnapAzureAPIProxy.cpp    web proxy decision and set-up
//   KxSnapAzureAPISend.cpp     URL forming and request sending
//   KxSnapAzureAPIPoll.cpp     asynchronous-operation and provisioning polls
//   KxSnapAzureAPIParse.cpp    record parsers
//   KxSnapAzureAPIDisks.cpp    disk and snapshot operations
//   KxSnapAzureAPIAttach.cpp   VM data-disk attach, detach, LUN allocation
//   KxSnapAzureAPIMap.cpp      map, unmap and clean-up on top of attach/detach
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "AzureRecords.h"
#include "kxso/KXSOSnapInfo.h"
#include "platform/CUxError.h"
#include "platform/KXRetryPolicy.h"
#include "platform/KxJson.h"

class KXLibCurl;
namespace KXFanOut {
struct Request;
struct Answer;
class Job;
struct Statistics;
}  // namespace KXFanOut

// Clouds named by the setting "AzureRegion".
constexpr const char* AZURE_GLOBAL = "Global";
constexpr const char* AZURE_CHINA = "China";
constexpr const char* AZURE_GOV_US = "usgov";
constexpr const char* AZURE_GERMANY = "Germany";

// Resource Manager base of each cloud. KXSO_ARM_ENDPOINT replaces all of them.
constexpr const char* ENDPOINT_MANAGEMENT_GLOBAL = "https://management.azure.com/";
constexpr const char* ENDPOINT_MANAGEMENT_CHINA = "https://management.chinacloudapi.cn/";
constexpr const char* ENDPOINT_MANAGEMENT_GOV_US = "https://management.usgovcloudapi.net/";
constexpr const char* ENDPOINT_MANAGEMENT_GERMANY = "https://management.microsoftazure.de/";
// Instance metadata service; KXSO_IMDS_ENDPOINT replaces "http://169.254.169.254/".
constexpr const char* ENDPOINT_INST_METADATA = "http://169.254.169.254/metadata/instance/";
constexpr const char* ENDPOINT_MSI_AUTH = "http://169.254.169.254/metadata/identity/oauth2/";

constexpr const char* AZURE_API_VERSION = "2018-04-01";
constexpr const char* AZURE_API_VERSION_FOR_INCR = "2019-03-01";
constexpr const char* AZURE_API_METADATA_VERSION = "2018-02-01";
constexpr const char* AZURE_API_MSI_VERSION = "2018-02-01";
constexpr const char* HTTP_HEADER_ACCEPT_JSON = "Accept: application/json";
constexpr const char* HTTP_CONTENT_TYPE_JSON = "content-type: application/json";

// The module tag of every log line of the managed-disk path.
constexpr const char* AZURE_LOG_TAG = "AZUREAPI >>>>>";

// Error codes of the client.
constexpr int32_t AZURE_ERR_GENERAL = 774;
constexpr int32_t AZURE_ERR_PARSE = 1;
constexpr int32_t AZURE_ERR_TIMEOUT = 1627;

// Azure's error of the last operation that ended without success.
struct AzureOperationError {
    std::string code;
    std::string message;
    bool canceled = false;
    // " [code] [message]", or a fixed text when Azure gave neither.
    std::string Describe() const;
};

// What became of the last VM update that failed.
enum class VMUpdateOutcome {
    kNotSent,    // refused before or when it was sent: the VM is as it was
    kSettled,    // the VM settled afterwards; the instance record shows how
    kUnsettled,  // the VM did not settle within the wait limit: disks named in
                 // the update may still change, so none of them may be deleted
};

// The data disk of the instance that is the disk `id` (or, without an id, the
// disk called `name`); the OS disk never. Null when it is not attached.
const AzureDiskInfo* FindAttachedDisk(const AzureInstanceInfo& instance, const std::string& id,
                                      const std::string& name);

class DiskCreateJob;

class KxSnapAzureAPI {
public:
    KxSnapAzureAPI();
    ~KxSnapAzureAPI();
    KxSnapAzureAPI(const KxSnapAzureAPI&) = delete;
    KxSnapAzureAPI& operator=(const KxSnapAzureAPI&) = delete;

    // --- Context (settings, endpoint, HTTP client, proxy, token, this VM) ---
    CUxError InitAzureContext(KXSO::SnapInfo* record, AzureInstanceInfo& instance, int64_t jobId);
    CUxError GetAzureEndPoint(const std::string& region, std::string& endpoint);
    CUxError QueryWebProxySettings();
    CUxError ConfigureWebProxySettings();
    CUxError InitCurlObject();
    CUxError GetAzureMSIAccessToken();
    CUxError GetInstanceMetaData(AzureInstanceInfo& instance);

    // The array name chosen while the context was set up ("sAzureArray").
    std::string GetArrayToAssociateWithSnaps() const { return arrayName; }
    uint64_t GetMaxWaitSecs() const { return maxWaitSecs; }
    uint64_t GetPollIntervalSecs() const { return pollIntervalSecs; }
    bool IsPostCreateSnapPhaseDisabled() const { return disablePostCreateSnapPhase; }
    const std::string& GetManagementEndpoint() const { return managementEndpoint; }
    const HttpWebProxyInfo& GetProxyInfo() const { return proxyInfo; }
    int64_t GetJobId() const { return jobId; }
    // HTTP status of the last request sent (0 before any).
    long GetLastHttpStatus() const;

    // --- Sending and polling ---
    CUxError FormRESTURLRequest(const AzureAPIRequest& request, std::string& url);
    CUxError SendRESTURLRequest(const AzureAPIRequest& request, const std::string& body,
                                std::string& response);
    // `withRetry` false sends once, without the retry policy: for status
    // polls, whose loop is the retry.
    CUxError SendGetRequest(const std::string& url, AzureOperation operation,
                            std::string& response, bool withRetry = true);
    CUxError SendRequest(int method, const std::string& url, const std::string& body,
                         AzureOperation operation, std::string& response, bool withRetry = true);
    // SendRequest in halves, for requests sent side by side: the request as
    // SendRequest sends it (its "Sending" line logged), and what SendRequest
    // makes of its answer.
    CUxError PrepareRequest(int method, const std::string& url, const std::string& body,
                            AzureOperation operation, bool withRetry, KXFanOut::Request& request);
    CUxError TakeAnswer(int method, const std::string& url, AzureOperation operation,
                        const KXFanOut::Answer& answer, std::string& response);
    // The same for a request record: the first send of its operation, without
    // the follow-up poll (the job polls). A code no request belongs to fails.
    CUxError PrepareRequest(const AzureAPIRequest& apiRequest, const std::string& body,
                            KXFanOut::Request& request);
    CUxError TakeAnswer(const AzureAPIRequest& apiRequest, const KXFanOut::Answer& answer,
                        std::string& response);
    // Runs the jobs side by side over connections set up as this client's
    // own (trace, proxy), as many at once as "nAzureRESTAPIMaxParallelRequests"
    // allows. Answers the index of the job that stopped the walk, or the
    // number of jobs. (KxSnapAzureAPIFanOut.cpp)
    size_t RunSideBySide(const std::vector<KXFanOut::Job*>& jobs,
                         KXFanOut::Statistics* statistics = nullptr);
    CUxError PollForAsyncOperation(const std::string& statusUrl, std::string& response);
    CUxError PollForResourceProvisioningState(AzureOperation operation,
                                              const std::string& resourceUrl,
                                              std::string& response);
    // The provisioning poll in steps, for a job that polls side by side:
    // each answer (the fetch's error, HTTP status, body and the server's
    // Retry-After, -1 when none) either ends the wait with `result` (true)
    // or asks for the next poll after `delayMs` (false).
    struct ProvisioningWait {
        std::string url;
        uint64_t start = 0;
        uint64_t intervalMs = 0;
        uint64_t maxWaitSecs = 0;
        int failures = 0;
    };
    void BeginProvisioningWait(AzureOperation operation, const std::string& resourceUrl,
                               ProvisioningWait& wait);
    bool ProvisioningWaitStep(ProvisioningWait& wait, const CUxError& fetchErr, long httpStatus,
                              const std::string& response, int64_t retryAfterMs, CUxError& result,
                              uint64_t& delayMs);
    // Waits until a resource that was asked to be deleted is gone (404), so
    // that a resource of the same name can be created next. Fails when the
    // resource still exists without being deleted, or when the client's
    // maximum wait passes.
    CUxError WaitForAzureResourceDeletion(const std::string& resourcePath);
    void GetPollingInputsForOptype(AzureOperation operation, uint64_t& pollIntervalMs,
                                   uint64_t& maxWaitSeconds);
    static std::string ConvertHttpReqToString(int method);
    const AzureOperationError& GetLastOperationError() const { return lastOperationError; }
    // Valid after a VM update (attach or detach) returned an error.
    VMUpdateOutcome GetLastVMUpdateOutcome() const { return lastVMUpdateOutcome; }

    // --- Records and parsers ---
    CUxError ParseVMMetaDataFromJSONReponse(const std::string& json, AzureInstanceInfo& instance);
    CUxError ParseVMInfoFromJSONReponse(const std::string& json, AzureInstanceInfo& instance);
    CUxError ParseDiskInfoFromJsonResponse(const std::string& json, AzureDiskInfo& disk);
    CUxError ParseSnapShotInfoFromJSONReponse(const std::string& json,
                                              AzureDiskSnapShotInfo& snapshot);
    CUxError ParseDiskInfoFromJsonResponse(const KxJson::Value& diskArray,
                                           std::vector<AzureDiskInfo>& disks);
    CUxError ParseVMDiskInfoFromJsonResponse(const KxJson::Value& entry, AzureDiskInfo& disk);
    CUxError ParseResourceInfoFromJSONReponse(const std::string& json, AzureResourceInfo& resource);
    CUxError ParseAccessTokenFromJSONReponse(const std::string& json, AzureAccessTokenInfo& token);
    CUxError ConvertDiskInfoToJsonObj(const AzureDiskInfo& disk, KxJson::Value& entry);

    // --- Request bodies (JSON text) of the disk and snapshot creations ---
    std::string SnapshotRequestBody(const AzureDiskInfo& disk,
                                    const AzureDiskSnapShotInfo& snapshot,
                                    const AzureInstanceInfo& instance) const;
    std::string DiskFromSnapshotRequestBody(const AzureInstanceInfo& instance,
                                            const std::string& diskName,
                                            const AzureDiskSnapShotInfo& snapshot) const;

    // --- Disk and snapshot operations ---
    CUxError CreateAzureSnapshotForDisk(int lun, const AzureInstanceInfo& instance,
                                        AzureDiskSnapShotInfo& snapshot);
    CUxError VerifyAzureSnapshot(const std::string& snapshotPath, AzureDiskSnapShotInfo& snapshot);
    // The steps of the two above for requests sent side by side: the data
    // disk at `lun` as known locally; the read of a resource and what its
    // answer says (a disk's tags: the name of the disk a revert replaced);
    // the snapshot creation request and what its answer (the send's error
    // and HTTP status) makes of the snapshot.
    CUxError SnapshotReadRequest(const std::string& snapshotPath, AzureAPIRequest& request);
    CUxError TakeSnapshotRead(CUxError err, const std::string& response,
                              AzureDiskSnapShotInfo& snapshot);
    CUxError FindDataDiskAtLun(int lun, const AzureInstanceInfo& instance, AzureDiskInfo& disk);
    CUxError ResourceInfoRequest(const std::string& resourcePath, AzureAPIRequest& request);
    CUxError TakeResourceInfo(CUxError err, const std::string& response,
                              AzureResourceInfo& resource, bool& createdByKX);
    void ApplyDiskTags(const AzureResourceInfo& resource, bool createdByKX, AzureDiskInfo& disk);
    CUxError SnapshotCreationRequest(int lun, const AzureInstanceInfo& instance,
                                     AzureDiskSnapShotInfo& snapshot, AzureAPIRequest& request,
                                     std::string& body);
    CUxError TakeSnapshotCreation(CUxError err, long httpStatus, const std::string& response,
                                  AzureDiskSnapShotInfo& snapshot);
    CUxError CreateAzureDiskFromSnapshot(const AzureInstanceInfo& instance,
                                         const std::string& diskName,
                                         const AzureDiskSnapShotInfo& snapshot,
                                         AzureDiskInfo& disk);
    // The disks go out side by side; the outcome is that of creating them one
    // after the other up to the first failure. A disk made for a later one
    // meanwhile is deleted again, or left behind (IsDiskLeftBehind).
    // (KxSnapAzureAPIDiskCreations.cpp)
    CUxError CreateAzureDiskFromSnapshot(const AzureInstanceInfo& instance,
                                         const std::vector<AzureDiskSnapShotInfo>& snapshots,
                                         std::vector<AzureDiskInfo>& disks);
    // The creation request of one disk, for disks created side by side.
    CUxError DiskCreationRequest(const AzureInstanceInfo& instance, const std::string& diskName,
                                 const AzureDiskSnapShotInfo& snapshot, AzureAPIRequest& request,
                                 std::string& body);
    // True when a disk this client tried to create may exist in Azure and
    // could not be deleted again: the record it was meant for names it.
    bool IsDiskLeftBehind(const std::string& diskName) const {
        return disksLeftBehind.count(diskName) != 0;
    }
    CUxError GetAzureResourceInfo(const std::string& resourcePath, AzureResourceInfo& resource,
                                  bool& createdByKX);
    bool IsAzureResourceCreatedByKX(const std::string& resourcePath);
    CUxError CheckAzureResourceCreatedByKX(const std::string& resourcePath, bool& createdByKX);
    // What CheckAzureResourceCreatedByKX logs and answers once the read's
    // outcome is known (for reads sent side by side).
    CUxError ReportOwnership(const std::string& resourcePath, CUxError readErr, bool createdByKX);
    bool IsAzureDiskCreatedByKX(const std::string& diskName, const AzureInstanceInfo& instance);
    // The id (without leading '/') of the snapshot `snapshotName` in the VM's resource group.
    std::string SnapshotPathByName(const AzureInstanceInfo& instance,
                                   const std::string& snapshotName) const;
    CUxError DeleteAzureSnapshot(const std::string& snapshotName,
                                 const AzureInstanceInfo& instance);
    CUxError DeleteAzureDisk(const std::string& diskName, const AzureInstanceInfo& instance);
    CUxError DeleteAzureDisk(const std::string& diskResourcePath);
    CUxError DeleteAzureResource(const std::string& resourcePath);
    // Its steps, for deletes sent side by side.
    CUxError ResourceDeletionRequest(const std::string& resourcePath, AzureAPIRequest& request);
    CUxError TakeResourceDeletion(CUxError err, const std::string& resourcePath);
    CUxError VerifyAzureDisk(int lun, const AzureInstanceInfo& instance, AzureDiskInfo& disk);

    // --- VM data-disk attach and detach ---
    bool FindFirstFreeLUNIdForVM(const std::vector<AzureDiskInfo>& disks, int& lun, int firstLun);
    // Attaches at `lun` when that is given (>= 0) and free, else at the first
    // free LUN; `lun` then holds the LUN used.
    CUxError AttachAzureDiskToVM(AzureDiskInfo& disk, AzureInstanceInfo& instance, int& lun);
    CUxError AttachAzureDiskToVM(const std::vector<AzureDiskInfo>& disks,
                                 AzureInstanceInfo& instance);
    // Attaches existing disks again as they were described (at their own
    // LUN, or the first free one when that is taken now), in one update.
    CUxError ReattachAzureDisksToVM(const std::vector<AzureDiskInfo>& disks,
                                    AzureInstanceInfo& instance);
    CUxError DetachAzureDisk(const std::vector<int>& luns, bool checkCreatedByKX,
                             AzureInstanceInfo& instance);
    CUxError DetachAzureDisk(int lun, bool checkCreatedByKX, AzureInstanceInfo& instance);

    // --- Map, unmap and clean-up ---
    CUxError UnMapAzureDiskFromVM(const std::vector<int>& luns, bool deleteDisks,
                                  bool checkCreatedByKX, AzureInstanceInfo& instance);
    CUxError UnMapAzureDiskFromVM(int lun, bool deleteDisks, bool checkCreatedByKX,
                                  AzureInstanceInfo& instance);
    CUxError UnMapAzureDiskFromVM(const std::vector<std::string>& diskNames, bool deleteDisks,
                                  bool checkCreatedByKX, AzureInstanceInfo& instance);
    CUxError UnMapAzureDiskFromVM(const std::string& diskName, bool deleteDisks,
                                  bool checkCreatedByKX, AzureInstanceInfo& instance);
    CUxError MapAzureDiskToVM(const AzureDiskSnapShotInfo& snapshot, AzureInstanceInfo& instance,
                              AzureDiskInfo& disk);
    CUxError MapAzureDiskToVM(const AzureDiskSnapShotInfo& snapshot, AzureInstanceInfo& instance,
                              int& lun);
    // On failure the disks created are detached and deleted again, unless
    // the VM update did not settle or KeepCreatedDisksOnFailure is set.
    CUxError MapAzureDiskToVM(const std::vector<AzureDiskSnapShotInfo>& snapshots,
                              AzureInstanceInfo& instance);
    // A revert that deleted the source disks keeps the disks it made even
    // when it cannot attach them: they are all that is left of the data.
    void KeepCreatedDisksOnFailure(bool keep) { keepCreatedDisks = keep; }
    bool IsAzureSnapshotMappedToVM(const AzureDiskSnapShotInfo& snapshot, int& lun,
                                   const AzureInstanceInfo& instance);
    CUxError CleanupAzureSnapshotDisk(const AzureDiskSnapShotInfo& snapshot,
                                      AzureInstanceInfo& instance);
    CUxError CleanupAzureSnapshotDisk(const std::vector<AzureDiskSnapShotInfo>& snapshots,
                                      AzureInstanceInfo& instance);

private:
    // One log line through the host record under AZURE_LOG_TAG; the platform
    // log when no record is known yet. The text reaches the host as "%s".
    void Log(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    // Context helpers.
    void ReadPollingSettings();
    // The retry settings of this call, read at the first request that needs them.
    const KXRetry::Policy& RetryPolicy();

    // Sending helpers.
    CUxError CheckRequestTarget(AzureOperation operation, const std::string& url) const;
    CUxError SetRequestHeaders(AzureOperation operation, const std::string& url);
    // `text` with the token, the proxy password and any credential masked.
    std::string MaskSecrets(const std::string& text) const;
    CUxError TakeAsyncOperationUrl(const KXFanOut::Answer& answer, std::string& response);
    std::string TextSafeToLog(AzureOperation operation, const std::string& response) const;

    // Disk and VM helpers.
    std::string ComputeResourcePath(const AzureInstanceInfo& instance, const char* kind) const;
    const AzureDiskInfo* FindDiskAtLun(const AzureInstanceInfo& instance, int lun) const;
    // Edits the data-disk array of the VM's properties; an error stops the
    // update before anything is sent.
    using DataDiskEdit = std::function<CUxError(KxJson::Value& dataDisks)>;
    // Whether the instance record shows the update's work done.
    using UpdateDone = std::function<bool(const AzureInstanceInfo& instance)>;
    CUxError UpdateVMDataDisks(AzureOperation operation, AzureInstanceInfo& instance,
                               const DataDiskEdit& edit, const UpdateDone& done);
    CUxError SendVMUpdate(AzureOperation operation, AzureInstanceInfo& instance,
                          const KxJson::Value& properties);
    CUxError RecoverFailedVMUpdate(AzureOperation operation, AzureInstanceInfo& instance,
                                   const UpdateDone& done, bool& reapply);
    CUxError WaitForVMToSettle(AzureInstanceInfo& instance);
    void ReadOperationError(const std::string& statusDocument, AzureOperationError& error);
    int64_t RetryAfterMs() const;
    CUxError ReadVMDataDisks(const AzureInstanceInfo& instance, KxJson::Value& properties,
                             KxJson::Value*& dataDisks);
    CUxError RereadVM(AzureInstanceInfo& instance);
    CUxError LunsToDetach(const std::vector<int>& luns, bool checkCreatedByKX,
                          const AzureInstanceInfo& instance, std::vector<int>& taken);
    void DeleteDisksByPath(const std::vector<std::string>& diskPaths);
    CUxError FollowUnansweredDiskCreation(const std::string& diskName, const std::string& url,
                                          std::string& response, bool& mayExist);
    void UndoDiskCreationsAfter(const std::vector<std::unique_ptr<DiskCreateJob>>& jobs,
                                size_t stoppedAt);
    std::vector<std::string> DisksSafeToDelete(const std::vector<std::string>& diskPaths,
                                               const CUxError& detachErr,
                                               const AzureInstanceInfo& instance);

    std::unique_ptr<KXLibCurl> curl;
    bool curlReady = false;
    // Whether Azure accepted the last PUT, whatever became of it afterwards:
    // a resource it accepted exists and is ours to clean up.
    bool lastPutAccepted = false;
    AzureOperationError lastOperationError;
    bool keepCreatedDisks = false;
    std::set<std::string> disksLeftBehind;
    // The retry settings, read once per call: when the context is set up,
    // or at the first request of a client used without one.
    std::optional<KXRetry::Policy> retryPolicy;
    VMUpdateOutcome lastVMUpdateOutcome = VMUpdateOutcome::kNotSent;
    KXSO::SnapInfo* snapInfo = nullptr;  // not owned
    int64_t jobId = 0;
    std::string managementEndpoint;
    HttpWebProxyInfo proxyInfo;
    AzureAccessTokenInfo accessToken;
    std::string arrayName;
    uint64_t maxWaitSecs = 1800;
    uint64_t pollIntervalSecs = 1;
    bool disablePostCreateSnapPhase = false;
};
