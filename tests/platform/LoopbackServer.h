// A real HTTP(S) server on 127.0.0.1 for the tests of the HTTP clients. It
// records every request it receives (method, target, headers, body, the
// client's port as a stand-in for the connection) and answers from the first
// route whose method and path expression (ECMAScript, whole match) fit, else
// with the reply set for the exact path, else with the default reply.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/TestEnv.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace kxtest {

struct RecordedRequest {
    std::string method;
    std::string path;    // without the query
    std::string target;  // path and query as sent
    std::string body;
    std::multimap<std::string, std::string> headers;  // names in lower case
    int clientPort = 0;

    // Every value sent for a header name (any case); the first, or "".
    std::vector<std::string> Values(const std::string& name) const;
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const { return !Values(name).empty(); }
};

struct CannedReply {
    int status = 200;
    std::string body = "{}";
    std::vector<std::pair<std::string, std::string>> headers;
};

class LoopbackServer {
public:
    enum class Scheme { Http, Https };
    using Route = std::function<CannedReply(const RecordedRequest&)>;

    // Https makes a fresh self-signed certificate for 127.0.0.1 and writes it,
    // as a PEM trust bundle, to CaFile().
    explicit LoopbackServer(Scheme scheme = Scheme::Http);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port><path>" (or https).
    std::string Url(const std::string& path) const;
    const std::string& CaFile() const { return caFile_; }

    // How many requests one connection carries before the server closes it
    // (cpp-httplib's default is 5); set before the requests are sent.
    void SetRequestsPerConnection(size_t count);
    void SetReply(const std::string& path, CannedReply reply);
    void SetDefaultReply(CannedReply reply);
    // Routes may be added while the server runs.
    void On(const std::string& method, const std::string& pathPattern, Route route);
    void OnFixed(const std::string& method, const std::string& pathPattern, CannedReply reply);
    std::vector<RecordedRequest> Requests() const;
    // The requests whose path contains `pathPart`.
    std::vector<RecordedRequest> RequestsTo(const std::string& pathPart) const;
    // Distinct client-side ports seen, i.e. TCP connections that carried a request.
    size_t Connections() const;

private:
    struct RouteEntry {
        std::string method;
        std::string pathPattern;
        Route route;
    };
    void Answer(const httplib::Request& request, httplib::Response& response);
    Route RouteFor(const httplib::Request& request) const;

    Scheme scheme_;
    TempDir dir_;
    std::string caFile_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, CannedReply> replies_;
    CannedReply defaultReply_;
    std::vector<RouteEntry> routes_;
    std::vector<RecordedRequest> requests_;
};

// A local port held for as long as the object lives. Listening, it accepts
// connections (the kernel completes the handshake from the listen backlog)
// and never says a word: the server that hangs a client without time limits.
// Bound but not listening, the kernel refuses every connection to it.
class LocalPort {
public:
    explicit LocalPort(bool listening);
    ~LocalPort();
    LocalPort(const LocalPort&) = delete;
    LocalPort& operator=(const LocalPort&) = delete;
    int Port() const { return port_; }

private:
    int socket_ = -1;
    int port_ = 0;
};

struct SilentPort : LocalPort {
    SilentPort() : LocalPort(true) {}
};
struct RefusingPort : LocalPort {
    RefusingPort() : LocalPort(false) {}
};

}  // namespace kxtest
