// Disks that an interrupted revert attached and never recorded. A revert
// attaches the new disk before it rewrites the snapshot's metadata; stopped in
// between, the VM keeps the new disk while the metadata still names the disk
// it replaced. A second revert must treat that disk as the current source
// disk, or the VM ends with two replacements for one record.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "AzureRecords.h"
#include "KXSOSnapAzureFrame.h"

class RevertLeftovers {
public:
    explicit RevertLeftovers(ManagedDiskCall& call) : call_(call) {}

    // LUNs of the data disks attached to this VM that a revert of the same
    // source disk made from the same snapshot (their tags say so) and that
    // the metadata does not name. Disks no longer attached are never found.
    std::vector<int> Find(const AzureSnapMetadata& metadata,
                          const AzureDiskSnapShotInfo& snapshot);

private:
    bool MadeByRevertOf(const AzureDiskInfo& disk, const AzureSnapMetadata& metadata,
                        const AzureDiskSnapShotInfo& snapshot);
    const AzureResourceInfo* TagsOf(const AzureDiskInfo& disk);

    ManagedDiskCall& call_;
    // Each disk's tags are read once per call, whichever records ask.
    std::map<std::string, AzureResourceInfo> tags_;
    std::set<std::string> unreadable_;
};
