// Every transfer of the fan-out ends by its request's deadline, as a single
// send does: a server slower than the time left is not waited for up to the
// client's configured request limit, and the pooled client has its own
// limits back for whatever it sends next.
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "platform/KXFanOut.h"
#include "platform/KXLibCurl.h"
#include "support/TestEnv.h"

namespace {

using KXFanOut::Millis;
using kxtest::CannedReply;
using kxtest::LoopbackServer;

// Longer than the shortest attempt the deadline leaves, far shorter than the
// configured request limit.
constexpr Millis kServerDelay{2800};

Millis Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - start);
}

class SlowGetJob : public KXFanOut::Job {
public:
    explicit SlowGetJob(std::string url) : url_(std::move(url)) {}
    bool Next(KXFanOut::Request& request) override {
        if (asked_) {
            return false;
        }
        asked_ = true;
        request = KXFanOut::Request();
        request.method = HTTP_REQ_GET;
        request.url = url_;
        return true;
    }
    void OnAnswer(const KXFanOut::Answer& answer) override { transport = answer.transport; }

    CURLcode transport = CURLE_OK;

private:
    std::string url_;
    bool asked_ = false;
};

TEST(FanOutDeadlineTest, ATransferEndsWithItsDeadlineAndThePooledClientGetsItsLimitsBack) {
    // The request limit alone would wait for the slow answers.
    kxtest::ScopedSettings settings("[Ferrolink]\nnAzureHttpRequestTimeoutSecs=60\n");
    LoopbackServer server;
    server.On("GET", "/slow/.*", [](const kxtest::RecordedRequest&) {
        std::this_thread::sleep_for(kServerDelay);
        return CannedReply{};
    });
    KXFanOut::Options options;
    options.maxParallel = 2;
    // A deadline already spent leaves each attempt the shortest time allowed.
    options.policy.budget = Millis(0);
    std::vector<KXLibCurl*> pooled;
    options.configure = [&pooled](KXLibCurl& client) {
        pooled.push_back(&client);
        return client.KXLibCurlInit("content-type: application/json");
    };
    KXFanOut::Runner runner(options);
    SlowGetJob first(server.Url("/slow/1"));
    SlowGetJob second(server.Url("/slow/2"));

    auto start = std::chrono::steady_clock::now();
    runner.Run({&first, &second});
    EXPECT_EQ(CURLE_OPERATION_TIMEDOUT, first.transport);
    EXPECT_EQ(CURLE_OPERATION_TIMEDOUT, second.transport);
    EXPECT_GE(Since(start), Millis(1900));
    EXPECT_LT(Since(start), kServerDelay - Millis(300));
    // Past the deadline nothing is sent again.
    EXPECT_EQ(2u, server.RequestsTo("/slow/").size());

    ASSERT_FALSE(pooled.empty());
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        pooled.front()->KXLibCurlSendHttpReq(HTTP_REQ_GET, server.Url("/slow/3"), nullptr, 0));
    EXPECT_GE(Since(start), kServerDelay - Millis(100));
}

}  // namespace
