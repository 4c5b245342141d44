// What both REST paths need to follow a long-running Azure operation: the
// words Resource Manager uses for the state of an operation or a resource's
// provisioning, which answers to a status request mean "ask again later",
// and how long to wait before asking again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace azureops {

enum class OperationState {
    kInProgress,  // still running (also "Creating", "Updating", "Deleting", ...)
    kSucceeded,
    kFailed,
    kCanceled,  // ended without doing the work ("Canceled", "Cancelled")
    kUnknown,   // a word not in the table; callers wait as for kInProgress
};

// The state a status word names, compared without regard to letter case.
OperationState ClassifyStatus(const std::string& word);

bool IsTerminal(OperationState state);

// True for answers that say nothing about the operation itself: no answer at
// all (status 0), 408, 429 and every 5xx. A status request answered so is
// asked again, as if the operation were still running.
bool IsTransientStatus(long httpStatus);

// The server's wish of how long to wait, in milliseconds, from the headers of
// its answer: "retry-after-ms", then "x-ms-retry-after-ms", then
// "Retry-After" as seconds or as an HTTP date. -1 when none can be read.
// `headerLine` returns a whole header line ("Retry-After: 5") or "".
int64_t RetryAfterMs(const std::function<std::string(const char* name)>& headerLine);

// The wait before the next status request of one operation: the longest of
// the poll interval, the back-off after `failures` failed requests in a row
// (doubling from the interval, at least 100 ms, at most 60 s) and the
// server's Retry-After.
uint64_t NextPollDelayMs(uint64_t intervalMs, int failures, int64_t retryAfterMs);

}  // namespace azureops
