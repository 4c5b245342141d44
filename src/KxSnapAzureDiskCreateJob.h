// The creation of one disk from a snapshot as a chain of requests sent side
// by side with the creations of the other disks of a call: the PUT, the
// provisioning polls, the read-back of a disk whose PUT went unanswered, and
// the delete of a disk that Azure took but that never became usable. What the
// chain learns stays in the job until the walk over the disks reaches it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "KxSnapAzureAPI.h"
#include "platform/KXFanOut.h"

class DiskCreateJob : public KXFanOut::Job {
public:
    DiskCreateJob(KxSnapAzureAPI& api, const AzureInstanceInfo& instance,
                  const AzureDiskSnapShotInfo& snapshot);
    bool Next(KXFanOut::Request& request) override;
    void OnAnswer(const KXFanOut::Answer& answer) override;
    bool StopsTheWalk() const override { return result_.IsError(); }

    const CUxError& Result() const { return result_; }
    const AzureDiskInfo& Disk() const { return disk_; }
    const std::string& DiskName() const { return snapshot_.diskName; }
    const std::string& DiskPath() const { return diskPath_; }
    // Whether a disk this job asked for may exist in Azure now: its PUT may
    // have been carried out and the disk was not deleted again.
    bool MayHaveMadeDisk() const { return mayExist_; }
    // Its delete of a disk that failed to provision did not complete.
    bool LeftBehind() const { return leftBehind_; }
    // The job's own log lines (level, text), written when the walk reaches it.
    const std::vector<std::pair<int, std::string>>& Lines() const { return lines_; }

private:
    enum class Step { kCreate, kPoll, kDeleteFailed, kDone };
    bool StartCreation(KXFanOut::Request& request);
    bool StartPoll(KXFanOut::Request& request);
    bool StartDelete(KXFanOut::Request& request);
    void TakeCreation(const KXFanOut::Answer& answer);
    void TakePoll(const KXFanOut::Answer& answer);
    void TakeDelete(const KXFanOut::Answer& answer);
    void Conclude(CUxError err);
    void BeginWait();
    void NoteLeftBehind();

    KxSnapAzureAPI& api_;
    const AzureInstanceInfo& instance_;
    AzureDiskSnapShotInfo snapshot_;
    std::string diskPath_;
    Step next_ = Step::kCreate;
    Step underWay_ = Step::kDone;
    AzureAPIRequest apiRequest_;
    std::string response_;
    KxSnapAzureAPI::ProvisioningWait wait_;
    uint64_t delayMs_ = 0;
    // The PUT went unanswered and its disk is read back by name; the PUT's
    // own failure stays the reason unless the disk turns up.
    bool readingBack_ = false;
    CUxError creationErr_;
    bool mayExist_ = false;
    bool leftBehind_ = false;
    AzureDiskInfo disk_;
    CUxError result_;
    std::vector<std::pair<int, std::string>> lines_;
};
