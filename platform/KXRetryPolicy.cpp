#include "platform/KXRetryPolicy.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>

#include "platform/FXString.h"
#include "platform/KXLibCurl.h"
#include "platform/KXPlatformInfo.h"

namespace KXRetry {

namespace {

constexpr const char* kMaxRetriesKey = "nAzureRESTAPIMaxRetries";
constexpr const char* kMaxRetryDelayKey = "nAzureRESTAPIMaxRetryDelaySecs";
constexpr const char* kWaitTimeKey = "nAzureRESTAPIReqWaitTimeSecs";
// No configuration may make one request loop for ever.
constexpr int kRetryCeiling = 100;
// Each attempt ends by the deadline, but gets at least this long.
constexpr Millis kShortestAttempt{2000};

// Gives the client its configured time limits back when a send is over.
class AttemptLimit {
public:
    explicit AttemptLimit(KXLibCurl& client) : client_(client) {}
    ~AttemptLimit() { client_.LimitRequestTime(-1); }
    AttemptLimit(const AttemptLimit&) = delete;
    AttemptLimit& operator=(const AttemptLimit&) = delete;
    void Before(const Policy& policy, Millis elapsed) {
        client_.LimitRequestTime(static_cast<long>(AttemptTimeLimit(policy, elapsed).count()));
    }

private:
    KXLibCurl& client_;
};

// A non-negative whole number of at most nine digits; false otherwise.
bool ParseCount(const std::string& raw, long long& value) {
    const std::string text = FXString::Trim(raw);
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::stoll(text);
    return true;
}

bool HeaderValue(const KXLibCurl& client, const char* name, std::string& value) {
    const char* line = client.GetHttpResponseHeader(name);
    if (line == nullptr) {
        return false;
    }
    const std::string text = line;
    const size_t colon = text.find(':');
    value = colon == std::string::npos ? "" : FXString::Trim(text.substr(colon + 1));
    return true;
}

// True when the request provably never reached the server.
bool NeverSent(const Outcome& outcome) {
    return !outcome.requestSent && (outcome.transport == CURLE_COULDNT_CONNECT ||
                                    outcome.transport == CURLE_OPERATION_TIMEDOUT);
}

std::string WhatFailed(const Outcome& outcome) {
    if (outcome.transport != CURLE_OK) {
        return FXString::Format("transfer error %d (%s)", static_cast<int>(outcome.transport),
                                curl_easy_strerror(outcome.transport));
    }
    return FXString::Format("HTTP status %ld", outcome.status);
}

Millis Backoff(const Policy& policy, int retriesDone, double jitter) {
    const double factor = std::pow(2.0, std::min(retriesDone, 30));
    const double wanted = static_cast<double>(policy.baseDelay.count()) * factor * jitter;
    const double capped = std::min(wanted, static_cast<double>(policy.maxDelay.count()));
    return Millis(static_cast<Millis::rep>(std::max(0.0, capped)));
}

Decision Stop(std::string reason) {
    Decision decision;
    decision.reason = std::move(reason);
    return decision;
}

double RealJitter() {
    std::random_device seed;
    std::mt19937 generator(seed());
    return std::uniform_real_distribution<double>(0.8, 1.3)(generator);
}

}  // namespace

Replay DefaultReplay(int method) {
    return method == HTTP_REQ_POST || method == HTTP_REQ_PATCH ? Replay::IfNeverSent
                                                               : Replay::Always;
}

Policy Policy::FromSettings() {
    Policy policy;
    int32_t retries = policy.maxRetries;
    if (KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, kMaxRetriesKey, retries)) {
        policy.maxRetries = std::clamp<int32_t>(retries, 0, kRetryCeiling);
    }
    int64_t maxDelaySecs = policy.maxDelay.count() / 1000;
    if (KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, kMaxRetryDelayKey, maxDelaySecs)) {
        policy.maxDelay = Millis(std::clamp<int64_t>(maxDelaySecs, 0, 24 * 3600) * 1000);
    }
    uint64_t waitSecs = static_cast<uint64_t>(policy.budget.count() / 1000);
    if (KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, kWaitTimeKey, waitSecs)) {
        policy.budget =
            Millis(static_cast<int64_t>(std::min<uint64_t>(waitSecs, 7 * 24 * 3600)) * 1000);
    }
    policy.baseDelay = std::min(policy.baseDelay, policy.maxDelay);
    return policy;
}

bool IsRetriableTransport(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_CONNECT:     // refused
        case CURLE_OPERATION_TIMEDOUT:  // connect time-out, stall limit, request limit
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:   // empty reply
        case CURLE_PARTIAL_FILE:  // body cut short
            return true;
        default:
            // Certificates, name resolution, malformed URLs, refused bodies:
            // trying again changes nothing.
            return false;
    }
}

bool IsRetriableStatus(long status, bool metadataToken) {
    switch (status) {
        case 408:
        case 429:
        case 500:
        case 502:
        case 503:
        case 504:
            return true;
        case 404:
        case 410:
            return metadataToken;
        default:
            return false;
    }
}

