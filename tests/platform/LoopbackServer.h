// A real HTTP(S) server on 127.0.0.1 for the HTTP client tests. It records
// every request it receives (method, target, headers, body, the client's port
// as a stand-in for the connection) and answers with the reply set for the
// path, or 200 "{}".
#pragma once

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
    std::string target;
    std::string body;
    std::multimap<std::string, std::string> headers;  // names in lower case
    int clientPort = 0;

    // Every value sent for a header name (any case).
    std::vector<std::string> Header(const std::string& name) const;
};

struct CannedReply {
    int status = 200;
    std::string body = "{}";
    std::vector<std::pair<std::string, std::string>> headers;
};

class LoopbackServer {
public:
    enum class Scheme { Http, Https };

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

    void SetReply(const std::string& path, CannedReply reply);
    std::vector<RecordedRequest> Requests() const;
    // Distinct client-side ports seen, i.e. TCP connections that carried a request.
    size_t Connections() const;

private:
    void Answer(const httplib::Request& request, httplib::Response& response);

    Scheme scheme_;
    TempDir dir_;
    std::string caFile_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, CannedReply> replies_;
    std::vector<RecordedRequest> requests_;
};

// A local port that refuses connections for as long as the object lives.
// A port that accepts connections (the kernel completes the handshake from
// the listen backlog) and never says a word: the server that hangs a client
// without time limits.
class SilentPort {
public:
    SilentPort();
    ~SilentPort();
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    int Port() const { return port_; }

private:
    int socket_ = -1;
    int port_ = 0;
};

class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int Port() const { return port_; }

private:
    int socket_ = -1;
    int port_ = 0;
};

}  // namespace kxtest
