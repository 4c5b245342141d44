// A revert that detached the source disks and then could not attach their
// replacements would leave the VM without either; the sources go back.
#include "KXSOSnapAzureRevertRecovery.h"

#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureAPI.h"
#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"

namespace {

bool IsReverted(KXSO::SnapInfo* record) {
    return record->getStatus() == KXSO::SNAP_STATUS_REVERTED;
}

bool ReplacementAttached(ManagedDiskCall& call, const RevertRecordDisks& entry) {
    return !entry.replacementName.empty() &&
           FindDataDiskByName(call.instance(), entry.replacementName) != nullptr;
}

bool LeftBehind(ManagedDiskCall& call, const RevertRecordDisks& entry) {
    return !entry.replacementName.empty() && call.api().IsDiskLeftBehind(entry.replacementName);
}

// The source disk of the record as it was attached before the revert; null
// when it was not attached then.
const AzureDiskInfo* SourceBefore(const std::vector<AzureDiskInfo>& attachedBefore,
                                  const RevertRecordDisks& entry) {
    if (entry.sourceId.empty()) {
        return nullptr;
    }
    for (const AzureDiskInfo& disk : attachedBefore) {
        if (FXString::EqualsNoCase(LastSegment(disk.id), LastSegment(entry.sourceId))) {
            return &disk;
        }
    }
    return nullptr;
}

}  // namespace

std::vector<AzureDiskInfo> AttachedDataDisks(const AzureInstanceInfo& instance) {
    std::vector<AzureDiskInfo> disks;
    for (const AzureDiskInfo& disk : instance.disks) {
        if (disk.lun >= 0) {
            disks.push_back(disk);
        }
    }
    return disks;
}

void RestoreAfterFailedRevert(ManagedDiskCall& call,
                              const std::vector<AzureDiskInfo>& attachedBefore,
                              const std::vector<RevertRecordDisks>& records, bool deleteSource,
                              const std::string& failureText) {
    // The records whose source disk the revert took off the VM and did not
    // replace, and those whose new disk could not be deleted again.
    std::vector<const RevertRecordDisks*> changed;
    std::vector<AzureDiskInfo> detached;
    for (const RevertRecordDisks& entry : records) {
        if (IsReverted(entry.record) || ReplacementAttached(call, entry)) {
            continue;
        }
        const AzureDiskInfo* source = SourceBefore(attachedBefore, entry);
        const bool sourceDetached =
            source != nullptr &&
            FindAttachedDisk(call.instance(), source->id, source->name) == nullptr;
        if (sourceDetached) {
            detached.push_back(*source);
        }
        if (sourceDetached || LeftBehind(call, entry)) {
            changed.push_back(&entry);
        }
    }
    const bool settled = call.api().GetLastVMUpdateOutcome() != VMUpdateOutcome::kUnsettled;
    if (!deleteSource && settled && !detached.empty()) {
        call.Log(KXSO::LOG_INFO, "Attaching [%d] source disks again",
                 static_cast<int>(detached.size()));
        const CUxError err = call.api().ReattachAzureDisksToVM(detached, call.instance());
        if (err) {
            call.Log(KXSO::LOG_ERROR, "Failed to attach the source disks again: %s",
                     ErrorText(err).c_str());
        }
    }
    const bool replacementsKept = deleteSource || !settled;
    for (const RevertRecordDisks* entry : changed) {
        const bool kept = replacementsKept || LeftBehind(call, *entry);
        const std::string name = kept && !entry->replacementName.empty()
                                     ? entry->replacementName
                                     : LastSegment(entry->sourceId);
        // A record that failed on its own keeps its reason, now naming its disk.
        int code = 0;
        std::string own;
        entry->record->getError(&code, &own, nullptr);
        const std::string tag = " [" + name + "]";
        if (code > 0 && own.size() >= tag.size() &&
            own.compare(own.size() - tag.size(), tag.size(), tag) == 0) {
            continue;  // it names its disk already
        }
        call.RecordFailure(entry->record, (code > 0 && !own.empty() ? own : failureText) + tag);
    }
}
