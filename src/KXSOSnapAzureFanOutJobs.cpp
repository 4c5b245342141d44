#include "KXSOSnapAzureFanOutJobs.h"

#include <cstdarg>

#include "AzureOperationStatus.h"
#include "platform/FXString.h"

void RecordLines::Add(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    lines_.emplace_back(level, FXString::FormatV(format, args));
    va_end(args);
}

void RecordLines::WriteTo(ManagedDiskCall& call) {
    for (const auto& line : lines_) {
        call.Log(line.first, "%s", line.second.c_str());
    }
    lines_.clear();
}

ResourceDeleteJob::ResourceDeleteJob(KxSnapAzureAPI& api, std::string resourcePath)
    : api_(api), path_(std::move(resourcePath)) {}

bool ResourceDeleteJob::Next(KXFanOut::Request& request) {
    if (asked_) {
        return false;
    }
    asked_ = true;
    result_ = api_.ResourceDeletionRequest(path_, request_);
    if (!result_) {
        result_ = api_.PrepareRequest(request_, "", request);
    }
    return result_.IsSuccess();
}

void ResourceDeleteJob::OnAnswer(const KXFanOut::Answer& answer) {
    sent_ = sent_ || answer.requestSent;
    std::string response;
    result_ = api_.TakeResourceDeletion(api_.TakeAnswer(request_, answer, response), path_);
}

int64_t RetryAfterMsOf(const KXFanOut::Answer& answer) {
    return azureops::RetryAfterMs([&answer](const char* name) {
        const char* line = answer.Header(name);
        return line == nullptr ? std::string() : std::string(line);
    });
}
