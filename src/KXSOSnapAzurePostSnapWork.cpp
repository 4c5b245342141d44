// Post-snapshot: the wait until every snapshot of the call has finished
// provisioning. The snapshots are asked about side by side; each record's
// answer is written in array order, and the walk stops at the first failure.
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "KXSOSnapAzureDriverBodies.h"
#include "KXSOSnapAzureFanOutJobs.h"
#include "KXSOSnapAzureWorkSupport.h"
#include "KxSnapAzureUtils.h"
#include "platform/FXString.h"

namespace {

// Code location of the post-snapshot time-out: the driver's own file and signature.
constexpr const char* kDriverFile = "KXSOSnapAzure";
constexpr const char* kPostSnapSignature =
    "KXSO::ResultCode kxso_postSnapDevicesAzureNative(KXSO::SnapInfo**, int16_t, "
    "KXSO::KXOSUtil*)";

uint64_t NowSecs() {
    return static_cast<uint64_t>(std::time(nullptr));
}

struct PostSnapPlan {
    KXSO::SnapInfo* record = nullptr;
    std::string failure;  // a local step failed: the walk stops here
    std::string snapURL;
    RecordLines lines;
};

// Polls one snapshot until Azure reports it "Succeeded", it failed for good,
// or the client's maximum wait has passed; the wait between polls is a time
// before which the next poll is not sent.
class SnapshotWaitJob : public KXFanOut::Job {
public:
    SnapshotWaitJob(ManagedDiskCall& call, PostSnapPlan& plan) : call_(call), plan_(plan) {}

    bool Next(KXFanOut::Request& request) override {
        if (done_) {
            return false;
        }
        if (!started_) {
            started_ = true;
            start_ = NowSecs();
        }
        KxSnapAzureAPI& api = call_.api();
        CUxError err = api.SnapshotReadRequest(plan_.snapURL, apiRequest_);
        if (!err) {
            err = api.PrepareRequest(apiRequest_, "", request);
        }
        if (err) {
            // A request that cannot be formed now never will be: asking
            // again until the time runs out would change nothing.
            Finish(err);
            return false;
        }
        request.delay = KXFanOut::Millis(nextDelayMs_);
        return true;
    }

    void OnAnswer(const KXFanOut::Answer& answer) override {
        KxSnapAzureAPI& api = call_.api();
        std::string response;
        AzureDiskSnapShotInfo snapshot;
        const CUxError err =
            api.TakeSnapshotRead(api.TakeAnswer(apiRequest_, answer, response), response, snapshot);
        TakeVerification(err, snapshot);
    }

    bool StopsTheWalk() const override { return result_.IsError(); }
    const CUxError& Result() const { return result_; }

private:
    void TakeVerification(CUxError err, const AzureDiskSnapShotInfo& snapshot) {
        if (snapshot.provisioningState == "Succeeded") {
            plan_.lines.Add(KXSO::LOG_INFO, "Found snapshot [%s] location [%s] url [%s]",
                            snapshot.name.c_str(), snapshot.location.c_str(),
                            plan_.snapURL.c_str());
            Finish(err);
            return;
        }
        // A snapshot Azure reports as failed never turns into a good one;
        // waiting out the whole maximum would only delay the failure.
        if (err.IsSuccess() && FXString::EqualsNoCase(snapshot.provisioningState, "Failed")) {
            Finish(FXErrorUtil::ErrorErrNo(
                FXCodeLocation(kDriverFile, kPostSnapSignature, __LINE__), AZURE_ERR_GENERAL,
                "Snapshot [%s] provisioning failed", snapshot.name.c_str()));
            return;
        }
        const uint64_t maxWait = call_.api().GetMaxWaitSecs();
        const uint64_t interval = call_.api().GetPollIntervalSecs();
        const uint64_t now = NowSecs();
        const uint64_t elapsed = now > start_ ? now - start_ : 0;
        if (elapsed > maxWait) {
            plan_.lines.Add(KXSO::LOG_INFO,
                            "Maximum wait time [%lu secs] reached. Unable to check snapshot "
                            "status for [%s]",
                            static_cast<unsigned long>(maxWait), snapshot.name.c_str());
            Finish(FXErrorUtil::ErrorErrNo(
                FXCodeLocation(kDriverFile, kPostSnapSignature, __LINE__), AZURE_ERR_TIMEOUT,
                "Timed out while checking on snapshot [%s] status", snapshot.name.c_str()));
            return;
        }
        plan_.lines.Add(KXSO::LOG_DETAIL, "Check the snapshot [%s] status in  [%lu] seconds ...",
                        snapshot.name.c_str(), static_cast<unsigned long>(interval));
        nextDelayMs_ = interval * 1000;
    }

    void Finish(const CUxError& err) {
        result_ = err;
        done_ = true;
    }

    ManagedDiskCall& call_;
    PostSnapPlan& plan_;
    AzureAPIRequest apiRequest_;
    bool started_ = false;
    bool done_ = false;
    uint64_t start_ = 0;
    uint64_t nextDelayMs_ = 0;
    CUxError result_;
};

// The record's metadata, read and checked before anything is sent.
bool PlanPostSnap(ManagedDiskCall& call, KXSO::SnapInfo* record, PostSnapPlan& plan) {
    plan.record = record;
    std::string text;
    if (!FetchSnapMetadata(record, text)) {
        plan.failure = "Failed to fetch Azure snapshot URL from metadata.";
        return false;
    }
    plan.lines.Add(KXSO::LOG_DETAIL, "metadata [%s]", text.c_str());
    AzureSnapMetadata metadata;
    if (!ParseAndCheckSnapMetadata(call, text, metadata)) {
        plan.failure = "Failed to parse Azure snapshot URL from metadata.";
        return false;
    }
    plan.snapURL = metadata.snapURL;
    return true;
}

}  // namespace

KXSO::ResultCode PostSnapDevicesWork(ManagedDiskCall& call) {
    const size_t count = static_cast<size_t>(call.count());
    std::vector<PostSnapPlan> plans(count);
    std::vector<std::unique_ptr<SnapshotWaitJob>> jobs;
    for (size_t i = 0; i < count && PlanPostSnap(call, call.devices()[i], plans[i]); ++i) {
        jobs.push_back(std::make_unique<SnapshotWaitJob>(call, plans[i]));
    }
    call.api().RunSideBySide(JobPointers(jobs));
    for (size_t i = 0; i < count; ++i) {
        PostSnapPlan& plan = plans[i];
        plan.lines.WriteTo(call);
        if (i == jobs.size()) {
            call.RecordFailure(plan.record, plan.failure);
            return KXSO::RESULT_FAILURE;
        }
        const CUxError& err = jobs[i]->Result();
        if (err) {
            call.message() << "Failed to verify Azure snapshot " << plan.snapURL
                           << "error: " << ErrorText(err);
            call.RecordFailure(plan.record);
            return KXSO::RESULT_FAILURE;
        }
    }
    return KXSO::RESULT_SUCCESS;
}
