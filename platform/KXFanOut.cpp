#include "platform/KXFanOut.h"

#include <algorithm>
#include <memory>
#include <random>

#include "platform/FXString.h"
#include "platform/KXLibCurl.h"
#include "platform/KXPlatformInfo.h"

namespace KXFanOut {

namespace {

constexpr const char* kBlanks = " \t\r\n";
// The longest the loop waits for activity before looking at its clocks again.
constexpr int kMaxPollWaitMs = 1000;

double RealJitter() {
    std::random_device seed;
    std::mt19937 generator(seed());
    return std::uniform_real_distribution<double>(0.8, 1.3)(generator);
}

std::string HeaderName(const std::string& line) {
    const size_t colon = line.find(':');
    return colon == std::string::npos ? std::string()
                                      : FXString::Trim(line.substr(0, colon), kBlanks);
}

Answer FailedToStart(const std::string& why) {
    Answer answer;
    answer.transport = CURLE_FAILED_INIT;
    answer.errorText = why;
    return answer;
}

}  // namespace

size_t MaxParallelFromSettings() {
    int32_t configured = static_cast<int32_t>(kDefaultMaxParallel);
    if (!KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, kMaxParallelKey, configured)) {
        return kDefaultMaxParallel;
    }
    return static_cast<size_t>(
        std::clamp<int32_t>(configured, 1, static_cast<int32_t>(kMaxParallelCeiling)));
}

const char* Answer::Header(const std::string& name) const {
    const std::string wanted = FXString::Trim(FXString::TrimRight(name, ": \t"), kBlanks);
    if (wanted.empty()) {
        return nullptr;
    }
    for (const std::string& line : headers) {
        if (FXString::EqualsNoCase(HeaderName(line), wanted)) {
            return line.c_str();
        }
    }
    return nullptr;
}

Answer Answer::Of(const KXLibCurl& client) {
    Answer answer;
    answer.transport = client.GetCurlResult();
    answer.status = client.GetHttpErrorCode();
    answer.requestSent = client.RequestWasSent();
    size_t length = 0;
    const char* body = client.GetHttpResponse(length, false);
    answer.hasBody = body != nullptr;
    if (body != nullptr) {
        answer.body.assign(body, length);
    }
    answer.headers = client.GetHttpResponseHeaders();
    const char* error = client.GetCurlErrorBuffer();
    answer.errorText = error != nullptr ? error : "";
    return answer;
}

// One place in the pool: a client (its easy handle) and the job using it.
struct Runner::Slot {
    std::unique_ptr<KXLibCurl> client;
    bool configured = false;
    Job* job = nullptr;
    size_t index = 0;
    Request request;
    bool hasRequest = false;  // `request` waits to be sent (again)
    bool underWay = false;
    int retries = 0;
    std::chrono::steady_clock::time_point notBefore;
    std::chrono::steady_clock::time_point firstAttempt;
};

Runner::Runner(Options options) : options_(std::move(options)) {
    options_.maxParallel = std::clamp<size_t>(options_.maxParallel, 1, kMaxParallelCeiling);
    multi_ = curl_multi_init();
    if (multi_ != nullptr) {
        // The connection cache holds no more connections than may be busy at once.
        curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, static_cast<long>(options_.maxParallel));
    }
}

Runner::~Runner() {
    for (Slot& slot : slots_) {
        if (slot.underWay && multi_ != nullptr) {
            curl_multi_remove_handle(multi_, slot.client->EasyHandle());
        }
    }
    // Clients (and with them their handles) go before the multi handle.
    slots_.clear();
    if (multi_ != nullptr) {
        curl_multi_cleanup(multi_);
    }
}

std::chrono::steady_clock::time_point Runner::Now() const {
    return options_.clock.now ? options_.clock.now() : std::chrono::steady_clock::now();
}

size_t Runner::Run(const std::vector<Job*>& jobs) {
    size_t stopAt = jobs.size();
    if (jobs.empty()) {
        return stopAt;
    }
    const size_t width = std::min(options_.maxParallel, jobs.size());
    if (slots_.size() < width) {
        slots_.resize(width);
    }
    size_t nextJob = 0;
    while (true) {
        StartJobs(jobs, nextJob, stopAt);
        const auto now = Now();
        bool busy = false;
        for (Slot& slot : slots_) {
            if (slot.job != nullptr && !slot.underWay && slot.index > stopAt) {
                Advance(slot, stopAt);  // waiting for a retry the walk no longer needs
            }
            if (slot.job != nullptr && slot.hasRequest && !slot.underWay && slot.notBefore <= now) {
                if (!Launch(slot)) {
                    Advance(slot, stopAt);
                }
            }
            busy = busy || slot.job != nullptr;
        }
        if (!busy) {
            // Nothing under way, nothing left to start.
            if (nextJob >= std::min(stopAt, jobs.size())) {
                break;
            }
            continue;
        }
        int running = 0;
        if (multi_ != nullptr) {
            curl_multi_perform(multi_, &running);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg != CURLMSG_DONE) {
                    continue;
                }
                for (Slot& slot : slots_) {
                    if (slot.underWay && slot.client->EasyHandle() == message->easy_handle) {
                        Finish(slot, message->data.result, stopAt);
                        break;
                    }
                }
            }
            // Jobs that follow a finished one start before the loop waits.
            StartJobs(jobs, nextJob, stopAt);
            const bool waiting = std::any_of(slots_.begin(), slots_.end(),
                                             [](const Slot& slot) { return slot.job != nullptr; });
            if (waiting) {
                curl_multi_poll(multi_, nullptr, 0, PollTimeoutMs(), nullptr);
            }
        }
    }
    return stopAt;
}

