// What a revert does when the disks made from the snapshots cannot be
// attached: the VM gets its source disks back, and every record whose disk
// changed state says which disk is where.
#pragma once

#include <string>
#include <vector>

#include "AzureRecords.h"
#include "KXSOSnapAzureFrame.h"

// One record of a revert and its disks.
struct RevertRecordDisks {
    KXSO::SnapInfo* record = nullptr;
    std::string sourceId;         // the source disk named in the metadata
    std::string replacementName;  // the disk made from the snapshot, when known
};

// The data disks attached before the revert touched the VM.
std::vector<AzureDiskInfo> AttachedDataDisks(const AzureInstanceInfo& instance);

// After a failed attach of the replacement disks (the VM has settled, or
// not): a record whose replacement is attached is left to the caller to
// complete. Without the delete setting, the source disks the revert detached
// are attached again at their LUNs (after a settled VM only: an unsettled
// update may still change the VM). Each other record gets `failureText`
// followed by " [" disk name "]": the replacement when it was kept (the
// sources were deleted, or the VM did not settle), else its source disk.
void RestoreAfterFailedRevert(ManagedDiskCall& call,
                              const std::vector<AzureDiskInfo>& attachedBefore,
                              const std::vector<RevertRecordDisks>& records, bool deleteSource,
                              const std::string& failureText);
