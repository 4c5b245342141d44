// Independent requests sent side by side: one libcurl multi handle, driven on
// the calling thread (no thread is started), with at most N transfers under
// way at once over a pool of at most N connections. Both REST paths use it
// where a call sends the same kind of request for many records.
//
// Work comes as jobs, one per record, started in array order. A job is a
// chain of requests: each answer decides the job's next request, so a job
// never has more than one transfer under way and its own requests keep their
// order. With N = 1 the jobs run one after another, each to its end: the
// requests go out exactly as a plain loop over the records sends them.
//
// A job that ends the way a loop over the records would stop at (the first
// failure of a walk that stops) keeps any later job from starting and from
// sending a further request; what such later jobs already had under way is
// finished and answered to them, so that the caller can undo what Azure made
// for records the loop would never have reached.
//
// The retry policy applies to each transfer as in KXRetry::Send, except that
// its wait is a time before which the transfer is not sent again: the loop
// never sleeps while other transfers are under way. As there, each attempt
// ends by the deadline of its request's whole send (never sooner than the
// policy's shortest attempt), and the pooled client then has its own limits
// back. The HTTP version is the
// one libcurl negotiates by itself.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "platform/KXRetryPolicy.h"

class KXLibCurl;

namespace KXFanOut {

using Millis = std::chrono::milliseconds;

// "nAzureRESTAPIMaxParallelRequests" in section "Ferrolink".
constexpr const char* kMaxParallelKey = "nAzureRESTAPIMaxParallelRequests";
// Fits Resource Manager's write and read buckets in one burst.
constexpr size_t kDefaultMaxParallel = 32;
// No setting may open more connections than a host would want to see.
constexpr size_t kMaxParallelCeiling = 256;

// The setting, clamped to [1, kMaxParallelCeiling]; the default when absent.
size_t MaxParallelFromSettings();

struct Request {
    int method = 0;  // _http_req_type_
    std::string url;
    std::string body;                  // sent for POST, PUT and PATCH (and DELETE when not empty)
    std::vector<std::string> headers;  // whole lines
    KXRetry::Request retry;            // its method is set from `method`
    // Sent no earlier than this long after the job asked for it (a poll interval).
    Millis delay{0};
    // Its own connection, closed afterwards, for every attempt: no silent
    // re-send by libcurl on a reused connection that broke.
    bool freshConnection = false;
};

struct Answer {
    CURLcode transport = CURLE_OK;
    long status = 0;
    bool requestSent = false;
    bool hasBody = false;
    std::string body;
    std::vector<std::string> headers;  // whole lines
    std::string errorText;             // libcurl's error text, "" when none

    // A completed transfer with a 2xx status.
    bool Ok() const { return transport == CURLE_OK && status >= 200 && status < 300; }
    // The whole header line named `name` (any letter case, trailing ':'
    // allowed), or nullptr.
    const char* Header(const std::string& name) const;

    // The last answer a client received.
    static Answer Of(const KXLibCurl& client);
};

// One record's chain of requests. Called only on the thread running Run.
class Job {
public:
    virtual ~Job() = default;
    // The job's next request; false when it is done.
    virtual bool Next(Request& request) = 0;
    virtual void OnAnswer(const Answer& answer) = 0;
    // Asked once the job is done: whether a loop over the records would stop here.
    virtual bool StopsTheWalk() const { return false; }
};

struct Options {
    size_t maxParallel = kDefaultMaxParallel;
    KXRetry::Policy policy;
    // Sets up each pooled client (KXLibCurlInit, proxy, trace); false fails
    // the jobs that would have used it.
    std::function<bool(KXLibCurl& client)> configure;
    KXRetry::LogSink log;
    KXRetry::Clock clock;  // now and jitter; never sleeps
};

struct Statistics {
    size_t transfers = 0;        // attempts sent, retries included
    size_t peakUnderWay = 0;     // most transfers under way at one time
    long connectionsOpened = 0;  // over all pooled clients
};

class Runner {
public:
    explicit Runner(Options options);
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // Runs the jobs to their end, in the order given. Returns the index of
    // the first job that stopped the walk, or jobs.size().
    size_t Run(const std::vector<Job*>& jobs);
    const Statistics& Stats() const { return stats_; }

private:
    struct Slot;
    void StartJobs(const std::vector<Job*>& jobs, size_t& nextJob, size_t& stopAt);
    bool Launch(Slot& slot);
    void Finish(Slot& slot, CURLcode result, size_t& stopAt);
    void Advance(Slot& slot, size_t& stopAt);
    int PollTimeoutMs() const;
    std::chrono::steady_clock::time_point Now() const;

    Options options_;
    CURLM* multi_ = nullptr;
    std::vector<Slot> slots_;
    size_t underWay_ = 0;
    Statistics stats_;
};

}  // namespace KXFanOut
