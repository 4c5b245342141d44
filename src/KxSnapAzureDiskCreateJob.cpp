#include "KxSnapAzureDiskCreateJob.h"

#include "AzureOperationStatus.h"
#include "platform/FXString.h"
#include "platform/KXLibCurl.h"

namespace {

int64_t RetryAfterMsOf(const KXFanOut::Answer& answer) {
    return azureops::RetryAfterMs([&answer](const char* name) {
        const char* line = answer.Header(name);
        return line == nullptr ? std::string() : std::string(line);
    });
}

// A 2xx status line means Azure took the request, even when the answer was
// then cut off.
bool Accepted(const KXFanOut::Answer& answer) {
    return answer.Ok() || (answer.status >= 200 && answer.status < 300);
}

}  // namespace

DiskCreateJob::DiskCreateJob(KxSnapAzureAPI& api, const AzureInstanceInfo& instance,
                             const AzureDiskSnapShotInfo& snapshot)
    : api_(api), instance_(instance), snapshot_(snapshot) {}

bool DiskCreateJob::Next(KXFanOut::Request& request) {
    switch (next_) {
        case Step::kCreate:
            return StartCreation(request);
        case Step::kPoll:
            return StartPoll(request);
        case Step::kDeleteFailed:
            return StartDelete(request);
        case Step::kDone:
            return false;
    }
    return false;
}

bool DiskCreateJob::StartCreation(KXFanOut::Request& request) {
    next_ = Step::kDone;
    std::string body;
    result_ = api_.DiskCreationRequest(instance_, snapshot_.diskName, snapshot_, apiRequest_, body);
    if (!result_) {
        diskPath_ = apiRequest_.resourcePath + apiRequest_.leaf;
        result_ = api_.PrepareRequest(apiRequest_, body, request);
    }
    if (result_) {
        result_.Push(FXCODE_LOCATION());
        return false;
    }
    underWay_ = Step::kCreate;
    // Handed out, the PUT may reach Azure even when its answer never comes back.
    mayExist_ = true;
    return true;
}

bool DiskCreateJob::StartPoll(KXFanOut::Request& request) {
    next_ = Step::kDone;
    if (api_.PrepareRequest(HTTP_REQ_GET, wait_.url, "", AZURE_OP_GET_RESOURCE_INFO, false, request)
            .IsError()) {
        Conclude(readingBack_ ? creationErr_
                              : FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL,
                                                        "Failed to fetch resource info for [%s]",
                                                        wait_.url.c_str()));
        return Next(request);
    }
    request.delay = KXFanOut::Millis(delayMs_);
    underWay_ = Step::kPoll;
    return true;
}

bool DiskCreateJob::StartDelete(KXFanOut::Request& request) {
    next_ = Step::kDone;
    CUxError err = api_.ResourceDeletionRequest(diskPath_, apiRequest_);
    if (!err) {
        err = api_.PrepareRequest(apiRequest_, "", request);
    }
    if (err) {
        NoteLeftBehind();
        return false;
    }
    underWay_ = Step::kDeleteFailed;
    return true;
}

void DiskCreateJob::OnAnswer(const KXFanOut::Answer& answer) {
    const Step step = underWay_;
    underWay_ = Step::kDone;
    switch (step) {
        case Step::kCreate:
            TakeCreation(answer);
            return;
        case Step::kPoll:
            TakePoll(answer);
            return;
        case Step::kDeleteFailed:
            TakeDelete(answer);
            return;
        case Step::kDone:
            return;
    }
}

void DiskCreateJob::BeginWait() {
    std::string url;
    api_.FormRESTURLRequest(apiRequest_, url);
    api_.BeginProvisioningWait(AZURE_OP_CREATE_DISK, url, wait_);
    delayMs_ = 0;
    next_ = Step::kPoll;
}

void DiskCreateJob::TakeCreation(const KXFanOut::Answer& answer) {
    const bool accepted = Accepted(answer);
    CUxError err = api_.TakeAnswer(apiRequest_, answer, response_);
    if (!err) {
        BeginWait();
        return;
    }
    if (!accepted && azureops::IsTransientStatus(answer.status)) {
        // No answer, or only passing errors after the retries: Azure may
        // have made the disk all the same. The PUT names the disk, so
        // reading it by name tells.
        lines_.emplace_back(
            1,
            FXString::Format("The answer to the creation of disk [%s] was lost; reading the disk",
                             snapshot_.diskName.c_str()));
        creationErr_ = err.Push(FXCODE_LOCATION());
        readingBack_ = true;
        BeginWait();
        return;
    }
    // A PUT Azure refused (a name already taken, say) created nothing, and
    // the disk of that name is not ours to delete.
    mayExist_ = accepted;
    Conclude(err.Push(FXCODE_LOCATION()));
}

void DiskCreateJob::TakePoll(const KXFanOut::Answer& answer) {
    const CUxError fetchErr =
        api_.TakeAnswer(HTTP_REQ_GET, wait_.url, AZURE_OP_GET_RESOURCE_INFO, answer, response_);
    CUxError result;
    if (!api_.ProvisioningWaitStep(wait_, fetchErr, answer.status, response_,
                                   RetryAfterMsOf(answer), result, delayMs_)) {
        next_ = Step::kPoll;
        return;
    }
    if (!readingBack_) {
        Conclude(result);
    } else if (result) {
        // Only "not found" says the disk was never made.
        mayExist_ = answer.status != 404;
        Conclude(creationErr_);
    } else {
        Conclude(CUxError::Success());
    }
}

void DiskCreateJob::Conclude(CUxError err) {
    if (!err) {
        err = api_.ParseDiskInfoFromJsonResponse(response_, disk_);
    }
    if (!err) {
        disk_.isManaged = true;
        result_ = CUxError::Success();
        next_ = Step::kDone;
        return;
    }
    result_ = err.Push(FXCODE_LOCATION());
    next_ = Step::kDone;
    if (mayExist_) {
        // Azure accepted the disk but it never provisioned, or could not be
        // read back: nobody will ever use or find it, so it is not left
        // behind.
        lines_.emplace_back(1, FXString::Format("Deleting disk [%s] that failed to provision",
                                                snapshot_.diskName.c_str()));
        next_ = Step::kDeleteFailed;
    }
}

void DiskCreateJob::TakeDelete(const KXFanOut::Answer& answer) {
    std::string response;
    const CUxError err =
        api_.TakeResourceDeletion(api_.TakeAnswer(apiRequest_, answer, response), diskPath_);
    if (err) {
        NoteLeftBehind();
        return;
    }
    mayExist_ = false;
}

void DiskCreateJob::NoteLeftBehind() {
    lines_.emplace_back(2, FXString::Format("Disk [%s] could not be deleted and is left behind",
                                            snapshot_.diskName.c_str()));
    leftBehind_ = true;
}
