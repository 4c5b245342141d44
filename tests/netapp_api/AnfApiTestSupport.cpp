#include "AnfApiTestSupport.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace anftest {

std::string PoolId(const std::string& pool) {
    return std::string("/subscriptions/") + kSubscription + "/resourceGroups/" + kResourceGroup +
           "/providers/Microsoft.NetApp/netAppAccounts/" + kAccount + "/capacityPools/" + pool;
}

std::string VolumeId(const std::string& volume, const std::string& pool) {
    return PoolId(pool) + "/volumes/" + volume;
}

std::string SnapshotId(const std::string& snapshot, const std::string& volume) {
    return VolumeId(volume) + "/snapshots/" + snapshot;
}

std::string Relative(const std::string& resourceId) {
    return resourceId.substr(1);
}

namespace {

nlohmann::json ReadExample(const std::string& file) {
    std::ifstream in(std::string(KXSO_AZURE_EXAMPLES_DIR) + "/" + file);
    if (!in)
        throw std::runtime_error("missing example " + file);
    std::stringstream text;
    text << in.rdbuf();
    return nlohmann::json::parse(text.str());
}

}  // namespace

nlohmann::json ExampleBody(const std::string& file, const std::string& status) {
    return ReadExample(file).at("responses").at(status).at("body");
}

nlohmann::json ExampleParameter(const std::string& file, const std::string& name) {
    return ReadExample(file).at("parameters").at(name);
}

nlohmann::json VolumeDocument(const std::string& volume, const std::string& creationToken,
                              const std::vector<std::string>& mountAddresses,
                              const std::string& pool) {
    nlohmann::json document = ExampleBody("netapp-2019-11-01-Volumes_Get.json", "200");
    document["id"] = VolumeId(volume, pool);
    document["name"] = std::string(kAccount) + "/" + pool + "/" + volume;
    document["properties"]["creationToken"] = creationToken;
    nlohmann::json targets = nlohmann::json::array();
    for (const std::string& address : mountAddresses) {
        targets.push_back({{"mountTargetId", "mt-" + address},
                           {"fileSystemId", document["properties"]["fileSystemId"]},
                           {"ipAddress", address}});
    }
    document["properties"]["mountTargets"] = targets;
    document["properties"]["protocolTypes"] = {"NFSv3"};
    return document;
}

AzureNetApp::KxSnapANFSnapObj SnapObjFor(KXSO::SnapInfo* record, const std::string& snapName) {
    AzureNetApp::KxSnapANFSnapObj snapObj(record);
    snapObj.snapName = snapName;
    AzureNetApp::AzureNetAppSnapshotInfo& volume = snapObj.snapshotInfo;
    volume.subscriptionId = kSubscription;
    volume.resourceGroupName = kResourceGroup;
    volume.netappAccountName = kAccount;
    volume.capacityPoolName = kPool;
    volume.volumeName = kVolume;
    volume.location = "eastus";
    volume.fileSystemId = "9760acf5-4638-11e7-9bdb-020073ca7778";
    return snapObj;
}

std::string OperationPath(const std::string& operation) {
    return std::string("/subscriptions/") + kSubscription +
           "/providers/Microsoft.NetApp/locations/eastus/operationResults/" + operation;
}

cloudtest::Reply WithLink(int status, const cloudtest::LoopbackServer& server,
                          const std::string& operation, const std::string& body) {
    return {status,
            body,
            {{"Azure-AsyncOperation",
              server.Url() + Relative(OperationPath(operation)) + "?api-version=2019-11-01"}}};
}

std::string ErrorBody(const std::string& code, const std::string& message) {
    return nlohmann::json{{"error", {{"code", code}, {"message", message}}}}.dump();
}

void ReplySlot::Set(cloudtest::Reply reply) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->reply = std::move(reply);
}

cloudtest::LoopbackServer::Route ReplySlot::Route() const {
    std::shared_ptr<State> state = state_;
    return [state](const cloudtest::SeenRequest&) {
        std::lock_guard<std::mutex> lock(state->mutex);
        return state->reply;
    };
}

cloudtest::LoopbackServer::Route Sequence(std::vector<cloudtest::Reply> replies) {
    auto shared = std::make_shared<std::vector<cloudtest::Reply>>(std::move(replies));
    auto next = std::make_shared<std::atomic<size_t>>(0);
    return [shared, next](const cloudtest::SeenRequest&) {
        const size_t index = next->fetch_add(1);
        return (*shared)[std::min(index, shared->size() - 1)];
    };
}

cloudtest::Reply OperationStatus(const std::string& status, const std::string& errorCode) {
    nlohmann::json document = {{"id", OperationPath()},
                               {"name", "op-1"},
                               {"status", status},
                               {"startTime", "2026-12-06T10:00:00Z"},
                               {"percentComplete", 100}};
    if (!errorCode.empty()) {
        document["error"] = {{"code", errorCode}, {"message", "operation failed"}};
    }
    return {200, document.dump(), {}};
}

void AnfApiTest::SetUp() {
    host_.Add(cloudtest::AnfRecord(1));
    api_ = std::make_unique<TestableAPI>(&host_.Record(0));
    // Monitoring must never wait in a test.
    api_->SetRetries(5, 0);
}

void AnfApiTest::Connect() {
    server_.OnFixed("GET", "/metadata/identity/oauth2/token",
                    {200, cloudtest::TokenDocument(kToken), {}});
    AzureNetApp::AzureInstanceInfo instance;
    ASSERT_EQ(0, api_->rest_connectToArray(instance));
}

std::vector<cloudtest::SeenRequest> AnfApiTest::ArmRequests() const {
    std::vector<cloudtest::SeenRequest> arm;
    for (const cloudtest::SeenRequest& request : server_.Requests()) {
        if (request.path.rfind("/metadata/", 0) != 0)
            arm.push_back(request);
    }
    return arm;
}

}  // namespace anftest
