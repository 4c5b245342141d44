#include "CloudTestSupport.h"

#include <chrono>
#include <regex>
#include <stdexcept>

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <strings.h>

namespace cloudtest {

std::string AnfSourcePath(const std::string& share, const std::string& serverAddress) {
    return "{idatype:NFS,type:nfs,lunuuid:\\/" + share + ",targethostname:" + serverAddress + "}";
}

kxsnap::RecordData AnfRecord(int64_t snapId, const std::string& share,
                             const std::string& serverAddress) {
    kxsnap::RecordData data;
    data.sourceDevicePath = AnfSourcePath(share, serverAddress);
    data.snapId = snapId;
    return data;
}

kxsnap::RecordData TaggedRecord(int64_t snapId, const std::string& cloudMetadata,
                                bool withEngineId) {
    kxsnap::RecordData data = AnfRecord(snapId);
    data.metadata[160] = cloudMetadata;
    data.snapFlags = 0x1000000000000ULL;
    data.snapEngineId = withEngineId ? 83 : 0;
    return data;
}

PlatformLog::PlatformLog() : env_("KXSO_LOG_FILE", (dir_ / "kxso.log").c_str()) {}

std::string PlatformLog::Text() const {
    return kxtest::ReadFile(dir_ / "kxso.log");
}

std::string SeenRequest::Header(const std::string& name) const {
    for (const auto& header : headers) {
        if (strcasecmp(header.first.c_str(), name.c_str()) == 0) {
            return header.second;
        }
    }
    return "";
}

bool SeenRequest::HasHeader(const std::string& name) const {
    for (const auto& header : headers) {
        if (strcasecmp(header.first.c_str(), name.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

LoopbackServer::LoopbackServer() : server_(std::make_unique<httplib::Server>()) {
    auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        Handle(request, response);
    };
    server_->Get(".*", handler);
    server_->Post(".*", handler);
    server_->Put(".*", handler);
    server_->Delete(".*", handler);
    server_->Patch(".*", handler);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("loopback server cannot bind");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() before the accept loop runs would not end it.
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

LoopbackServer::~LoopbackServer() {
    server_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void LoopbackServer::On(const std::string& method, const std::string& pathPattern, Route route) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_.push_back({method, pathPattern, std::move(route)});
}

void LoopbackServer::OnFixed(const std::string& method, const std::string& pathPattern,
                             Reply reply) {
    On(method, pathPattern, [reply](const SeenRequest&) { return reply; });
}

std::string LoopbackServer::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

std::vector<SeenRequest> LoopbackServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

std::vector<SeenRequest> LoopbackServer::RequestsTo(const std::string& pathPart) const {
    std::vector<SeenRequest> matching;
    for (const SeenRequest& request : Requests()) {
        if (request.path.find(pathPart) != std::string::npos) {
            matching.push_back(request);
        }
    }
    return matching;
}

void LoopbackServer::Handle(const httplib::Request& request, httplib::Response& response) {
    SeenRequest seen;
    seen.method = request.method;
    seen.path = request.path;
    seen.target = request.target;
    seen.body = request.body;
    for (const auto& header : request.headers) {
        seen.headers.emplace(header.first, header.second);
    }
    Route route;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(seen);
        for (const RouteEntry& entry : routes_) {
            if (entry.method == request.method &&
                std::regex_match(request.path, std::regex(entry.pathPattern))) {
                route = entry.route;
                break;
            }
        }
    }
    Reply reply;
    if (route) {
        reply = route(seen);
    } else {
        reply.status = 404;
        reply.body = R"({"error":{"code":"NotFound","message":"no route"}})";
    }
    response.status = reply.status;
    for (const auto& header : reply.headers) {
        response.set_header(header.first, header.second);
    }
    if (!reply.body.empty()) {
        response.set_content(reply.body, "application/json");
    }
}

std::string TokenDocument(const std::string& token) {
    return nlohmann::json{
        {"access_token", token},      {"refresh_token", ""},
        {"expires_in", "3599"},       {"expires_on", "1506484173"},
        {"not_before", "1506480273"}, {"resource", "https://management.azure.com/"},
        {"token_type", "Bearer"}}
        .dump();
}

std::string InstanceDocument(const std::string& subscription, const std::string& resourceGroup,
                             const std::vector<std::string>& addresses) {
    nlohmann::json interfaces = nlohmann::json::array();
    for (const std::string& address : addresses) {
        interfaces.push_back(
            {{"ipv4",
              {{"ipAddress", {{{"privateIpAddress", address}, {"publicIpAddress", ""}}}},
               {"subnet", {{{"address", "10.20.0.0"}, {"prefix", "24"}}}}}},
             {"ipv6", {{"ipAddress", nlohmann::json::array()}}},
             {"macAddress", "000D3A000001"}});
    }
    return nlohmann::json{{"compute",
                           {{"location", "westeurope"},
                            {"name", "kxvm"},
                            {"resourceGroupName", resourceGroup},
                            {"subscriptionId", subscription},
                            {"vmId", "5c7e1f3a-2b4d-4c6e-8f0a-1b3c5d7e9f0a"}}},
                          {"network", {{"interface", interfaces}}}}
        .dump();
}

}  // namespace cloudtest
