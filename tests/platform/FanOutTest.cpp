// The fan-out over a real loopback server: N = 1 sends exactly what a plain
// loop sends, in its order; more width sends side by side but never more
// than N at once and over no more than N connections; a retry waits as a
// not-before time while the other jobs go on; a job that stops the walk keeps
// later jobs from starting.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "platform/KXFanOut.h"
#include "platform/KXLibCurl.h"
#include "support/TestEnv.h"

namespace {

using kxtest::CannedReply;
using kxtest::LoopbackServer;
using Clock = std::chrono::steady_clock;

// A job of `steps` GETs of /job<i>/step<k>, stopping after the first answer
// that is not 2xx; it stops the walk when told to or when an answer failed.
class ChainJob : public KXFanOut::Job {
public:
    ChainJob(const LoopbackServer& server, int id, int steps, bool stopsWalk = false)
        : server_(server), id_(id), steps_(steps), stopsWalk_(stopsWalk) {}

    bool Next(KXFanOut::Request& request) override {
        if (sent_ == steps_ || failed_) {
            return false;
        }
        request = KXFanOut::Request();
        request.method = HTTP_REQ_GET;
        request.url = server_.Url("/job" + std::to_string(id_) + "/step" + std::to_string(sent_++));
        return true;
    }
    void OnAnswer(const KXFanOut::Answer& answer) override {
        statuses.push_back(answer.status);
        bodies.push_back(answer.body);
        failed_ = failed_ || !answer.Ok();
    }
    bool StopsTheWalk() const override { return stopsWalk_ || failed_; }

    std::vector<long> statuses;
    std::vector<std::string> bodies;

private:
    const LoopbackServer& server_;
    int id_;
    int steps_;
    bool stopsWalk_;
    int sent_ = 0;
    bool failed_ = false;
};

KXFanOut::Options OptionsOf(size_t width) {
    KXFanOut::Options options;
    options.maxParallel = width;
    options.policy.baseDelay = KXFanOut::Millis(50);
    return options;
}

std::vector<KXFanOut::Job*> Pointers(std::vector<ChainJob>& jobs) {
    std::vector<KXFanOut::Job*> pointers;
    for (ChainJob& job : jobs) {
        pointers.push_back(&job);
    }
    return pointers;
}

std::vector<std::string> Paths(const LoopbackServer& server) {
    std::vector<std::string> paths;
    for (const kxtest::RecordedRequest& request : server.Requests()) {
        paths.push_back(request.path);
    }
    return paths;
}

// Answers every request with its own path after `latency`, counting how many
// requests the server holds at once.
struct SlowEcho {
    std::chrono::milliseconds latency;
    std::atomic<int> now{0};
    std::atomic<int> peak{0};

    void Install(LoopbackServer& server) {
        server.SetRequestsPerConnection(100);
        server.On("GET", ".*", [this](const kxtest::RecordedRequest& request) {
            const int inside = ++now;
            int seen = peak.load();
            while (inside > seen && !peak.compare_exchange_weak(seen, inside)) {
            }
            std::this_thread::sleep_for(latency);  // the server's own service time
            --now;
            CannedReply reply;
            reply.body = request.path;
            return reply;
        });
    }
};

std::vector<ChainJob> MakeJobs(const LoopbackServer& server, int count, int steps) {
    std::vector<ChainJob> jobs;
    for (int i = 0; i < count; ++i) {
        jobs.emplace_back(server, i, steps);
    }
    return jobs;
}

TEST(FanOutTest, WidthOneSendsEveryRequestOfOneJobBeforeTheNextJob) {
    LoopbackServer server;
    SlowEcho echo{std::chrono::milliseconds(0)};
    echo.Install(server);
    std::vector<ChainJob> jobs = MakeJobs(server, 4, 3);
    KXFanOut::Runner runner(OptionsOf(1));
    EXPECT_EQ(runner.Run(Pointers(jobs)), 4u);

    std::vector<std::string> expected;
    for (int job = 0; job < 4; ++job) {
        for (int step = 0; step < 3; ++step) {
            expected.push_back("/job" + std::to_string(job) + "/step" + std::to_string(step));
        }
    }
    EXPECT_EQ(Paths(server), expected);
    EXPECT_EQ(runner.Stats().peakUnderWay, 1u);
    EXPECT_EQ(server.Connections(), 1u);
    EXPECT_EQ(jobs[2].bodies,
              (std::vector<std::string>{"/job2/step0", "/job2/step1", "/job2/step2"}));
}

TEST(FanOutTest, NeverMoreThanTheWidthUnderWayOrConnected) {
    LoopbackServer server;
    SlowEcho echo{std::chrono::milliseconds(40)};
    echo.Install(server);
    std::vector<ChainJob> jobs = MakeJobs(server, 12, 2);
    KXFanOut::Runner runner(OptionsOf(4));
    const auto start = Clock::now();
    runner.Run(Pointers(jobs));
    const auto took = Clock::now() - start;

    EXPECT_EQ(server.Requests().size(), 24u);
    EXPECT_EQ(runner.Stats().peakUnderWay, 4u);
    EXPECT_EQ(echo.peak.load(), 4);
    EXPECT_LE(server.Connections(), 4u);
    EXPECT_LE(runner.Stats().connectionsOpened, 4);
    // 24 requests of 40 ms, four at a time: six rounds, far from 24.
    EXPECT_LT(took, std::chrono::milliseconds(24 * 40 / 2));
    for (size_t i = 0; i < jobs.size(); ++i) {
        const std::string prefix = "/job" + std::to_string(i) + "/step";
        EXPECT_EQ(jobs[i].bodies, (std::vector<std::string>{prefix + "0", prefix + "1"}));
    }
}

TEST(FanOutTest, RetryWaitsAsNotBeforeTimeWhileOtherJobsGoOn) {
    LoopbackServer server;
    std::mutex mutex;
    std::map<std::string, std::vector<Clock::time_point>> seen;
    std::atomic<int> throttled{0};
    server.On("GET", ".*", [&](const kxtest::RecordedRequest& request) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            seen[request.path].push_back(Clock::now());
        }
        CannedReply reply;
        if (request.path == "/job0/step0" && throttled++ == 0) {
            reply.status = 429;
            reply.headers = {{"retry-after-ms", "300"}};
        }
        return reply;
    });
    std::vector<ChainJob> jobs;
    jobs.emplace_back(server, 0, 1);
    jobs.emplace_back(server, 1, 5);
    KXFanOut::Runner runner(OptionsOf(2));
    runner.Run(Pointers(jobs));

    ASSERT_EQ(seen["/job0/step0"].size(), 2u);
    const auto firstTry = seen["/job0/step0"][0];
    const auto retry = seen["/job0/step0"][1];
    EXPECT_GE(retry - firstTry, std::chrono::milliseconds(300));
    // The other job's whole chain ran during the wait.
    ASSERT_EQ(seen["/job1/step4"].size(), 1u);
    EXPECT_LT(seen["/job1/step4"][0], retry);
    EXPECT_EQ(jobs[0].statuses, (std::vector<long>{200}));
}

