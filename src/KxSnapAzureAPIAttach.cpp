// Attaching and detaching data disks. This interface has no per-disk attach
// call: the VM description last read is edited ("storageProfile"."dataDisks")
// and PUT back whole, then read again so that the caller's instance record
// always describes the machine as it now is.
#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "KxSnapAzureAPI.h"
#include "KxSnapAzureAPIInternal.h"
#include "KxSnapAzureOwnershipJob.h"
#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"

namespace {

constexpr int kMaxLun = 63;

bool Contains(const std::vector<int>& values, int value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

}  // namespace

const AzureDiskInfo* FindAttachedDisk(const AzureInstanceInfo& instance, const std::string& id,
                                      const std::string& name) {
    const std::string wanted = kxazure::LastIdComponent(id.empty() ? name : id);
    for (const AzureDiskInfo& disk : instance.disks) {
        if (disk.lun < 0) {
            continue;  // the OS disk
        }
        if (!id.empty() &&
            FXString::EqualsNoCase(FXString::Trim(disk.id, "/"), FXString::Trim(id, "/"))) {
            return &disk;
        }
        if (!wanted.empty() && FXString::EqualsNoCase(kxazure::LastIdComponent(disk.id), wanted)) {
            return &disk;
        }
    }
    return nullptr;
}

bool KxSnapAzureAPI::FindFirstFreeLUNIdForVM(const std::vector<AzureDiskInfo>& disks, int& lun,
                                             int firstLun) {
    for (int candidate = firstLun; candidate <= kMaxLun; ++candidate) {
        bool taken = false;
        for (const AzureDiskInfo& disk : disks) {
            Log(0, "Lun id [%d] [%d]", disk.lun, candidate);
            if (disk.lun == candidate) {
                taken = true;
                break;
            }
        }
        if (!taken) {
            lun = candidate;
            Log(1, "Found free scsi lun id [%d] on the vm", candidate);
            return true;
        }
    }
    return false;
}

CUxError KxSnapAzureAPI::ReadVMDataDisks(const AzureInstanceInfo& instance,
                                         KxJson::Value& properties, KxJson::Value*& dataDisks) {
    dataDisks = nullptr;
    if (!KxJson::TryUnserialize(instance.propertiesJson, properties) || !properties.is_object()) {
        properties = KxJson::Value::object();
    }
    auto storageProfile = properties.find("storageProfile");
    if (storageProfile == properties.end() || !storageProfile->is_object()) {
        return FXErrorUtil::ErrorErrNo(
            FXCODE_LOCATION(), AZURE_ERR_PARSE, "%s",
            "Failed to find storageprofile section in vminfo porperties section");
    }
    auto disks = storageProfile->find("dataDisks");
    if (disks == storageProfile->end() || !disks->is_array()) {
        return FXErrorUtil::ErrorErrNo(
            FXCODE_LOCATION(), AZURE_ERR_PARSE, "%s",
            "Failed to find dataDisks section in storageProfile section");
    }
    dataDisks = &*disks;
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::RereadVM(AzureInstanceInfo& instance) {
    AzureAPIRequest request;
    request.operation = AZURE_OP_GET_VM_INFO;
    request.baseUrl = managementEndpoint;
    request.resourcePath = instance.id;
    request.queryParams = {std::string("api-version=") + AZURE_API_VERSION};
    std::string response;
    CUxError err = SendRESTURLRequest(request, "", response);
    // Parsed into a copy: a description that cannot be read leaves the record
    // as it was rather than half replaced.
    AzureInstanceInfo updated = instance;
    if (!err) {
        err = ParseVMInfoFromJSONReponse(response, updated);
    }
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    instance = updated;
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::SendVMUpdate(AzureOperation operation, AzureInstanceInfo& instance,
                                      const KxJson::Value& properties) {
    CUxError err = ValidateAzureResourcePath(instance.id);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    AzureAPIRequest request;
    request.operation = operation;
    request.baseUrl = managementEndpoint;
    request.resourcePath = instance.id;
    request.queryParams = {std::string("api-version=") + AZURE_API_VERSION};
    const KxJson::Value body = {{"properties", properties}, {"location", instance.location}};
    std::string response;
    err = SendRESTURLRequest(request, KxJson::Serialize(body), response);
    if (!err) {
        err = RereadVM(instance);
    }
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::AttachAzureDiskToVM(AzureDiskInfo& disk, AzureInstanceInfo& instance,
                                             int& lun) {
    disk.createOption = "Attach";
    disk.caching = "None";
    // The LUN is chosen on the VM as last read, again when the update has
    // to be applied once more: the one asked for when it is free.
    const int wanted = lun;
    const DataDiskEdit edit = [&](KxJson::Value& dataDisks) {
        const bool wantedFree =
            wanted >= 0 && wanted <= kMaxLun &&
            std::none_of(instance.disks.begin(), instance.disks.end(),
                         [&](const AzureDiskInfo& taken) { return taken.lun == wanted; });
        if (wantedFree) {
            disk.lun = wanted;
        } else if (!FindFirstFreeLUNIdForVM(instance.disks, disk.lun, 0)) {
            return FXErrorUtil::ErrorErrNo(
                FXCODE_LOCATION(), AZURE_ERR_PARSE, "%s",
                "Failed to find free lun id to attach the snapshot disk");
        }
        lun = disk.lun;
        KxJson::Value entry;
        ConvertDiskInfoToJsonObj(disk, entry);
        dataDisks.push_back(entry);
        return CUxError::Success();
    };
    const UpdateDone done = [&](const AzureInstanceInfo& now) {
        const AzureDiskInfo* attached = FindAttachedDisk(now, disk.id, disk.name);
        if (attached != nullptr) {
            disk.lun = attached->lun;
            lun = attached->lun;
        }
        return attached != nullptr;
    };
    CUxError err = UpdateVMDataDisks(AZURE_OP_ATTACH_DISK, instance, edit, done);
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

CUxError KxSnapAzureAPI::AttachAzureDiskToVM(const std::vector<AzureDiskInfo>& disks,
                                             AzureInstanceInfo& instance) {
    const DataDiskEdit edit = [&](KxJson::Value& dataDisks) {
        int nextLun = 0;
        for (const AzureDiskInfo& disk : disks) {
            AzureDiskInfo attached = disk;
            attached.createOption = "Attach";
            attached.caching = "None";
            if (!FindFirstFreeLUNIdForVM(instance.disks, attached.lun, nextLun)) {
                return FXErrorUtil::ErrorErrNo(
                    FXCODE_LOCATION(), AZURE_ERR_PARSE, "%s",
                    "Failed to find free lun id to attach the snapshot disk");
            }
            nextLun = attached.lun + 1;
            KxJson::Value entry;
            ConvertDiskInfoToJsonObj(attached, entry);
            dataDisks.push_back(entry);
        }
        return CUxError::Success();
    };
    const UpdateDone done = [&](const AzureInstanceInfo& now) {
        for (const AzureDiskInfo& disk : disks) {
            if (FindAttachedDisk(now, disk.id, disk.name) == nullptr) {
                return false;
            }
        }
        return true;
    };
    CUxError err = UpdateVMDataDisks(AZURE_OP_ATTACH_DISK, instance, edit, done);
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

CUxError KxSnapAzureAPI::ReattachAzureDisksToVM(const std::vector<AzureDiskInfo>& disks,
                                                AzureInstanceInfo& instance) {
    const DataDiskEdit edit = [&](KxJson::Value& dataDisks) {
        std::vector<AzureDiskInfo> taken = instance.disks;
        for (const AzureDiskInfo& disk : disks) {
            if (FindAttachedDisk(instance, disk.id, disk.name) != nullptr) {
                continue;
            }
            AzureDiskInfo attached = disk;
            attached.createOption = "Attach";
            // Back where it was; another LUN only when that one is taken now.
            const bool free = std::none_of(taken.begin(), taken.end(), [&](const AzureDiskInfo& d) {
                return d.lun == disk.lun;
            });
            if (!free && !FindFirstFreeLUNIdForVM(taken, attached.lun, 0)) {
                return FXErrorUtil::ErrorErrNo(
                    FXCODE_LOCATION(), AZURE_ERR_PARSE, "%s",
                    "Failed to find free lun id to attach the snapshot disk");
            }
            taken.push_back(attached);
            KxJson::Value entry;
            ConvertDiskInfoToJsonObj(attached, entry);
            dataDisks.push_back(entry);
        }
        return CUxError::Success();
    };
    const UpdateDone done = [&](const AzureInstanceInfo& now) {
        return std::all_of(disks.begin(), disks.end(), [&](const AzureDiskInfo& disk) {
            return FindAttachedDisk(now, disk.id, disk.name) != nullptr;
        });
    };
    CUxError err = UpdateVMDataDisks(AZURE_OP_ATTACH_DISK, instance, edit, done);
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

CUxError KxSnapAzureAPI::LunsToDetach(const std::vector<int>& luns, bool checkCreatedByKX,
                                      const AzureInstanceInfo& instance, std::vector<int>& taken) {
    taken.clear();
    std::vector<const AzureDiskInfo*> asked;
    for (const AzureDiskInfo& disk : instance.disks) {
        // The OS disk (lun -1) is never detached.
        if (disk.lun >= 0 && Contains(luns, disk.lun)) {
            asked.push_back(&disk);
        }
    }
    if (!checkCreatedByKX) {
        for (const AzureDiskInfo* disk : asked) {
            taken.push_back(disk->lun);
        }
        return CUxError::Success();
    }
    // The owners are read side by side and taken in the VM's disk order: the
    // first disk that cannot be read ends the check, and the reads after it
    // are never sent with one request at a time.
    std::vector<std::unique_ptr<OwnershipReadJob>> reads;
    std::vector<KXFanOut::Job*> jobs;
    for (const AzureDiskInfo* disk : asked) {
        reads.push_back(std::make_unique<OwnershipReadJob>(*this, disk->id, true));
        jobs.push_back(reads.back().get());
    }
    RunSideBySide(jobs);
    for (size_t i = 0; i < asked.size(); ++i) {
        Log(1, "Checking if disk mapped at lunid [%d] is created by Harrowind ... ", asked[i]->lun);
        bool createdByKX = false;
        CUxError err = reads[i]->TakeVerdict(createdByKX);
        if (err) {
            return err.Push(FXCODE_LOCATION());
        }
        if (createdByKX) {
            taken.push_back(asked[i]->lun);
        }
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::DetachAzureDisk(const std::vector<int>& luns, bool checkCreatedByKX,
                                         AzureInstanceInfo& instance) {
    std::vector<int> taken;
    CUxError err = LunsToDetach(luns, checkCreatedByKX, instance, taken);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    // The disks are named by id: should the update have to be applied once
    // more, it removes the same disks from the VM as it then is.
    std::vector<AzureDiskInfo> leaving;
    for (int lun : taken) {
        const AzureDiskInfo* disk = FindDiskAtLun(instance, lun);
        if (disk != nullptr) {
            leaving.push_back(*disk);
        }
    }
    const DataDiskEdit edit = [&](KxJson::Value& dataDisks) {
        for (const AzureDiskInfo& disk : leaving) {
            const AzureDiskInfo* now = FindAttachedDisk(instance, disk.id, disk.name);
            const int lun = now != nullptr ? now->lun : -1;
            for (size_t index = 0; lun >= 0 && index < dataDisks.size(); ++index) {
                const int entryLun = KxJson::GetIntValue(dataDisks[index], "lun", -1);
                Log(0, "Disk lunid [%d] snapLunid [%d] index [%d]", entryLun, lun,
                    static_cast<int>(index));
                if (entryLun == lun) {
                    Log(0, "Remove disk entry at index [%d]", static_cast<int>(index));
                    dataDisks.erase(index);
                    break;
                }
            }
        }
        return CUxError::Success();
    };
    const UpdateDone done = [&](const AzureInstanceInfo& now) {
        for (const AzureDiskInfo& disk : leaving) {
            if (FindAttachedDisk(now, disk.id, disk.name) != nullptr) {
                return false;
            }
        }
        return true;
    };
    err = UpdateVMDataDisks(AZURE_OP_DETACH_DISK, instance, edit, done);
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

CUxError KxSnapAzureAPI::DetachAzureDisk(int lun, bool checkCreatedByKX,
                                         AzureInstanceInfo& instance) {
    return DetachAzureDisk(std::vector<int>{lun}, checkCreatedByKX, instance);
}
