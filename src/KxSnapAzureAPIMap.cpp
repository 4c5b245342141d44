// Map and unmap on top of attach and detach: a disk made from a snapshot is
// attached at a free LUN; disks are detached by LUN or by name and optionally
// deleted. Failures while cleaning up are logged and never change the result.
#include <memory>
#include <string>
#include <vector>

#include "KXSOSnapAzureFanOutJobs.h"
#include "KxSnapAzureAPI.h"
#include "KxSnapAzureAPIInternal.h"
#include "platform/FXString.h"

void KxSnapAzureAPI::DeleteDisksByPath(const std::vector<std::string>& diskPaths) {
    if (diskPaths.empty()) {
        Log(0, "%s", "Failed to delete disks. Internal error");
        return;
    }
    // The deletes go out side by side; a failed one is only logged, in the
    // order of the paths, and never stops the others.
    std::vector<std::unique_ptr<ResourceDeleteJob>> deletes;
    for (const std::string& path : diskPaths) {
        deletes.push_back(std::make_unique<ResourceDeleteJob>(*this, path));
    }
    RunSideBySide(JobPointers(deletes));
    for (const auto& job : deletes) {
        if (job->Result().IsError()) {
            Log(0, "Failed to delete disk  [%s]", job->ResourcePath().c_str());
        }
    }
}

