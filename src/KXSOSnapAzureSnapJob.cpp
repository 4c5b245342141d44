#include "KXSOSnapAzureSnapJob.h"

#include "platform/KXLibCurl.h"

namespace {

const char* KindOf(const AzureDiskSnapShotInfo& snapshot) {
    return snapshot.incremental ? "incr" : "full";
}

}  // namespace

SnapJob::SnapJob(ManagedDiskCall& call, SnapPlan& plan, bool incrementalDisabled)
    : call_(call), plan_(plan), incrementalDisabled_(incrementalDisabled) {}

bool SnapJob::Next(KXFanOut::Request& request) {
    KxSnapAzureAPI& api = call_.api();
    switch (next_) {
        case Step::kReadDisk:
            next_ = Step::kCreate;
            // The tag read is advisory: a disk that cannot be read is still snapshotted.
            if (api.ResourceInfoRequest(plan_.disk.id, apiRequest_).IsSuccess() &&
                api.PrepareRequest(apiRequest_, "", request).IsSuccess()) {
                underWay_ = Step::kReadDisk;
                return true;
            }
            return Next(request);
        case Step::kCreate:
            return !plan_.failed && StartCreation(false, request);
        case Step::kCreateFull:
            return StartCreation(true, request);
        case Step::kWaitProvisioned:
            if (api.PrepareRequest(HTTP_REQ_GET, wait_.url, "", AZURE_OP_GET_RESOURCE_INFO, false,
                                   request)
                    .IsError()) {
                return false;
            }
            request.delay = KXFanOut::Millis(delayMs_);
            underWay_ = Step::kWaitProvisioned;
            return true;
        case Step::kDone:
            return false;
    }
    return false;
}

bool SnapJob::StartCreation(bool full, KXFanOut::Request& request) {
    next_ = Step::kDone;
    fullAttempt_ = full;
    AzureDiskSnapShotInfo& snapshot = plan_.snapshot;
    if (full) {
        plan_.lines.Add(KXSO::LOG_INFO,
                        "Unable to create incr snapshot. Creating %s snapshot for disk lunid [%d] "
                        "name [%s]",
                        "full", plan_.lun, plan_.devicePath.c_str());
    } else {
        snapshot.incremental = !incrementalDisabled_;
        plan_.lines.Add(KXSO::LOG_INFO, "Creating %s snapshot for disk lunid [%d] name [%s]",
                        KindOf(snapshot), plan_.lun, plan_.devicePath.c_str());
    }
    std::string body;
    result_ = call_.api().SnapshotCreationRequest(plan_.lun, call_.instance(), snapshot,
                                                  apiRequest_, body);
    if (!result_) {
        result_ = call_.api().PrepareRequest(apiRequest_, body, request);
    }
    if (result_) {
        return false;
    }
    underWay_ = full ? Step::kCreateFull : Step::kCreate;
    return true;
}

void SnapJob::OnAnswer(const KXFanOut::Answer& answer) {
    KxSnapAzureAPI& api = call_.api();
    switch (underWay_) {
        case Step::kReadDisk: {
            AzureResourceInfo resource;
            bool createdByKX = false;
            const CUxError err = api.TakeAnswer(apiRequest_, answer, response_);
            api.TakeResourceInfo(err, response_, resource, createdByKX);
            api.ApplyDiskTags(resource, createdByKX, plan_.disk);
            return;
        }
        case Step::kCreate:
        case Step::kCreateFull: {
            creationSent_ = creationSent_ || answer.requestSent;
            const CUxError err = api.TakeAnswer(apiRequest_, answer, response_);
            if (!err && api.IsPostCreateSnapPhaseDisabled()) {
                std::string url;
                api.FormRESTURLRequest(apiRequest_, url);
                api.BeginProvisioningWait(AZURE_OP_CREATE_SNAPSHOT, url, wait_);
                delayMs_ = 0;
                next_ = Step::kWaitProvisioned;
                return;
            }
            FinishCreation(err, answer.status);
            return;
        }
        case Step::kWaitProvisioned: {
            const CUxError fetchErr = api.TakeAnswer(HTTP_REQ_GET, wait_.url,
                                                     AZURE_OP_GET_RESOURCE_INFO, answer, response_);
            CUxError result;
            if (api.ProvisioningWaitStep(wait_, fetchErr, answer.status, response_,
                                         RetryAfterMsOf(answer), result, delayMs_)) {
                FinishCreation(result, answer.status);
            } else {
                next_ = Step::kWaitProvisioned;
            }
            return;
        }
        case Step::kDone:
            return;
    }
}

void SnapJob::FinishCreation(const CUxError& err, long httpStatus) {
    result_ = call_.api().TakeSnapshotCreation(err, httpStatus, response_, plan_.snapshot);
    // Only Azure's outright refusal of an incremental snapshot (it then
    // clears the flag) is followed by one full attempt.
    if (result_ && !fullAttempt_ && !plan_.snapshot.incremental && !incrementalDisabled_) {
        next_ = Step::kCreateFull;
    } else {
        next_ = Step::kDone;
    }
}
