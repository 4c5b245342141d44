// Helpers of the NetApp Files REST client suite: the client with its
// protected state within reach, a fixture that connects it to a loopback
// server playing the metadata service and the Resource Manager, Microsoft's
// example answers, and resource ids.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "CloudTestSupport.h"
#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "support/TestEnv.h"
#include "support/TestHost.h"

namespace anftest {

constexpr const char* kSubscription = "D633CC2E-722B-4AE1-B636-BBD9E4C60ED9";
constexpr const char* kResourceGroup = "myRG";
constexpr const char* kAccount = "account1";
constexpr const char* kPool = "pool1";
constexpr const char* kVolume = "volume1";
constexpr const char* kApiTag = "KXSnapAzureNetapp";
constexpr const char* kToken = "eyJ0eXAiOiJKV1Qi.anf-token.signature";

// The client with its handlers, retry policy and last Azure error in reach.
class TestableAPI : public KXSnapAzureNetAppAPI {
public:
    using KXSnapAzureNetAppAPI::asyncOperationLink;
    using KXSnapAzureNetAppAPI::buildJSONForCreateCloneReq;
    using KXSnapAzureNetAppAPI::KXSnapAzureNetAppAPI;
    using KXSnapAzureNetAppAPI::lastHttpStatus;
    using KXSnapAzureNetAppAPI::matchVolumeFromListCPResponse;
    using KXSnapAzureNetAppAPI::NicCache;
    using KXSnapAzureNetAppAPI::populateNICCacheFromResponse;
    using KXSnapAzureNetAppAPI::processGetInstanceDetailsResp;
    using KXSnapAzureNetAppAPI::SharePathCache;
    void SetRetries(int count, int intervalSeconds) {
        retryCount = count;
        retryInterval = intervalSeconds;
    }
    int RetryCount() const { return retryCount; }
    int RetryInterval() const { return retryInterval; }
    bool Logging() const { return logging; }
    const std::string& LastResponse() const { return response; }
    const AzureNetApp::AzureError& LastAzureError() const { return azureError; }
};

// "/subscriptions/.../volumes/<volume>" of the example account.
std::string VolumeId(const std::string& volume = kVolume, const std::string& pool = kPool);
std::string PoolId(const std::string& pool = kPool);
std::string SnapshotId(const std::string& snapshot, const std::string& volume = kVolume);
// The same without the leading "/": what a request path starts with.
std::string Relative(const std::string& resourceId);

// responses.<status>.body of an example file, as JSON.
nlohmann::json ExampleBody(const std::string& file, const std::string& status);
// The request body parameter `name` of an example file.
nlohmann::json ExampleParameter(const std::string& file, const std::string& name);

// A volume as the 2019-11-01 list and read answers carry it (Microsoft's
// Volumes_Get example) with mount targets and protocols added.
nlohmann::json VolumeDocument(const std::string& volume, const std::string& creationToken,
                              const std::vector<std::string>& mountAddresses,
                              const std::string& pool = kPool);

// A work object for the example volume and snapshot `snapName`.
AzureNetApp::KxSnapANFSnapObj SnapObjFor(KXSO::SnapInfo* record, const std::string& snapName);

// Reply with an "Azure-AsyncOperation" header pointing at `server`.
cloudtest::Reply WithLink(int status, const cloudtest::LoopbackServer& server,
                          const std::string& operation = "op-1", const std::string& body = "");
std::string OperationPath(const std::string& operation = "op-1");
std::string ErrorBody(const std::string& code, const std::string& message = "m");

// A route whose answer a test changes between requests.
class ReplySlot {
public:
    void Set(cloudtest::Reply reply);
    cloudtest::LoopbackServer::Route Route() const;

private:
    struct State {
        std::mutex mutex;
        cloudtest::Reply reply;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Answers the replies in turn, the last one for ever after.
cloudtest::LoopbackServer::Route Sequence(std::vector<cloudtest::Reply> replies);
// An operation status document.
cloudtest::Reply OperationStatus(const std::string& status, const std::string& errorCode = "");

class AnfApiTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Token from the loopback metadata service; then Resource Manager
    // requests carry it.
    void Connect();
    bool Logged(const std::string& text, const std::string& tag = kApiTag) const {
        return host_.Logged(text, tag);
    }
    std::vector<cloudtest::SeenRequest> ArmRequests() const;

    kxtest::TestHost host_;
    cloudtest::LoopbackServer server_;
    cloudtest::ScopedEndpoints endpoints_{server_};
    cloudtest::PlatformLog platformLog_;
    // Failed requests are retried at once: no test waits.
    kxtest::ScopedSettings settings_{"[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n"};
    std::unique_ptr<TestableAPI> api_;
};

}  // namespace anftest
