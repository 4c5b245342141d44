// Helpers of the cloud suite: NetApp Files host records, the platform log of a
// test, and a loopback HTTP server that plays the metadata service and the
// Resource Manager where the emulator has nothing to offer yet.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kxsnap/HostRecord.h"
#include "support/TestEnv.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace cloudtest {

// A NetApp Files source device name as the host gives it.
std::string AnfSourcePath(const std::string& share, const std::string& serverAddress);
// A record of a mounted NetApp Files share, snapshot number `snapId`.
kxsnap::RecordData AnfRecord(int64_t snapId, const std::string& share = "vol1",
                             const std::string& serverAddress = "10.20.0.9");
// A record that prepare tagged: cloud metadata, the cloud flag and, unless
// `withEngineId` is false, snap-engine id 83.
kxsnap::RecordData TaggedRecord(int64_t snapId, const std::string& cloudMetadata = "100|101",
                                bool withEngineId = true);

// Points the platform log at a file of the test's own.
class PlatformLog {
public:
    PlatformLog();
    std::string Text() const;
    bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

private:
    kxtest::TempDir dir_;
    kxtest::ScopedEnv env_;
};

// One request as the loopback server saw it.
struct SeenRequest {
    std::string method;
    std::string path;    // without the query
    std::string target;  // path and query as sent
    std::map<std::string, std::string> headers;
    std::string body;
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

struct Reply {
    int status = 200;
    std::string body;
    std::map<std::string, std::string> headers;
};

// An HTTP server on 127.0.0.1 that answers each request from the first route
// whose method and path (an ECMAScript expression, whole match) fit; 404
// otherwise. Routes may be added while it runs. Every request is recorded.
class LoopbackServer {
public:
    using Route = std::function<Reply(const SeenRequest&)>;

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    void On(const std::string& method, const std::string& pathPattern, Route route);
    // Answers `reply` every time.
    void OnFixed(const std::string& method, const std::string& pathPattern, Reply reply);
    // "http://127.0.0.1:PORT/"
    std::string Url() const;
    std::vector<SeenRequest> Requests() const;
    std::vector<SeenRequest> RequestsTo(const std::string& pathPart) const;

private:
    struct RouteEntry {
        std::string method;
        std::string pathPattern;
        Route route;
    };
    void Handle(const httplib::Request& request, httplib::Response& response);

    std::unique_ptr<httplib::Server> server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<RouteEntry> routes_;
    std::vector<SeenRequest> seen_;
};

// A token response of the metadata service.
std::string TokenDocument(const std::string& token);
// An instance document of api-version 2019-08-15 with one interface per
// entry of `addresses`.
std::string InstanceDocument(const std::string& subscription, const std::string& resourceGroup,
                             const std::vector<std::string>& addresses);

// Points the management endpoint and the metadata service at `server`.
class ScopedEndpoints {
public:
    explicit ScopedEndpoints(const LoopbackServer& server)
        : arm_("KXSO_ARM_ENDPOINT", server.Url().c_str()),
          imds_("KXSO_IMDS_ENDPOINT", server.Url().c_str()) {}

private:
    kxtest::ScopedEnv arm_;
    kxtest::ScopedEnv imds_;
};

}  // namespace cloudtest