TEST(FanOutTest, RequestThatMustNotBeRepeatedIsAnsweredWithItsFailure) {
    LoopbackServer server;
    server.SetDefaultReply(CannedReply{503, "{}", {}});
    struct OncePost : KXFanOut::Job {
        std::string url;
        bool sent = false;
        long status = 0;
        bool Next(KXFanOut::Request& request) override {
            if (sent) {
                return false;
            }
            sent = true;
            request.method = HTTP_REQ_POST;
            request.url = url;
            request.body = "{}";
            request.retry.replay = KXRetry::Replay::IfNeverSent;
            return true;
        }
        void OnAnswer(const KXFanOut::Answer& answer) override { status = answer.status; }
    } job;
    job.url = server.Url("/revert");
    KXFanOut::Runner runner(OptionsOf(4));
    runner.Run({&job});
    EXPECT_EQ(job.status, 503);
    EXPECT_EQ(server.Requests().size(), 1u);
}

class StopTest : public ::testing::TestWithParam<size_t> {};

TEST_P(StopTest, JobThatStopsTheWalkKeepsLaterJobsFromStartingAndFromGoingOn) {
    LoopbackServer server;
    server.OnFixed("GET", "/job1/step0", CannedReply{409, "{}", {}});
    SlowEcho echo{std::chrono::milliseconds(20)};
    echo.Install(server);
    std::vector<ChainJob> jobs = MakeJobs(server, 6, 2);
    KXFanOut::Runner runner(OptionsOf(GetParam()));
    EXPECT_EQ(runner.Run(Pointers(jobs)), 1u);

    // Earlier jobs end as a loop would have them; the failing job got its answer.
    EXPECT_EQ(jobs[0].statuses, (std::vector<long>{200, 200}));
    EXPECT_EQ(jobs[1].statuses, (std::vector<long>{409}));
    for (size_t i = 2; i < jobs.size(); ++i) {
        // At most the first request of a job already under way, and none
        // beyond the width.
        EXPECT_LE(jobs[i].statuses.size(), i < GetParam() ? 1u : 0u) << "job " << i;
        EXPECT_TRUE(server.RequestsTo("/job" + std::to_string(i) + "/step1").empty());
    }
}

TEST_P(StopTest, JobThatStopsBeforeSendingAnythingKeepsLaterJobsFromStarting) {
    LoopbackServer server;
    SlowEcho echo{std::chrono::milliseconds(20)};
    echo.Install(server);
    std::vector<ChainJob> jobs;
    for (int i = 0; i < 6; ++i) {
        // Job 1 is refused before its first request.
        jobs.emplace_back(server, i, i == 1 ? 0 : 2, i == 1);
    }
    KXFanOut::Runner runner(OptionsOf(GetParam()));
    EXPECT_EQ(runner.Run(Pointers(jobs)), 1u);
    EXPECT_EQ(jobs[0].statuses, (std::vector<long>{200, 200}));
    for (size_t i = 2; i < jobs.size(); ++i) {
        EXPECT_TRUE(jobs[i].statuses.empty()) << "job " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, StopTest, ::testing::Values(1u, 4u));

TEST(FanOutTest, WidthComesFromTheSettingsWithinBounds) {
    {
        kxtest::ScopedSettings settings("[Ferrolink]\n");
        EXPECT_EQ(KXFanOut::MaxParallelFromSettings(), 32u);
    }
    {
        kxtest::ScopedSettings settings("[Ferrolink]\nnAzureRESTAPIMaxParallelRequests=1\n");
        EXPECT_EQ(KXFanOut::MaxParallelFromSettings(), 1u);
    }
    {
        kxtest::ScopedSettings settings("[Ferrolink]\nnAzureRESTAPIMaxParallelRequests=0\n");
        EXPECT_EQ(KXFanOut::MaxParallelFromSettings(), 1u);
    }
}

}  // namespace
