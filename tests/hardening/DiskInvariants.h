// What a managed-disk operation may leave behind when a request fails, and the
// checks that hold it to that after every run of the fault matrix.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "FaultMatrix.h"
#include "kxsnap/HostRecord.h"

namespace faultmatrix {

// Which resources an operation brings into being or takes away; anything
// else it touches is a violation.
enum class DiskCreates { Nothing, Snapshots, CloneDisks, RevertDisks };

struct DiskRules {
    int upFront = 0;  // the status set on every record when the call starts
    int success = 0;  // the status of a record that is done
    std::set<int> results;
    std::set<int> errorCodes;
    // Bulk unmap judges its result only from what stays attached, so an error
    // recorded along the way may come with result 0.
    bool judgedByWhatRemains = false;
    // Reconcile on managed disks answers 1 and does nothing else.
    bool fixedResult = false;
    bool bulk = false;
    DiskCreates creates = DiskCreates::Nothing;
    bool deletesSnapshots = false;  // delete
    bool removesClones = false;     // unmap
    bool detachesSources = false;   // revert
};

// What the checks read of a managed-disk record after a run.
RecordView ViewOf(const kxsnap::RecordData& data);

// The invariants of one run, as texts naming what broke; empty when all hold.
std::vector<std::string> CheckDiskRun(const DiskRules& rules, const RunOutcome& run);

}  // namespace faultmatrix
