// Delete: removes the Azure snapshots behind a list of snapshot records. A
// snapshot that no longer exists counts as deleted, so a delete can be
// repeated safely.
#include <memory>
#include <string>
#include <vector>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureFanOutJobs.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"

namespace {

// A snapshot whose name the name check refuses was never created: snapshot
// creation runs the same check before it sends anything. Its metadata names
// it by that name, or holds no snapshot id at all when an older version
// wrote it; either way there is nothing to delete.
bool NeverCreated(const std::string& snapName, const std::string& text) {
    if (ValidateAzureResourceName(snapName).IsSuccess()) {
        return false;
    }
    AzureSnapMetadata metadata;
    if (!ParseAzureSnapMetaData(text, metadata)) {
        return false;
    }
    const std::string tail = "/" + snapName;
    const std::string& id = metadata.snapURL;
    return id.empty() ||
           (id.size() > tail.size() && id.compare(id.size() - tail.size(), tail.size(), tail) == 0);
}

// What one record's delete needs; the DELETE itself goes out with the others.
struct DeletePlan {
    KXSO::SnapInfo* record = nullptr;
    std::string snapName;
    enum class Kind { kByName, kByMetadata, kNeverCreated, kUnparsable } kind = Kind::kByName;
    std::string snapURL;  // by metadata
    std::string path;     // what is deleted; empty when nothing can be
    CUxError pathErr;     // why nothing can be
    RecordLines lines;
};

// Without metadata only the snapshot's name is known; it can only be in the
// VM's own resource group, where this engine creates its snapshots.
void PlanByName(ManagedDiskCall& call, DeletePlan& plan) {
    plan.kind = DeletePlan::Kind::kByName;
    plan.lines.Add(KXSO::LOG_INFO,
                   "Failed to retrieve Azure snapshot URL for [%s]. Look for snapshot in vm "
                   "resource group [%s]",
                   plan.snapName.c_str(), call.instance().resourceGroupName.c_str());
    plan.pathErr = ValidateAzureResourceName(plan.snapName);
    if (!plan.pathErr) {
        plan.path = call.api().SnapshotPathByName(call.instance(), plan.snapName);
    }
}

void PlanByMetadata(ManagedDiskCall& call, DeletePlan& plan, const std::string& text) {
    plan.lines.Add(KXSO::LOG_DETAIL, "metadata [%s]", text.c_str());
    if (NeverCreated(plan.snapName, text)) {
        plan.kind = DeletePlan::Kind::kNeverCreated;
        plan.lines.Add(KXSO::LOG_INFO,
                       "Snapshot name [%s] is not a valid Azure name; no such snapshot was created",
                       plan.snapName.c_str());
        return;
    }
    AzureSnapMetadata metadata;
    if (!ParseAndCheckSnapMetadata(call, text, metadata)) {
        plan.kind = DeletePlan::Kind::kUnparsable;
        return;
    }
    plan.kind = DeletePlan::Kind::kByMetadata;
    plan.snapURL = metadata.snapURL;
    plan.path = metadata.snapURL;
}

void PlanDelete(ManagedDiskCall& call, KXSO::SnapInfo* record, DeletePlan& plan) {
    plan.record = record;
    record->getSnapName(plan.snapName);
    std::string text;
    if (FetchSnapMetadata(record, text)) {
        PlanByMetadata(call, plan, text);
    } else {
        PlanByName(call, plan);
    }
}

// Writes the record as the walk does; true when it counts as deleted.
bool ApplyDelete(ManagedDiskCall& call, DeletePlan& plan, const CUxError& err) {
    KXSO::SnapInfo* record = plan.record;
    plan.lines.WriteTo(call);
    switch (plan.kind) {
        case DeletePlan::Kind::kNeverCreated:
            break;
        case DeletePlan::Kind::kUnparsable:
            call.RecordFailure(record,
                               "Failed to parse metadata for Azure snapshot " + plan.snapName);
            return false;
        case DeletePlan::Kind::kByName:
            if (err) {
                call.Log(KXSO::LOG_INFO, "Failed to delete Azure snapshot [%s]",
                         plan.snapName.c_str());
                return false;
            }
            break;
        case DeletePlan::Kind::kByMetadata:
            if (err) {
                call.message() << "Failed to delete Azure snapshot " << plan.snapURL
                               << "error: " << ErrorText(err);
                call.RecordFailure(record);
                return false;
            }
            break;
    }
    record->setStatus(KXSO::SNAP_STATUS_DELETED);
    record->setMappedDevicePath("");
    call.Log(KXSO::LOG_INFO, "Deleted snapshot [%s]", plan.snapName.c_str());
    return true;
}

}  // namespace

KXSO::ResultCode DeleteSnapsWork(ManagedDiskCall& call) {
    const size_t count = static_cast<size_t>(call.count());
    std::vector<DeletePlan> plans(count);
    std::vector<std::unique_ptr<ResourceDeleteJob>> jobs;
    std::vector<ResourceDeleteJob*> jobOf(count, nullptr);
    for (size_t i = 0; i < count; ++i) {
        PlanDelete(call, call.devices()[i], plans[i]);
        if (!plans[i].path.empty()) {
            jobs.push_back(std::make_unique<ResourceDeleteJob>(call.api(), plans[i].path));
            jobOf[i] = jobs.back().get();
        }
    }
    // A failing delete never stops the walk: every record's DELETE goes out.
    call.api().RunSideBySide(JobPointers(jobs));
    int deleted = 0;
    for (size_t i = 0; i < count; ++i) {
        const CUxError err = jobOf[i] != nullptr ? jobOf[i]->Result() : plans[i].pathErr;
        if (ApplyDelete(call, plans[i], err)) {
            ++deleted;
        }
    }
    if (deleted == call.count()) {
        return KXSO::RESULT_SUCCESS;
    }
    return deleted == 0 ? KXSO::RESULT_FAILURE : KXSO::RESULT_PARTIAL;
}
