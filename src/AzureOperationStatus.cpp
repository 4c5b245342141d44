// One status table for both REST paths, so that a word Azure uses is read the
// same way whether a disk or a volume is being followed.
#include "AzureOperationStatus.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>

#include <curl/curl.h>

#include "platform/FXString.h"

namespace azureops {
namespace {

struct StatusWord {
    const char* word;
    OperationState state;
};

// Operation statuses ("status" of an operation document) and provisioning
// states ("properties.provisioningState") share their vocabulary.
constexpr StatusWord kStatusTable[] = {
    {"InProgress", OperationState::kInProgress}, {"Running", OperationState::kInProgress},
    {"Accepted", OperationState::kInProgress},   {"Creating", OperationState::kInProgress},
    {"Updating", OperationState::kInProgress},   {"Deleting", OperationState::kInProgress},
    {"Succeeded", OperationState::kSucceeded},   {"Failed", OperationState::kFailed},
    {"Canceled", OperationState::kCanceled},     {"Cancelled", OperationState::kCanceled},
};

constexpr uint64_t kMinBackoffMs = 100;
constexpr uint64_t kMaxBackoffMs = 60000;
constexpr int64_t kMaxRetryAfterMs = 3600 * 1000;

std::string HeaderValue(const std::function<std::string(const char*)>& headerLine,
                        const char* name) {
    const std::string line = headerLine(name);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return "";
    }
    return FXString::Trim(line.substr(colon + 1), " \t\r\n");
}

// A whole non-negative number, or -1.
int64_t ReadWholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 12 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(c) != 0; })) {
        return -1;
    }
    return std::strtoll(text.c_str(), nullptr, 10);
}

}  // namespace

OperationState ClassifyStatus(const std::string& word) {
    for (const StatusWord& entry : kStatusTable) {
        if (FXString::EqualsNoCase(word, entry.word)) {
            return entry.state;
        }
    }
    return OperationState::kUnknown;
}

bool IsTerminal(OperationState state) {
    return state == OperationState::kSucceeded || state == OperationState::kFailed ||
           state == OperationState::kCanceled;
}

bool IsTransientStatus(long httpStatus) {
    return httpStatus == 0 || httpStatus == 408 || httpStatus == 429 ||
           (httpStatus >= 500 && httpStatus <= 599);
}

int64_t RetryAfterMs(const std::function<std::string(const char* name)>& headerLine) {
    for (const char* name : {"retry-after-ms", "x-ms-retry-after-ms"}) {
        const int64_t ms = ReadWholeNumber(HeaderValue(headerLine, name));
        if (ms >= 0) {
            return std::min(ms, kMaxRetryAfterMs);
        }
    }
    const std::string value = HeaderValue(headerLine, "Retry-After");
    if (value.empty()) {
        return -1;
    }
    const int64_t seconds = ReadWholeNumber(value);
    if (seconds >= 0) {
        return std::min(seconds * 1000, kMaxRetryAfterMs);
    }
    const time_t when = curl_getdate(value.c_str(), nullptr);
    if (when < 0) {
        return -1;  // unreadable: the back-off decides
    }
    const time_t now = std::time(nullptr);
    return when <= now ? 0 : std::min<int64_t>((when - now) * 1000, kMaxRetryAfterMs);
}

uint64_t NextPollDelayMs(uint64_t intervalMs, int failures, int64_t retryAfterMs) {
    uint64_t delay = intervalMs;
    if (failures > 0) {
        uint64_t backoff = std::max(intervalMs, kMinBackoffMs);
        for (int i = 1; i < failures && backoff < kMaxBackoffMs; ++i) {
            backoff *= 2;
        }
        delay = std::max(delay, std::min(backoff, kMaxBackoffMs));
    }
    if (retryAfterMs > 0) {
        delay = std::max(delay, static_cast<uint64_t>(retryAfterMs));
    }
    return delay;
}

}  // namespace azureops
