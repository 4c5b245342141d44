#include "LoopbackServer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <regex>
#include <set>
#include <stdexcept>

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kxtest {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (extension == nullptr || X509_add_ext(cert, extension, -1) != 1) {
        throw std::runtime_error("cannot add a certificate extension");
    }
    X509_EXTENSION_free(extension);
}

struct KeyAndCertificate {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    ~KeyAndCertificate() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

// A self-signed certificate for 127.0.0.1, valid for the next hour.
void MakeSelfSigned(KeyAndCertificate& pair) {
    pair.key = EVP_EC_gen("P-256");
    pair.cert = X509_new();
    if (pair.key == nullptr || pair.cert == nullptr) {
        throw std::runtime_error("cannot create a key or a certificate");
    }
    X509_set_version(pair.cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(pair.cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(pair.cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(pair.cert), 3600);
    X509_set_pubkey(pair.cert, pair.key);
    X509_NAME* name = X509_get_subject_name(pair.cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(pair.cert, name);
    AddExtension(pair.cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(pair.cert, NID_subject_alt_name, "IP:127.0.0.1");
    if (X509_sign(pair.cert, pair.key, EVP_sha256()) == 0) {
        throw std::runtime_error("cannot sign the certificate");
    }
}

void WritePem(X509* cert, const std::string& path) {
    FILE* file = fopen(path.c_str(), "w");
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    const int written = PEM_write_X509(file, cert);
    fclose(file);
    if (written != 1) {
        throw std::runtime_error("cannot write the certificate");
    }
}

}  // namespace

std::vector<std::string> RecordedRequest::Values(const std::string& name) const {
    std::vector<std::string> values;
    const auto range = headers.equal_range(Lower(name));
    for (auto it = range.first; it != range.second; ++it) {
        values.push_back(it->second);
    }
    return values;
}

std::string RecordedRequest::Header(const std::string& name) const {
    const std::vector<std::string> values = Values(name);
    return values.empty() ? std::string() : values.front();
}

LoopbackServer::LoopbackServer(Scheme scheme) : scheme_(scheme) {
    if (scheme == Scheme::Https) {
        KeyAndCertificate pair;
        MakeSelfSigned(pair);
        caFile_ = dir_ / "ca.pem";
        WritePem(pair.cert, caFile_);
        server_ = std::make_unique<httplib::SSLServer>(pair.cert, pair.key);
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    if (!server_->is_valid()) {
        throw std::runtime_error("cannot set up the loopback server");
    }
    // Short keep-alive so that a worker never holds up the server's stop for long.
    server_->set_keep_alive_timeout(1);
    // Headers and body go out in separate writes; without this, Nagle and the
    // client's delayed ACK add 40 ms to every request on a reused connection.
    server_->set_tcp_nodelay(true);
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        Answer(request, response);
    };
    server_->Get(".*", handler);
    server_->Post(".*", handler);
    server_->Put(".*", handler);
    server_->Patch(".*", handler);
    server_->Delete(".*", handler);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("cannot bind the loopback server");
    }
    // The socket listens already; requests queue until the loop takes them.
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() is a no-op until the loop runs, so a test that ends at once
    // would leave the loop waiting for ever.
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

LoopbackServer::~LoopbackServer() {
    server_->stop();
    thread_.join();
}

std::string LoopbackServer::Url(const std::string& path) const {
    return std::string(scheme_ == Scheme::Https ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::SetRequestsPerConnection(size_t count) {
    server_->set_keep_alive_max_count(count);
}

void LoopbackServer::SetReply(const std::string& path, CannedReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[path] = std::move(reply);
}

void LoopbackServer::SetDefaultReply(CannedReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    defaultReply_ = std::move(reply);
}

void LoopbackServer::On(const std::string& method, const std::string& pathPattern, Route route) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_.push_back({method, pathPattern, std::move(route)});
}

void LoopbackServer::OnFixed(const std::string& method, const std::string& pathPattern,
                             CannedReply reply) {
    On(method, pathPattern, [reply](const RecordedRequest&) { return reply; });
}

std::vector<RecordedRequest> LoopbackServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<RecordedRequest> LoopbackServer::RequestsTo(const std::string& pathPart) const {
    std::vector<RecordedRequest> matching;
    for (const RecordedRequest& request : Requests()) {
        if (request.path.find(pathPart) != std::string::npos) {
            matching.push_back(request);
        }
    }
    return matching;
}

size_t LoopbackServer::Connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::set<int> ports;
    for (const RecordedRequest& request : requests_) {
        ports.insert(request.clientPort);
    }
    return ports.size();
}

LoopbackServer::Route LoopbackServer::RouteFor(const httplib::Request& request) const {
    for (const RouteEntry& entry : routes_) {
        if (entry.method == request.method &&
            std::regex_match(request.path, std::regex(entry.pathPattern))) {
            return entry.route;
        }
    }
    const auto found = replies_.find(request.path);
    const CannedReply reply = found == replies_.end() ? defaultReply_ : found->second;
    return [reply](const RecordedRequest&) { return reply; };
}

void LoopbackServer::Answer(const httplib::Request& request, httplib::Response& response) {
    RecordedRequest record;
    record.method = request.method;
    record.path = request.path;
    record.target = request.target;
    record.body = request.body;
    record.clientPort = request.remote_port;
    for (const auto& header : request.headers) {
        record.headers.emplace(Lower(header.first), header.second);
    }
    Route route;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(record);
        route = RouteFor(request);
    }
    // Outside the lock: a route may take its time or look at the requests.
    const CannedReply reply = route(record);
    response.status = reply.status;
    for (const auto& header : reply.headers) {
        response.set_header(header.first.c_str(), header.second);
    }
    if (!reply.body.empty()) {
        response.set_content(reply.body, "application/json");
    }
}

LocalPort::LocalPort(bool listening) {
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        (listening && listen(socket_, 16) != 0) ||
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (socket_ >= 0) {
            close(socket_);
        }
        throw std::runtime_error("cannot open a local port");
    }
    port_ = ntohs(address.sin_port);
}

LocalPort::~LocalPort() {
    close(socket_);
}

}  // namespace kxtest
