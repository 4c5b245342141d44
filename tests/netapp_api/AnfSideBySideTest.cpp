// Requests of the NetApp Files client sent side by side: formed with the
// transport's header lines and retry policy, answered with the status, body
// and header lines a plain request leaves, and logged without the token.
#include <memory>
#include <string>
#include <vector>

#include "AnfApiTestSupport.h"

namespace anftest {
namespace {

// One request; the client's state right after its answer was taken.
class OneRequestJob : public KXFanOut::Job {
public:
    OneRequestJob(TestableAPI& api, int type, std::string path)
        : api_(api), type_(type), path_(std::move(path)) {}
    bool Next(KXFanOut::Request& request) override {
        if (asked_) {
            return false;
        }
        asked_ = true;
        formed = api_.formSideBySideRequest(type_, path_, "", request);
        request_ = request;
        return formed;
    }
    void OnAnswer(const KXFanOut::Answer& answer) override {
        sent = api_.takeSideBySideAnswer(path_, request_, answer);
        status = api_.lastHttpStatus();
        response = api_.LastResponse();
        link = api_.asyncOperationLink();
    }

    bool formed = false;
    bool sent = false;
    int64_t status = 0;
    std::string response;
    std::string link;

private:
    TestableAPI& api_;
    int type_;
    std::string path_;
    bool asked_ = false;
    KXFanOut::Request request_;
};

class AnfSideBySideTest : public AnfApiTest {
protected:
    std::vector<KXFanOut::Job*> Pointers() {
        std::vector<KXFanOut::Job*> pointers;
        for (auto& job : jobs_) {
            pointers.push_back(job.get());
        }
        return pointers;
    }
    OneRequestJob& Add(int type, const std::string& path) {
        jobs_.push_back(std::make_unique<OneRequestJob>(*api_, type, path));
        return *jobs_.back();
    }
    std::string LogText() const {
        std::string text;
        for (const kxsnap::LogEntry& entry : host_.Log()) {
            text += entry.text + "\n";
        }
        return text;
    }
    std::vector<std::unique_ptr<OneRequestJob>> jobs_;
};

TEST_F(AnfSideBySideTest, AnswersLeaveStatusBodyAndLinkAsAPlainRequestDoes) {
    Connect();
    server_.OnFixed("GET", "/read", {200, R"({"n":1})", {}});
    server_.OnFixed("PUT", "/create", WithLink(202, server_));
    server_.OnFixed("GET", "/missing", {404, ErrorBody("NotFound"), {}});
    OneRequestJob& read = Add(KXSnapRESTAPI_ANF::REQ_GET, "read");
    OneRequestJob& create = Add(KXSnapRESTAPI_ANF::REQ_PUT, "create");
    OneRequestJob& missing = Add(KXSnapRESTAPI_ANF::REQ_GET, "missing");

    EXPECT_EQ(3u, api_->runSideBySide(Pointers()));

    EXPECT_TRUE(read.sent);
    EXPECT_EQ(200, read.status);
    EXPECT_EQ(R"({"n":1})", read.response);
    EXPECT_TRUE(create.sent);
    EXPECT_EQ(202, create.status);
    EXPECT_EQ(Relative(OperationPath()) + "?api-version=2019-11-01", create.link);
    EXPECT_FALSE(missing.sent);
    EXPECT_EQ(404, missing.status);
    EXPECT_NE(std::string::npos, missing.response.find("NotFound"));
    EXPECT_TRUE(Logged("Error while processing the request. URL[" + server_.Url() + "missing]",
                       "KXSnapRESTAPI_ANF"));
}

TEST_F(AnfSideBySideTest, RequestsCarryTheHeaderLinesOfAPlainRequest) {
    Connect();
    const std::string plainPath =
        std::string("/subscriptions/") + kSubscription +
        "/resourceGroups/rg/providers/Microsoft.Network/networkInterfaces";
    server_.OnFixed("GET", plainPath, {200, R"({"value":[]})", {}});
    server_.OnFixed("GET", "/side", {200, "{}", {}});
    AnfJson::Value nics;
    ASSERT_EQ(0, api_->rest_getAllNICInfo({kSubscription, "rg"}, nics));
    Add(KXSnapRESTAPI_ANF::REQ_GET, "side");
    api_->runSideBySide(Pointers());
    const auto plain = server_.RequestsTo(plainPath);
    const auto side = server_.RequestsTo("/side");
    ASSERT_EQ(1u, plain.size());
    ASSERT_EQ(1u, side.size());
    for (const char* name : {"content-type", "accept", "user-agent", "authorization"}) {
        EXPECT_EQ(plain[0].Values(name), side[0].Values(name)) << name;
    }
    EXPECT_EQ("application/json", side[0].Header("accept"));
}

TEST_F(AnfSideBySideTest, FailedAnswersAreRetriedAndTheTokenNeverLogged) {
    api_->enableLogging();
    Connect();
    server_.On("GET", "/flaky",
               Sequence({{503, std::string("{\"echo\":\"Bearer ") + kToken + "\"}", {}},
                         {200, std::string("{\"token\":\"") + kToken + "\"}", {}}}));
    OneRequestJob& flaky = Add(KXSnapRESTAPI_ANF::REQ_GET, "flaky");

    api_->runSideBySide(Pointers());

    EXPECT_TRUE(flaky.sent);
    EXPECT_EQ(2u, server_.RequestsTo("/flaky").size());
    EXPECT_TRUE(Logged("Response for URL [" + server_.Url() + "flaky]", "KXSnapRESTAPI_ANF"));
    EXPECT_EQ(std::string::npos, LogText().find(kToken));
}

TEST_F(AnfSideBySideTest, NothingIsFormedBeforeConnect) {
    api_->rest_initializeClient();
    OneRequestJob& early = Add(KXSnapRESTAPI_ANF::REQ_GET, "early");
    api_->runSideBySide(Pointers());
    EXPECT_FALSE(early.formed);
    EXPECT_TRUE(server_.Requests().empty());
    EXPECT_TRUE(Logged("Error:Connect module has to be called before making any queries.",
                       "KXSnapRESTAPI_ANF"));
}

}  // namespace
}  // namespace anftest
