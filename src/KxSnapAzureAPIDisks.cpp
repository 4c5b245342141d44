// Disk and snapshot operations in the VM's subscription and resource group.
// Everything the engine creates is tagged, so that later operations touch only
// its own resources. Names reaching a URL are checked before any request.
#include <string>

#include "AzureOperationStatus.h"
#include "KxSnapAzureAPI.h"
#include "KxSnapAzureAPIInternal.h"
#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"

namespace {

constexpr const char* kSnapshots = "snapshots";
constexpr const char* kDisks = "disks";

std::string ApiVersion(const char* version) {
    return std::string("api-version=") + version;
}

KxJson::Value CopyCreationData(const std::string& sourceId) {
    return {{"sourceResourceId", kxazure::IdWithoutLeadingSlash(sourceId)},
            {"createOption", "Copy"}};
}

}  // namespace

std::string KxSnapAzureAPI::SnapshotRequestBody(const AzureDiskInfo& disk,
                                                const AzureDiskSnapShotInfo& snapshot,
                                                const AzureInstanceInfo& instance) const {
    KxJson::Value body = {{"name", snapshot.name}, {"location", instance.location}};
    body["properties"] = {{"creationData", CopyCreationData(disk.id)}};
    if (snapshot.incremental) {
        body["properties"]["incremental"] = true;
    } else {
        const bool zoneRedundant =
            FXString::FindString(disk.storageAccountType, "ZRS", true) != std::string::npos;
        body["sku"] = {{"name", zoneRedundant ? "Standard_ZRS" : "Standard_LRS"}};
    }
    body["tags"] = {{AZURE_TAG_SNAPSHOT_CREATED,
                     "Harrowind created the snapshot from source disk [" + disk.name +
                         "] and backup job [" + std::to_string(jobId) + "]"}};
    return KxJson::Serialize(body);
}

std::string KxSnapAzureAPI::DiskFromSnapshotRequestBody(
    const AzureInstanceInfo& instance, const std::string& diskName,
    const AzureDiskSnapShotInfo& snapshot) const {
    KxJson::Value body = {{"name", diskName}, {"location", instance.location}};
    body["sku"] = {{"name", snapshot.storageAccountType}};
    body["properties"] = {{"creationData", CopyCreationData(snapshot.id)}};
    if (!instance.zones.empty()) {
        body["zones"] = instance.zones;
    }
    body["tags"] = {
        {AZURE_TAG_DISK_CREATED, "Harrowind created the disk from snapshot " + snapshot.name}};
    if (jobId > 0) {
        body["tags"][AZURE_TAG_DISK_REVERTED] = FXString::Format(
            "Harrowind created the disk from revert restore job %lld original disk name [%s]",
            static_cast<long long>(jobId), snapshot.originalDiskName.c_str());
    }
    return KxJson::Serialize(body);
}

std::string KxSnapAzureAPI::ComputeResourcePath(const AzureInstanceInfo& instance,
                                                const char* kind) const {
    return "subscriptions/" + instance.subscriptionId + "/resourceGroups/" +
           instance.resourceGroupName + "/providers/Microsoft.Compute/" + kind + "/";
}

const AzureDiskInfo* KxSnapAzureAPI::FindDiskAtLun(const AzureInstanceInfo& instance,
                                                   int lun) const {
    if (lun < 0) {
        return nullptr;  // the OS disk's entry, never a data disk
    }
    for (const AzureDiskInfo& disk : instance.disks) {
        if (disk.lun == lun) {
            return &disk;
        }
    }
    return nullptr;
}

