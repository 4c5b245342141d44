#include "KxSnapAzureOwnershipJob.h"

#include <utility>

OwnershipReadJob::OwnershipReadJob(KxSnapAzureAPI& api, std::string resourcePath, bool stopsTheWalk)
    : api_(api), path_(std::move(resourcePath)), stopsTheWalk_(stopsTheWalk) {}

bool OwnershipReadJob::Next(KXFanOut::Request& request) {
    if (asked_) {
        return false;
    }
    asked_ = true;
    result_ = api_.ResourceInfoRequest(path_, request_);
    if (!result_) {
        result_ = api_.PrepareRequest(request_, "", request);
    }
    return result_.IsSuccess();
}

void OwnershipReadJob::OnAnswer(const KXFanOut::Answer& answer) {
    std::string response;
    const CUxError err = api_.TakeAnswer(request_, answer, response);
    AzureResourceInfo resource;
    createdByKX_ = false;
    result_ = api_.TakeResourceInfo(err, response, resource, createdByKX_);
}

CUxError OwnershipReadJob::TakeVerdict(bool& createdByKX) {
    createdByKX = createdByKX_;
    return api_.ReportOwnership(path_, result_, createdByKX);
}