void Runner::StartJobs(const std::vector<Job*>& jobs, size_t& nextJob, size_t& stopAt) {
    for (Slot& slot : slots_) {
        while (slot.job == nullptr && nextJob < std::min(stopAt, jobs.size())) {
            slot.job = jobs[nextJob];
            slot.index = nextJob++;
            Advance(slot, stopAt);
        }
    }
}

bool Runner::Launch(Slot& slot) {
    if (!slot.client) {
        slot.client = std::make_unique<KXLibCurl>();
    }
    KXLibCurl& client = *slot.client;
    if (!slot.configured) {
        slot.configured =
            options_.configure ? options_.configure(client) : client.KXLibCurlInit("", true, false);
    }
    if (!slot.configured || multi_ == nullptr) {
        slot.job->OnAnswer(FailedToStart("Cannot set up the HTTP client"));
        slot.hasRequest = false;
        return false;
    }
    const Request& request = slot.request;
    client.KXLibCurlFreeHttpHeaderList();
    for (const std::string& line : request.headers) {
        if (!client.KXLibCurlAppendHeader(0, line)) {
            slot.job->OnAnswer(FailedToStart("Cannot set a request header"));
            slot.hasRequest = false;
            return false;
        }
    }
    // As KXRetry::Send: a request that must go out at most once gets a
    // connection of its own on every attempt.
    if (request.freshConnection || request.retry.replay != KXRetry::Replay::Always) {
        client.UseFreshConnectionForNextRequest();
    }
    if (slot.retries == 0) {
        slot.firstAttempt = Now();
    }
    // As KXRetry::Send: no attempt runs past the deadline of the request's
    // whole send (the client's own limits would let it run on).
    client.LimitRequestTime(static_cast<long>(
        KXRetry::AttemptTimeLimit(options_.policy,
                                  std::chrono::duration_cast<Millis>(Now() - slot.firstAttempt))
            .count()));
    const char* body = request.body.empty() ? nullptr : request.body.c_str();
    if (!client.BeginRequest(request.method, request.url, body, request.body.size()) ||
        curl_multi_add_handle(multi_, client.EasyHandle()) != CURLM_OK) {
        client.LimitRequestTime(-1);
        slot.job->OnAnswer(Answer::Of(client));
        slot.hasRequest = false;
        return false;
    }
    slot.underWay = true;
    ++underWay_;
    ++stats_.transfers;
    stats_.peakUnderWay = std::max(stats_.peakUnderWay, underWay_);
    return true;
}

void Runner::Finish(Slot& slot, CURLcode result, size_t& stopAt) {
    KXLibCurl& client = *slot.client;
    curl_multi_remove_handle(multi_, client.EasyHandle());
    slot.underWay = false;
    --underWay_;
    // The pooled client goes to the next transfer with its own limits.
    client.LimitRequestTime(-1);
    const long before = client.ConnectionsOpened();
    const bool ok = client.FinishRequest(result);
    stats_.connectionsOpened += client.ConnectionsOpened() - before;
    if (!ok) {
        const auto now = Now();
        const KXRetry::Decision decision = KXRetry::Decide(
            options_.policy, slot.request.retry, KXRetry::OutcomeOf(client), slot.retries,
            std::chrono::duration_cast<Millis>(now - slot.firstAttempt),
            options_.clock.jitter ? options_.clock.jitter() : RealJitter(),
            options_.clock.wallNow ? options_.clock.wallNow() : std::time(nullptr));
        // Another job may have stopped the walk meanwhile; a record the walk
        // never reaches needs no more answers.
        if (decision.retry && slot.index <= stopAt) {
            if (options_.log) {
                options_.log(
                    KXRetry::RetryLine(slot.request.url, decision, slot.retries, options_.policy));
            }
            ++slot.retries;
            slot.notBefore = now + decision.wait;
            return;
        }
        if (options_.log && !decision.retry && !decision.reason.empty()) {
            options_.log(KXRetry::NotRetryingLine(slot.request.url, decision));
        }
    }
    slot.hasRequest = false;
    slot.job->OnAnswer(Answer::Of(client));
    Advance(slot, stopAt);
}

void Runner::Advance(Slot& slot, size_t& stopAt) {
    slot.hasRequest = false;
    // Past the record at which the walk stops, nothing more is sent.
    if (slot.index <= stopAt && slot.job->Next(slot.request)) {
        slot.request.retry.method = slot.request.method;
        slot.hasRequest = true;
        slot.retries = 0;
        slot.notBefore = Now() + slot.request.delay;
        return;
    }
    if (slot.index < stopAt && slot.job->StopsTheWalk()) {
        stopAt = slot.index;
    }
    slot.job = nullptr;
}

int Runner::PollTimeoutMs() const {
    const auto now = Now();
    long long wait = kMaxPollWaitMs;
    for (const Slot& slot : slots_) {
        if (slot.job != nullptr && slot.hasRequest && !slot.underWay) {
            const auto due = std::chrono::duration_cast<Millis>(slot.notBefore - now).count();
            wait = std::min<long long>(wait, std::max<long long>(due, 0));
        }
    }
    return static_cast<int>(wait);
}

}  // namespace KXFanOut
