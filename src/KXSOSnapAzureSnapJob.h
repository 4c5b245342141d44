// One record of a snapshot call as a job of requests sent side by side: the
// read of the source disk's tags, the snapshot creation (a full one after
// Azure refused an incremental one), and the provisioning wait when the
// post-create phase is off. What it learns stays in the record's plan until
// the call writes the records in array order.
#pragma once

#include <string>

#include "KXSOSnapAzureFanOutJobs.h"
#include "KXSOSnapAzureFrame.h"

// What the walk knows of one record before anything is sent, and what the
// requests add to it.
struct SnapPlan {
    KXSO::SnapInfo* record = nullptr;
    std::string devicePath;
    int lun = -1;
    AzureDiskInfo disk;
    AzureDiskSnapShotInfo snapshot;
    // A local step failed: the message (and code, 0 for the driver's) the
    // record gets. `afterDiskRead`: the walk reads the disk's tags first.
    bool failed = false;
    bool afterDiskRead = false;
    std::string failure;
    int failureCode = 0;
    RecordLines lines;
};

class SnapJob : public KXFanOut::Job {
public:
    SnapJob(ManagedDiskCall& call, SnapPlan& plan, bool incrementalDisabled);
    bool Next(KXFanOut::Request& request) override;
    void OnAnswer(const KXFanOut::Answer& answer) override;
    bool StopsTheWalk() const override { return plan_.failed || result_.IsError(); }

    // The outcome of the last creation attempt.
    const CUxError& CreationResult() const { return result_; }
    // Whether a creation request went out: a snapshot may exist.
    bool CreationSent() const { return creationSent_; }

private:
    enum class Step { kReadDisk, kCreate, kCreateFull, kWaitProvisioned, kDone };
    bool StartCreation(bool full, KXFanOut::Request& request);
    void FinishCreation(const CUxError& err, long httpStatus);

    ManagedDiskCall& call_;
    SnapPlan& plan_;
    bool incrementalDisabled_;
    Step next_ = Step::kReadDisk;
    Step underWay_ = Step::kDone;
    AzureAPIRequest apiRequest_;
    std::string response_;
    KxSnapAzureAPI::ProvisioningWait wait_;
    uint64_t delayMs_ = 0;
    bool creationSent_ = false;
    bool fullAttempt_ = false;
    CUxError result_;
};
