// The disks of a bulk map or revert are created side by side: their PUTs,
// provisioning polls and read-backs go out together, and the outcome is taken
// disk by disk in the order given, as creating them one after the other
// would leave it: up to the first disk that fails.
#include <memory>
#include <string>
#include <vector>

#include "KXSOSnapAzureFanOutJobs.h"
#include "KxSnapAzureAPI.h"
#include "KxSnapAzureDiskCreateJob.h"
#include "KxSnapAzureUtils.h"

CUxError KxSnapAzureAPI::CreateAzureDiskFromSnapshot(
    const AzureInstanceInfo& instance, const std::vector<AzureDiskSnapShotInfo>& snapshots,
    std::vector<AzureDiskInfo>& disks) {
    // A name refused before anything is sent stops the walk at its disk:
    // no job is made for the disks after it.
    std::vector<std::unique_ptr<DiskCreateJob>> jobs;
    jobs.reserve(snapshots.size());
    for (const AzureDiskSnapShotInfo& snapshot : snapshots) {
        jobs.push_back(std::make_unique<DiskCreateJob>(*this, instance, snapshot));
        if (ValidateAzureResourceName(snapshot.diskName).IsError()) {
            break;
        }
    }
    RunSideBySide(JobPointers(jobs));
    CUxError err;
    size_t i = 0;
    for (; i < jobs.size(); ++i) {
        const DiskCreateJob& job = *jobs[i];
        for (const auto& line : job.Lines()) {
            Log(line.first, "%s", line.second.c_str());
        }
        if (job.LeftBehind()) {
            disksLeftBehind.insert(job.DiskName());
        }
        if (job.Result()) {
            err = job.Result();
            break;
        }
        disks.push_back(job.Disk());
    }
    UndoDiskCreationsAfter(jobs, i);
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

// Creating the disks one after the other would have stopped at `stoppedAt`
// and never asked for the later ones: what Azure made of them meanwhile is
// deleted again. A disk that cannot be deleted is left behind, for its
// record to name.
void KxSnapAzureAPI::UndoDiskCreationsAfter(const std::vector<std::unique_ptr<DiskCreateJob>>& jobs,
                                            size_t stoppedAt) {
    std::vector<std::unique_ptr<ResourceDeleteJob>> deletes;
    std::vector<const DiskCreateJob*> owners;
    for (size_t i = stoppedAt + 1; i < jobs.size(); ++i) {
        if (jobs[i]->MayHaveMadeDisk()) {
            deletes.push_back(std::make_unique<ResourceDeleteJob>(*this, jobs[i]->DiskPath()));
            owners.push_back(jobs[i].get());
        }
    }
    if (deletes.empty()) {
        return;
    }
    RunSideBySide(JobPointers(deletes));
    const std::string& stopDisk = jobs[stoppedAt]->DiskName();
    for (size_t i = 0; i < deletes.size(); ++i) {
        const std::string& name = owners[i]->DiskName();
        if (deletes[i]->Result().IsSuccess()) {
            Log(1, "Deleted disk [%s]: the creation of the disks stopped at disk [%s]",
                name.c_str(), stopDisk.c_str());
            continue;
        }
        Log(2,
            "Disk [%s] was made after the creation of the disks stopped at disk [%s] and could "
            "not be deleted: it is left behind. error [%s]",
            name.c_str(), stopDisk.c_str(),
            deletes[i]->Result().AsString(EErrorOutputFormat::Message).c_str());
        disksLeftBehind.insert(name);
    }
}
