// The read of one resource's tags that tells whether this engine made it, as
// a job of requests sent side by side (KxSnapAzureAPI::RunSideBySide). The
// verdict is logged only when the caller takes it, so that the reads of many
// disks can be answered in any order and reported in the order a walk over
// them reports.
#pragma once

#include <string>

#include "KxSnapAzureAPI.h"
#include "platform/KXFanOut.h"

class OwnershipReadJob : public KXFanOut::Job {
public:
    // `stopsTheWalk`: an unreadable resource ends the walk over the others,
    // as it ends the detach's check of the disks one after another.
    OwnershipReadJob(KxSnapAzureAPI& api, std::string resourcePath, bool stopsTheWalk);
    bool Next(KXFanOut::Request& request) override;
    void OnAnswer(const KXFanOut::Answer& answer) override;
    bool StopsTheWalk() const override { return stopsTheWalk_ && result_.IsError(); }

    const std::string& ResourcePath() const { return path_; }
    // CheckAzureResourceCreatedByKX's answer, its lines logged now.
    CUxError TakeVerdict(bool& createdByKX);

private:
    KxSnapAzureAPI& api_;
    std::string path_;
    bool stopsTheWalk_;
    bool asked_ = false;
    AzureAPIRequest request_;
    bool createdByKX_ = false;
    CUxError result_;
};
