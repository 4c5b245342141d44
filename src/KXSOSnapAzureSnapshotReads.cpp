#include "KXSOSnapAzureSnapshotReads.h"

#include "KXSOSnapAzureFanOutJobs.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"

// One GET of a snapshot by path, as VerifyAzureSnapshot sends it.
class SnapshotReadJob : public KXFanOut::Job {
public:
    SnapshotReadJob(KxSnapAzureAPI& api, std::string snapURL)
        : api_(api), url_(std::move(snapURL)) {}

    bool Next(KXFanOut::Request& request) override {
        if (asked_) {
            return false;
        }
        asked_ = true;
        result_ = api_.SnapshotReadRequest(url_, apiRequest_);
        if (!result_) {
            result_ = api_.PrepareRequest(apiRequest_, "", request);
        }
        done_ = result_.IsError();
        return !done_;
    }
    void OnAnswer(const KXFanOut::Answer& answer) override {
        result_ = api_.TakeAnswer(apiRequest_, answer, response_);
        done_ = true;
    }
    bool StopsTheWalk() const override { return result_.IsError(); }

    // Whether the read of `snapURL` has its outcome.
    bool Answered(const std::string& snapURL) const { return done_ && snapURL == url_; }
    CUxError Take(AzureDiskSnapShotInfo& snapshot) const {
        return api_.TakeSnapshotRead(result_, response_, snapshot);
    }

private:
    KxSnapAzureAPI& api_;
    std::string url_;
    AzureAPIRequest apiRequest_;
    std::string response_;
    bool asked_ = false;
    bool done_ = false;
    CUxError result_;
};

SnapshotReads::SnapshotReads() = default;
SnapshotReads::~SnapshotReads() = default;

void SnapshotReads::Fetch(ManagedDiskCall& call, const GoesOn& goesOn) {
    jobs_.clear();
    // One request at a time: the walk reads each snapshot where it always
    // has, between the requests it sends for the records before.
    if (KXFanOut::MaxParallelFromSettings() <= 1) {
        return;
    }
    for (int16_t i = 0; i < call.count(); ++i) {
        std::string text;
        AzureSnapMetadata metadata;
        if (!FetchSnapMetadata(call.devices()[i], text) ||
            !ParseAzureSnapMetaData(text, metadata) || !IsSnapMetadataSound(metadata)) {
            break;
        }
        jobs_.push_back(std::make_unique<SnapshotReadJob>(call.api(), metadata.snapURL));
        // A path refused before the read is sent stops the walk at its record.
        if (ValidateAzureResourcePath(metadata.snapURL).IsError() ||
            (goesOn && !goesOn(metadata))) {
            break;
        }
    }
    call.api().RunSideBySide(JobPointers(jobs_));
}

CUxError SnapshotReads::Verify(ManagedDiskCall& call, size_t index, const std::string& snapURL,
                               AzureDiskSnapShotInfo& snapshot) const {
    if (index < jobs_.size() && jobs_[index]->Answered(snapURL)) {
        return jobs_[index]->Take(snapshot);
    }
    return call.api().VerifyAzureSnapshot(snapURL, snapshot);
}
