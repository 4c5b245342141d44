// The snapshots a bulk map or revert starts from, read side by side before
// the call walks its records: the walk then takes each record's answer
// instead of sending the read itself. Reads go out only for the records the
// walk reaches with a read: up to the first record whose metadata stops it,
// or that a check of the caller's says the walk stops at after its read.
// At a width of one request at a time nothing is read beforehand.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KXSOSnapAzureFrame.h"
#include "platform/KXFanOut.h"

class SnapshotReadJob;

class SnapshotReads {
public:
    // Whether the walk goes on past a record whose snapshot it has read.
    using GoesOn = std::function<bool(const AzureSnapMetadata& metadata)>;

    SnapshotReads();
    ~SnapshotReads();
    void Fetch(ManagedDiskCall& call, const GoesOn& goesOn);
    // The read of record `index`'s snapshot at `snapURL`, as
    // VerifyAzureSnapshot answers it; sent now when it was not read before.
    CUxError Verify(ManagedDiskCall& call, size_t index, const std::string& snapURL,
                    AzureDiskSnapShotInfo& snapshot) const;

private:
    std::vector<std::unique_ptr<SnapshotReadJob>> jobs_;
};