bool ServerDelay(const Outcome& outcome, std::time_t wallNow, Millis& delay) {
    long long value = 0;
    if (ParseCount(outcome.retryAfterMs, value) || ParseCount(outcome.xmsRetryAfterMs, value)) {
        delay = Millis(value);
        return true;
    }
    if (ParseCount(outcome.retryAfter, value)) {
        delay = Millis(value * 1000);
        return true;
    }
    const std::string date = FXString::Trim(outcome.retryAfter);
    if (date.empty()) {
        return false;
    }
    const std::time_t when = curl_getdate(date.c_str(), nullptr);
    if (when < 0) {
        return false;  // unreadable: back off as if the server had said nothing
    }
    delay = Millis(when > wallNow ? static_cast<int64_t>(when - wallNow) * 1000 : 0);
    return true;
}

Decision Decide(const Policy& policy, const Request& request, const Outcome& outcome,
                int retriesDone, Millis elapsed, double jitter, std::time_t wallNow) {
    const bool transportFailed = outcome.transport != CURLE_OK;
    if (!transportFailed && outcome.status >= 200 && outcome.status < 300) {
        return Stop("");
    }
    const bool retriable = transportFailed
                               ? IsRetriableTransport(outcome.transport)
                               : IsRetriableStatus(outcome.status, request.metadataToken);
    if (!retriable) {
        return Stop("");
    }
    const std::string what = WhatFailed(outcome);
    if (request.replay == Replay::Never) {
        return Stop(what + ": this request is not sent again");
    }
    if (request.replay == Replay::IfNeverSent && !NeverSent(outcome)) {
        return Stop(what + ": the request may have reached the server; not sent again");
    }
    const bool metadataUpdating = request.metadataToken && !transportFailed &&
                                  outcome.status == 410 && elapsed < policy.tokenGoneWindow;
    if (retriesDone >= policy.maxRetries && !metadataUpdating) {
        return Stop(what + FXString::Format(": giving up after %d retries", retriesDone));
    }
    Millis wait{0};
    if (ServerDelay(outcome, wallNow, wait)) {
        if (wait > policy.maxDelay) {
            return Stop(what + FXString::Format(": the server asks to wait %lld ms, more than the "
                                                "%lld ms allowed",
                                                static_cast<long long>(wait.count()),
                                                static_cast<long long>(policy.maxDelay.count())));
        }
    } else {
        wait = Backoff(policy, retriesDone, jitter);
    }
    if (elapsed + wait > policy.budget) {
        return Stop(what + FXString::Format(": waiting %lld ms would pass the deadline",
                                            static_cast<long long>(wait.count())));
    }
    Decision decision;
    decision.retry = true;
    decision.wait = wait;
    decision.reason = what;
    return decision;
}

Millis AttemptTimeLimit(const Policy& policy, Millis elapsed) {
    return std::max(policy.budget - elapsed, kShortestAttempt);
}

Outcome OutcomeOf(const KXLibCurl& client) {
    Outcome outcome;
    outcome.transport = client.GetCurlResult();
    outcome.status = client.GetHttpErrorCode();
    outcome.requestSent = client.RequestWasSent();
    HeaderValue(client, "Retry-After", outcome.retryAfter);
    HeaderValue(client, "retry-after-ms", outcome.retryAfterMs);
    HeaderValue(client, "x-ms-retry-after-ms", outcome.xmsRetryAfterMs);
    return outcome;
}

std::string RetryLine(const std::string& url, const Decision& decision, int retriesDone,
                      const Policy& policy) {
    return FXString::Format("Retrying [%s] in [%lld ms] after %s (retry %d of %d)", url.c_str(),
                            static_cast<long long>(decision.wait.count()),
                            decision.reason.c_str(), retriesDone + 1, policy.maxRetries);
}

std::string NotRetryingLine(const std::string& url, const Decision& decision) {
    return "Not retrying [" + url + "]: " + decision.reason;
}

bool Send(KXLibCurl& client, const Request& request, const std::string& url, const char* body,
          size_t length, const Policy& policy, const LogSink& log, const Clock& clock) {
    const auto now = clock.now ? clock.now : [] { return std::chrono::steady_clock::now(); };
    const auto wallNow = clock.wallNow ? clock.wallNow : [] { return std::time(nullptr); };
    const auto jitter = clock.jitter ? clock.jitter : RealJitter;
    const auto sleep =
        clock.sleep ? clock.sleep : [](Millis wait) { std::this_thread::sleep_for(wait); };
    // libcurl itself sends a request again, unasked, when a reused
    // connection dies before any answer: a request that must go out at most
    // once therefore gets a connection of its own, every attempt.
    const bool onceOnly = request.replay != Replay::Always;
    const auto start = now();
    AttemptLimit limit(client);
    for (int retries = 0;; ++retries) {
        if (onceOnly) {
            client.UseFreshConnectionForNextRequest();
        }
        // No attempt runs past the deadline of the whole send.
        limit.Before(policy, std::chrono::duration_cast<Millis>(now() - start));
        if (client.KXLibCurlSendHttpReq(request.method, url, body, length, false, nullptr)) {
            return true;
        }
        const Outcome outcome = OutcomeOf(client);
        const Millis elapsed = std::chrono::duration_cast<Millis>(now() - start);
        const Decision decision =
            Decide(policy, request, outcome, retries, elapsed, jitter(), wallNow());
        if (!decision.retry) {
            if (log && !decision.reason.empty()) {
                log(NotRetryingLine(url, decision));
            }
            return false;
        }
        if (log) {
            log(RetryLine(url, decision, retries, policy));
        }
        sleep(decision.wait);
    }
}

}  // namespace KXRetry
