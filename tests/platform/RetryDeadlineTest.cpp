// Every attempt of a send ends by the send's deadline: a server slower than
// the time left is not waited for up to the configured request limit, and
// the client's own limits hold again once the send is over.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "platform/KXLibCurl.h"
#include "platform/KXRetryPolicy.h"
#include "support/TestEnv.h"

namespace {

using KXRetry::Millis;
using kxtest::CannedReply;
using kxtest::LoopbackServer;

Millis Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - start);
}

TEST(RetryDeadlineTest, AnAttemptEndsWithTheSendsDeadlineAndTheLimitsComeBack) {
    // The request limit alone would wait for the slow answer.
    kxtest::ScopedSettings settings("[Ferrolink]\nnAzureHttpRequestTimeoutSecs=60\n");
    LoopbackServer server;
    server.On("GET", "/slow", [](const kxtest::RecordedRequest&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3500));
        return CannedReply{};
    });
    KXLibCurl client;
    ASSERT_TRUE(client.KXLibCurlInit("content-type: application/json"));
    KXRetry::Policy policy;
    policy.budget = Millis(2500);
    KXRetry::Request request;
    request.method = HTTP_REQ_GET;

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(KXRetry::Send(client, request, server.Url("/slow"), nullptr, 0, policy));
    EXPECT_EQ(CURLE_OPERATION_TIMEDOUT, client.GetCurlResult());
    EXPECT_GE(Since(start), Millis(2400));
    EXPECT_LT(Since(start), Millis(3400));
    // Past the deadline nothing is sent again.
    EXPECT_EQ(1u, server.RequestsTo("/slow").size());

    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.KXLibCurlSendHttpReq(HTTP_REQ_GET, server.Url("/slow"), nullptr, 0));
    EXPECT_GE(Since(start), Millis(3400));
}

}  // namespace
