// The one retry policy of one-shot requests, shared by both REST paths at
// their single send points: a decision function (send again after this
// answer or this transport failure? after how long?) and one loop that waits.
//
// Retried: connections refused or timed out, send and receive errors, empty
// replies, bodies cut short, stalls, and HTTP 408, 429, 500, 502, 503, 504
// (token requests to the metadata service also 404 and 410). Never
// certificate, name resolution or URL errors. The server's Retry-After
// (seconds or an HTTP date), retry-after-ms or x-ms-retry-after-ms is
// honoured; otherwise the wait grows exponentially from about one second with
// jitter, capped. A wait that would pass the deadline, or a server asking for
// more than the cap, ends the retries at once: the last answer stands.
//
// Whether a request may go out again depends on what it does: reads,
// deletes and creations by name are replayed; a POST or PATCH only when it
// provably never left (connection refused or timed out); some requests
// (updates that must be re-read and re-applied, status polls whose loop is
// the retry) never. Time, sleeping and jitter are injectable for tests.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <string>

class KXLibCurl;

namespace KXRetry {

using Millis = std::chrono::milliseconds;

enum class Replay {
    Always,       // the same request may go out again as it is
    IfNeverSent,  // only when it provably never reached the server
    Never,        // one attempt; the caller finds out what happened
};

struct Request {
    int method = 0;  // _http_req_type_
    Replay replay = Replay::Always;
    // A managed-identity token request to the metadata service, which
    // answers 404 and 410 while it is starting or being updated.
    bool metadataToken = false;
};

// Always for GET, HEAD, PUT and DELETE; IfNeverSent for POST and PATCH.
Replay DefaultReplay(int method);

struct Policy {
    int maxRetries = 4;
    Millis baseDelay{1000};
    Millis maxDelay{60000};
    // Everything (attempts and waits) ends within this time of the first attempt.
    Millis budget{1800 * 1000};
    // The metadata service may answer 410 for this long while it is updated.
    Millis tokenGoneWindow{70 * 1000};

    // "nAzureRESTAPIMaxRetries" (4), "nAzureRESTAPIMaxRetryDelaySecs" (60)
    // and, as the budget, "nAzureRESTAPIReqWaitTimeSecs" (1800), section
    // "Ferrolink". The base delay never exceeds the cap.
    static Policy FromSettings();
};

// What one attempt came to.
struct Outcome {
    CURLcode transport = CURLE_OK;
    long status = 0;
    bool requestSent = true;  // any byte of the request went out
    std::string retryAfter;   // header values, "" when absent
    std::string retryAfterMs;
    std::string xmsRetryAfterMs;
};

struct Decision {
    bool retry = false;
    Millis wait{0};
    std::string reason;  // why not, or what is retried; for the log
};

bool IsRetriableTransport(CURLcode code);
bool IsRetriableStatus(long status, bool metadataToken);
// The wait the server asked for; false when it asked for none readable.
// `wallNow` is the current calendar time, for HTTP dates.
bool ServerDelay(const Outcome& outcome, std::time_t wallNow, Millis& delay);

// The decision after a failed attempt. `retriesDone` counts the retries
// already made, `elapsed` the time since the first attempt, `jitter` is a
// factor in [0.8, 1.3].
Decision Decide(const Policy& policy, const Request& request, const Outcome& outcome,
                int retriesDone, Millis elapsed, double jitter, std::time_t wallNow);

// The longest one attempt may take when `elapsed` of the policy's budget is
// spent: what is left, but never less than a short floor, so that a deadline
// nearly spent (or set to 0) still lets one request through.
Millis AttemptTimeLimit(const Policy& policy, Millis elapsed);

// Sources of time and chance; empty members take the real ones.
struct Clock {
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<std::time_t()> wallNow;
    std::function<void(Millis)> sleep;
    std::function<double()> jitter;
};

using LogSink = std::function<void(const std::string& line)>;

// The outcome of the client's last attempt.
Outcome OutcomeOf(const KXLibCurl& client);

// The log lines of a decision to send `url` again (retry number `retriesDone` + 1)
// and of one not to; shared by every sending loop.
std::string RetryLine(const std::string& url, const Decision& decision, int retriesDone,
                      const Policy& policy);
std::string NotRetryingLine(const std::string& url, const Decision& decision);

// Sends through `client` (KXLibCurlSendHttpReq with the client's headers
// as they are) until the request succeeds or the policy says stop. A
// request that is not Replay::Always goes over a new connection, so that
// libcurl cannot silently re-send it after a reused connection broke. The
// client then holds the last answer. Each retry, and each decision not to
// retry a retriable failure, is told to `log`.
bool Send(KXLibCurl& client, const Request& request, const std::string& url, const char* body,
          size_t length, const Policy& policy, const LogSink& log = nullptr,
          const Clock& clock = Clock());

}  // namespace KXRetry