CUxError KxSnapAzureAPI::SnapshotCreationRequest(int lun, const AzureInstanceInfo& instance,
                                                 AzureDiskSnapShotInfo& snapshot,
                                                 AzureAPIRequest& request, std::string& body) {
    const AzureDiskInfo* disk = FindDiskAtLun(instance, lun);
    if (disk == nullptr) {
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_PARSE,
                                       "Could not find the disk with lunid [%d]", lun);
    }
    Log(1, "Found azure disk name [%s] lunid [%d]", disk->name.c_str(), lun);
    if (!disk->isManaged) {
        return FXErrorUtil::ErrorErrNo(
            FXCODE_LOCATION(), AZURE_ERR_PARSE,
            "Disk at lunid [%d] [%s] is NOT Azure managed disk. "
            "Quillfast snapshot is available only for Azure managed disk",
            lun, disk->name.c_str());
    }
    request = AzureAPIRequest();
    request.operation = AZURE_OP_CREATE_SNAPSHOT;
    request.baseUrl = managementEndpoint;
    request.resourcePath = ComputeResourcePath(instance, kSnapshots);
    request.leaf = snapshot.name;
    // The ids are known before anything is sent; the caller stores them as
    // the snapshot's metadata whatever the outcome, so a later delete knows
    // which snapshot was meant even when the name was refused here.
    snapshot.id = request.resourcePath + snapshot.name;
    snapshot.sourceResourceId = kxazure::IdWithoutLeadingSlash(disk->id);
    CUxError err = ValidateAzureResourceName(snapshot.name);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    request.queryParams = {
        ApiVersion(snapshot.incremental ? AZURE_API_VERSION_FOR_INCR : AZURE_API_VERSION)};
    body = SnapshotRequestBody(*disk, snapshot, instance);
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::TakeSnapshotCreation(CUxError err, long httpStatus,
                                              const std::string& response,
                                              AzureDiskSnapShotInfo& snapshot) {
    if (err) {
        // Azure refuses incremental snapshots where they are not offered with
        // 400; the caller then retries with a full one.
        if (snapshot.incremental && httpStatus == 400) {
            snapshot.incremental = false;
        }
        return err.Push(FXCODE_LOCATION());
    }
    if (disablePostCreateSnapPhase) {
        err = ParseSnapShotInfoFromJSONReponse(response, snapshot);
        if (err) {
            return err.Push(FXCODE_LOCATION());
        }
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::CreateAzureSnapshotForDisk(int lun, const AzureInstanceInfo& instance,
                                                    AzureDiskSnapShotInfo& snapshot) {
    AzureAPIRequest request;
    std::string body;
    CUxError err = SnapshotCreationRequest(lun, instance, snapshot, request, body);
    if (err) {
        return err;
    }
    std::string response;
    err = SendRESTURLRequest(request, body, response);
    return TakeSnapshotCreation(err, GetLastHttpStatus(), response, snapshot);
}

CUxError KxSnapAzureAPI::SnapshotReadRequest(const std::string& snapshotPath,
                                             AzureAPIRequest& request) {
    CUxError err = ValidateAzureResourcePath(snapshotPath);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    request = AzureAPIRequest();
    request.operation = AZURE_OP_GET_SNAPSHOT;
    request.baseUrl = managementEndpoint;
    request.resourcePath = snapshotPath;
    request.queryParams = {ApiVersion(AZURE_API_VERSION)};
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::TakeSnapshotRead(CUxError err, const std::string& response,
                                          AzureDiskSnapShotInfo& snapshot) {
    if (!err) {
        err = ParseSnapShotInfoFromJSONReponse(response, snapshot);
    }
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::VerifyAzureSnapshot(const std::string& snapshotPath,
                                             AzureDiskSnapShotInfo& snapshot) {
    AzureAPIRequest request;
    CUxError err = SnapshotReadRequest(snapshotPath, request);
    if (err) {
        return err;
    }
    std::string response;
    err = SendRESTURLRequest(request, "", response);
    return TakeSnapshotRead(err, response, snapshot);
}

CUxError KxSnapAzureAPI::DiskCreationRequest(const AzureInstanceInfo& instance,
                                             const std::string& diskName,
                                             const AzureDiskSnapShotInfo& snapshot,
                                             AzureAPIRequest& request, std::string& body) {
    CUxError err = ValidateAzureResourceName(diskName);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    request = AzureAPIRequest();
    request.operation = AZURE_OP_CREATE_DISK;
    request.baseUrl = managementEndpoint;
    request.resourcePath = ComputeResourcePath(instance, kDisks);
    request.leaf = diskName;
    request.queryParams = {ApiVersion(AZURE_API_VERSION)};
    body = DiskFromSnapshotRequestBody(instance, diskName, snapshot);
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::CreateAzureDiskFromSnapshot(const AzureInstanceInfo& instance,
                                                     const std::string& diskName,
                                                     const AzureDiskSnapShotInfo& snapshot,
                                                     AzureDiskInfo& disk) {
    AzureAPIRequest request;
    std::string body;
    CUxError err = DiskCreationRequest(instance, diskName, snapshot, request, body);
    if (err) {
        return err;
    }
    std::string response;
    err = SendRESTURLRequest(request, body, response);
    bool mayExist = lastPutAccepted;
    if (err && !lastPutAccepted && azureops::IsTransientStatus(GetLastHttpStatus())) {
        std::string url;
        FormRESTURLRequest(request, url);
        // The PUT's own failure stays the reason unless the disk turns up.
        if (!FollowUnansweredDiskCreation(diskName, url, response, mayExist).IsError()) {
            err = CUxError::Success();
        }
    }
    if (!err) {
        err = ParseDiskInfoFromJsonResponse(response, disk);
    }
    if (err && mayExist) {
        // Azure accepted the disk but it never provisioned, or could not be
        // read back: nobody will ever use or find it, so it is not left
        // behind. A PUT Azure refused (a name already taken, say) created
        // nothing, and the disk of that name is not ours to delete.
        Log(1, "Deleting disk [%s] that failed to provision", diskName.c_str());
        if (DeleteAzureDisk(request.resourcePath + diskName).IsError()) {
            Log(2, "Disk [%s] could not be deleted and is left behind", diskName.c_str());
            disksLeftBehind.insert(diskName);
        }
    }
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    disk.isManaged = true;
    return CUxError::Success();
}

// No answer came to the disk's PUT, or only passing errors after the
// retries: Azure may have made the disk all the same. The PUT names the disk,
// so reading it by name tells; a disk found is followed until its
// provisioning settles and is then used like one the PUT reported.
CUxError KxSnapAzureAPI::FollowUnansweredDiskCreation(const std::string& diskName,
                                                      const std::string& url, std::string& response,
                                                      bool& mayExist) {
    Log(1, "The answer to the creation of disk [%s] was lost; reading the disk", diskName.c_str());
    CUxError err = PollForResourceProvisioningState(AZURE_OP_CREATE_DISK, url, response);
    // Only "not found" says the disk was never made.
    mayExist = !(err && GetLastHttpStatus() == 404);
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

CUxError KxSnapAzureAPI::ResourceInfoRequest(const std::string& resourcePath,
                                             AzureAPIRequest& request) {
    CUxError err = ValidateAzureResourcePath(resourcePath);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    request = AzureAPIRequest();
    request.operation = AZURE_OP_GET_RESOURCE_INFO;
    request.baseUrl = managementEndpoint;
    request.resourcePath = resourcePath;
    request.queryParams = {ApiVersion(AZURE_API_VERSION)};
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::TakeResourceInfo(CUxError err, const std::string& response,
                                          AzureResourceInfo& resource, bool& createdByKX) {
    if (!err) {
        err = ParseResourceInfoFromJSONReponse(response, resource);
    }
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    if (resource.tags.empty()) {
        createdByKX = false;
    } else if (resource.tags.count(AZURE_TAG_DISK_CREATED) != 0 ||
               resource.tags.count(AZURE_TAG_SNAPSHOT_CREATED) != 0) {
        createdByKX = true;
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::GetAzureResourceInfo(const std::string& resourcePath,
                                              AzureResourceInfo& resource, bool& createdByKX) {
    AzureAPIRequest request;
    CUxError err = ResourceInfoRequest(resourcePath, request);
    if (err) {
        return err;
    }
    std::string response;
    err = SendRESTURLRequest(request, "", response);
    return TakeResourceInfo(err, response, resource, createdByKX);
}

// Answers whether the tags name us, and fails when the resource could not be
// read: a detach must not take "unreadable" for "not ours" and skip the disk
// while reporting success.
CUxError KxSnapAzureAPI::CheckAzureResourceCreatedByKX(const std::string& resourcePath,
                                                       bool& createdByKX) {
    AzureResourceInfo resource;
    createdByKX = false;
    const CUxError err = GetAzureResourceInfo(resourcePath, resource, createdByKX);
    return ReportOwnership(resourcePath, err, createdByKX);
}

CUxError KxSnapAzureAPI::ReportOwnership(const std::string& resourcePath, CUxError readErr,
                                         bool createdByKX) {
    if (createdByKX) {
        Log(1, "Resource is created by Harrowind [%s] ", resourcePath.c_str());
        return CUxError::Success();
    }
    if (readErr) {
        Log(2, "Failed to check if resource is created by Harrowind [%s]", resourcePath.c_str());
        return readErr.Push(FXCODE_LOCATION());
    }
    Log(2, "Resource is NOT created by Harrowind [%s] ", resourcePath.c_str());
    return CUxError::Success();
}

bool KxSnapAzureAPI::IsAzureResourceCreatedByKX(const std::string& resourcePath) {
    bool createdByKX = false;
    CheckAzureResourceCreatedByKX(resourcePath, createdByKX);
    return createdByKX;
}

bool KxSnapAzureAPI::IsAzureDiskCreatedByKX(const std::string& diskName,
                                            const AzureInstanceInfo& instance) {
    const CUxError err = ValidateAzureResourceName(diskName);
    if (err) {
        Log(2, "%s", err.AsString(EErrorOutputFormat::Message).c_str());
        return false;
    }
    return IsAzureResourceCreatedByKX(ComputeResourcePath(instance, kDisks) + diskName);
}

CUxError KxSnapAzureAPI::ResourceDeletionRequest(const std::string& resourcePath,
                                                 AzureAPIRequest& request) {
    CUxError err = ValidateAzureResourcePath(resourcePath);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    request = AzureAPIRequest();
    request.operation = AZURE_OP_DELETE_RESOURCE;
    request.baseUrl = managementEndpoint;
    request.resourcePath = resourcePath;
    request.queryParams = {ApiVersion(AZURE_API_VERSION)};
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::TakeResourceDeletion(CUxError err, const std::string& resourcePath) {
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    Log(0, "Deleted  resource [%s]", resourcePath.c_str());
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::DeleteAzureResource(const std::string& resourcePath) {
    AzureAPIRequest request;
    CUxError err = ResourceDeletionRequest(resourcePath, request);
    if (err) {
        return err;
    }
    std::string response;
    err = SendRESTURLRequest(request, "", response);
    return TakeResourceDeletion(err, resourcePath);
}

std::string KxSnapAzureAPI::SnapshotPathByName(const AzureInstanceInfo& instance,
                                               const std::string& snapshotName) const {
    return ComputeResourcePath(instance, kSnapshots) + snapshotName;
}

CUxError KxSnapAzureAPI::DeleteAzureSnapshot(const std::string& snapshotName,
                                             const AzureInstanceInfo& instance) {
    CUxError err = ValidateAzureResourceName(snapshotName);
    if (!err) {
        err = DeleteAzureResource(ComputeResourcePath(instance, kSnapshots) + snapshotName);
    }
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

CUxError KxSnapAzureAPI::DeleteAzureDisk(const std::string& diskName,
                                         const AzureInstanceInfo& instance) {
    CUxError err = ValidateAzureResourceName(diskName);
    if (!err) {
        err = DeleteAzureResource(ComputeResourcePath(instance, kDisks) + diskName);
    }
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

CUxError KxSnapAzureAPI::DeleteAzureDisk(const std::string& diskResourcePath) {
    CUxError err = DeleteAzureResource(diskResourcePath);
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

CUxError KxSnapAzureAPI::FindDataDiskAtLun(int lun, const AzureInstanceInfo& instance,
                                           AzureDiskInfo& disk) {
    const AzureDiskInfo* found = FindDiskAtLun(instance, lun);
    if (found == nullptr) {
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_PARSE,
                                       "Could not find the disk with lunid [%d]", lun);
    }
    Log(0, "Found azure disk name [%s] lunid [%d]", found->name.c_str(), lun);
    disk = *found;
    return CUxError::Success();
}

void KxSnapAzureAPI::ApplyDiskTags(const AzureResourceInfo& resource, bool createdByKX,
                                   AzureDiskInfo& disk) {
    if (!createdByKX) {
        return;
    }
    for (const auto& tag : resource.tags) {
        if (tag.first != AZURE_TAG_DISK_REVERTED) {
            continue;
        }
        Log(1, "Found kx tag on the disk [%s]", tag.second.c_str());
        const size_t bracket = tag.second.find('[');
        if (bracket != std::string::npos) {
            disk.originalDiskName = FXString::Trim(tag.second.substr(bracket + 1), "]");
        }
        Log(1, "Save original disk name [%s] in snapshot metadata", disk.originalDiskName.c_str());
    }
}

CUxError KxSnapAzureAPI::VerifyAzureDisk(int lun, const AzureInstanceInfo& instance,
                                         AzureDiskInfo& disk) {
    CUxError err = FindDataDiskAtLun(lun, instance, disk);
    if (err) {
        return err;
    }
    // The tag check is advisory: a disk we cannot read is still snapshotted.
    AzureResourceInfo resource;
    bool createdByKX = false;
    GetAzureResourceInfo(disk.id, resource, createdByKX);
    ApplyDiskTags(resource, createdByKX, disk);
    return CUxError::Success();
}