CUxError KxSnapAzureAPI::UnMapAzureDiskFromVM(const std::vector<int>& luns, bool deleteDisks,
                                              bool checkCreatedByKX, AzureInstanceInfo& instance) {
    // The ownership check runs once, here: only disks found to be ours are
    // detached and, with the delete flag, deleted.
    std::vector<int> taken;
    CUxError err = LunsToDetach(luns, checkCreatedByKX, instance, taken);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    std::vector<std::string> saved;
    if (deleteDisks) {
        for (int lun : taken) {
            const AzureDiskInfo* disk = FindDiskAtLun(instance, lun);
            if (disk != nullptr) {
                Log(0, "Saved disk url [%s]", disk->id.c_str());
                saved.push_back(disk->id);
            }
        }
    }
    err = DetachAzureDisk(taken, false, instance);
    if (deleteDisks) {
        DeleteDisksByPath(DisksSafeToDelete(saved, err, instance));
    }
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

std::vector<std::string> KxSnapAzureAPI::DisksSafeToDelete(
    const std::vector<std::string>& diskPaths, const CUxError& detachErr,
    const AzureInstanceInfo& instance) {
    if (!detachErr) {
        return diskPaths;
    }
    // After a failed detach only disks the settled VM no longer lists can
    // go; while the update is unsettled none can.
    std::vector<std::string> safe;
    if (lastVMUpdateOutcome == VMUpdateOutcome::kUnsettled) {
        Log(1, "%s", "The VM has not settled: no disk is deleted");
        return safe;
    }
    for (const std::string& path : diskPaths) {
        if (FindAttachedDisk(instance, path, "") == nullptr) {
            safe.push_back(path);
        } else {
            Log(1, "Disk [%s] is still attached and is not deleted", path.c_str());
        }
    }
    return safe;
}

CUxError KxSnapAzureAPI::UnMapAzureDiskFromVM(int lun, bool deleteDisks, bool checkCreatedByKX,
                                              AzureInstanceInfo& instance) {
    return UnMapAzureDiskFromVM(std::vector<int>{lun}, deleteDisks, checkCreatedByKX, instance);
}

CUxError KxSnapAzureAPI::UnMapAzureDiskFromVM(const std::vector<std::string>& diskNames,
                                              bool deleteDisks, bool checkCreatedByKX,
                                              AzureInstanceInfo& instance) {
    std::vector<int> luns;
    for (const std::string& name : diskNames) {
        bool attached = false;
        for (const AzureDiskInfo& disk : instance.disks) {
            const std::string component = kxazure::LastIdComponent(disk.id);
            Log(0, "[%s] [%s] [%s]", disk.id.c_str(), component.c_str(), name.c_str());
            if (disk.lun < 0 || !FXString::EqualsNoCase(component, name)) {
                continue;
            }
            luns.push_back(disk.lun);
            attached = true;
            Log(1, "Found the disk to unmap [%s] at lunid [%d] ", name.c_str(), disk.lun);
        }
        if (attached || !deleteDisks) {
            continue;
        }
        Log(0, "Disk [%s] is not attached to the vm", name.c_str());
        if (checkCreatedByKX) {
            Log(1, "Checking if disk[%s] is created by Harrowind", name.c_str());
            if (!IsAzureDiskCreatedByKX(name, instance)) {
                continue;
            }
        }
        if (DeleteAzureDisk(name, instance).IsError()) {
            Log(1, "Failed to delete disk [%s]", name.c_str());
        }
    }
    if (luns.empty()) {
        Log(0, "Found no disks to detach from the VM [%d]", static_cast<int>(diskNames.size()));
        return CUxError::Success();
    }
    CUxError err = UnMapAzureDiskFromVM(luns, deleteDisks, checkCreatedByKX, instance);
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

CUxError KxSnapAzureAPI::UnMapAzureDiskFromVM(const std::string& diskName, bool deleteDisks,
                                              bool checkCreatedByKX, AzureInstanceInfo& instance) {
    return UnMapAzureDiskFromVM(std::vector<std::string>{diskName}, deleteDisks, checkCreatedByKX,
                                instance);
}

bool KxSnapAzureAPI::IsAzureSnapshotMappedToVM(const AzureDiskSnapShotInfo& snapshot, int& lun,
                                               const AzureInstanceInfo& instance) {
    for (const AzureDiskInfo& disk : instance.disks) {
        const std::string component = kxazure::LastIdComponent(disk.id);
        Log(0, "[%s] [%s] [%s]", disk.id.c_str(), component.c_str(), snapshot.diskName.c_str());
        if (disk.lun >= 0 && FXString::EqualsNoCase(component, snapshot.diskName)) {
            lun = disk.lun;
            Log(1, "Found the snapshot disk mapped at [%d] [%s]", lun, disk.id.c_str());
            return true;
        }
    }
    return false;
}

CUxError KxSnapAzureAPI::MapAzureDiskToVM(const AzureDiskSnapShotInfo& snapshot,
                                          AzureInstanceInfo& instance, AzureDiskInfo& disk) {
    lastVMUpdateOutcome = VMUpdateOutcome::kNotSent;
    int mappedLun = -1;
    if (IsAzureSnapshotMappedToVM(snapshot, mappedLun, instance)) {
        disk.lun = mappedLun;
        return CUxError::Success();
    }
    CUxError err = CreateAzureDiskFromSnapshot(instance, snapshot.diskName, snapshot, disk);
    if (err) {
        return err.Push(FXCODE_LOCATION());
    }
    Log(1, "Created disk [%s] for snapshot [%s]", disk.name.c_str(), snapshot.name.c_str());
    int attachedLun = snapshot.preferredLun;
    err = AttachAzureDiskToVM(disk, instance, attachedLun);
    if (!err) {
        return CUxError::Success();
    }
    // A disk we cannot attach is of no use; do not leave it behind. While
    // the update naming it is unsettled it may still become attached, and
    // stays.
    if (keepCreatedDisks || lastVMUpdateOutcome == VMUpdateOutcome::kUnsettled) {
        return err.Push(FXCODE_LOCATION());
    }
    CUxError deleteErr = UnMapAzureDiskFromVM(disk.name, true, false, instance);
    if (deleteErr) {
        return deleteErr.Push(FXCODE_LOCATION());
    }
    return err.Push(FXCODE_LOCATION());
}

CUxError KxSnapAzureAPI::MapAzureDiskToVM(const AzureDiskSnapShotInfo& snapshot,
                                          AzureInstanceInfo& instance, int& lun) {
    AzureDiskInfo disk;
    CUxError err = MapAzureDiskToVM(snapshot, instance, disk);
    lun = disk.lun;
    return err;
}

CUxError KxSnapAzureAPI::MapAzureDiskToVM(const std::vector<AzureDiskSnapShotInfo>& snapshots,
                                          AzureInstanceInfo& instance) {
    lastVMUpdateOutcome = VMUpdateOutcome::kNotSent;
    std::vector<AzureDiskInfo> created;
    CUxError err = CreateAzureDiskFromSnapshot(instance, snapshots, created);
    if (!err) {
        err = AttachAzureDiskToVM(created, instance);
    }
    if (!err) {
        return CUxError::Success();
    }
    Log(1, "%s", "Failed to map snapshot disks to vm. Cleaning up ...");
    if (keepCreatedDisks || lastVMUpdateOutcome == VMUpdateOutcome::kUnsettled) {
        Log(1, "%s", "The disks created are kept");
        return err.Push(FXCODE_LOCATION());
    }
    for (const AzureDiskInfo& disk : created) {
        Log(1, "Cleaning up snapshot disk [%s]", disk.name.c_str());
        UnMapAzureDiskFromVM(disk.name, true, false, instance);
    }
    return err.Push(FXCODE_LOCATION());
}

CUxError KxSnapAzureAPI::CleanupAzureSnapshotDisk(const AzureDiskSnapShotInfo& snapshot,
                                                  AzureInstanceInfo& instance) {
    return CleanupAzureSnapshotDisk(std::vector<AzureDiskSnapShotInfo>{snapshot}, instance);
}

CUxError KxSnapAzureAPI::CleanupAzureSnapshotDisk(
    const std::vector<AzureDiskSnapShotInfo>& snapshots, AzureInstanceInfo& instance) {
    std::vector<std::string> names;
    for (const AzureDiskSnapShotInfo& snapshot : snapshots) {
        Log(0, "Cleanup snapshot disk [%s] ...", snapshot.diskName.c_str());
        names.push_back(snapshot.diskName);
    }
    CUxError err = UnMapAzureDiskFromVM(names, true, true, instance);
    if (err) {
        Log(1, "%s", "Failed to cleanup snapshot disks");
        return err.Push(FXCODE_LOCATION());
    }
    return CUxError::Success();
}
