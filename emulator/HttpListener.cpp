#include "HttpListener.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace azemu {

namespace {

// A peer that hangs up makes a write raise SIGPIPE; in a server thread that must not end the
// process. Blocking it per thread leaves the process's own disposition alone.
void blockSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int portOf(const sockaddr_storage& addr) {
    if (addr.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
    }
    if (addr.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
    }
    return -1;
}

// The descriptors this process has open, from /proc/self/fd.
std::vector<int> openDescriptors() {
    std::vector<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return fds;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.') fds.push_back(std::atoi(e->d_name));
    }
    closedir(dir);
    return fds;
}

// The library keeps its sockets to itself. Accepted connections are found among the process's
// descriptors by their ports: ours has the listening port locally and a peer.
template <typename Fn>
void forEachAcceptedSocket(int localPort, Fn fn) {
    for (int fd : openDescriptors()) {
        sockaddr_storage local{}, peer{};
        socklen_t ll = sizeof local, pl = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &ll) != 0) continue;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &pl) != 0) continue;
        if (portOf(local) == localPort) fn(fd, portOf(peer));
    }
}

// The library listens with a backlog of 5: a client that opens dozens of
// connections at once (requests sent side by side) would see its surplus
// connection attempts dropped and retried by the kernel a second later. The
// listening socket is found by its port and given a backlog like a real
// front end's.
void widenListenBacklog(int localPort) {
    constexpr int kBacklog = 256;
    for (int fd : openDescriptors()) {
        sockaddr_storage local{};
        socklen_t ll = sizeof local;
        int accepting = 0;
        socklen_t al = sizeof accepting;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &ll) != 0) continue;
        if (portOf(local) != localPort) continue;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &al) == 0 && accepting) {
            listen(fd, kBacklog);
        }
    }
}

// One thread per connection, so that slow handlers (injected delays, settle) never hold up
// other clients; also counts the connections accepted.
class ConnectionThreads : public httplib::TaskQueue {
public:
    explicit ConnectionThreads(std::atomic<uint64_t>& accepted) : accepted_(accepted) {}

    void enqueue(std::function<void()> fn) override {
        ++accepted_;
        std::lock_guard<std::mutex> lock(mutex_);
        reapFinished();
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back({std::thread([fn = std::move(fn), done] {
                                blockSigpipe();
                                fn();
                                *done = true;
                            }),
                            done});
    }

    void shutdown() override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& w : workers_) w.thread.join();
        workers_.clear();
    }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void reapFinished() {
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (*it->done) {
                it->thread.join();
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::atomic<uint64_t>& accepted_;
    std::mutex mutex_;
    std::list<Worker> workers_;
};

HttpRequest toRequest(Listener kind, const httplib::Request& req) {
    HttpRequest r;
    r.listener = kind;
    r.method = req.method;
    r.path = req.path;
    r.target = req.target;
    r.body = req.body;
    for (const auto& [key, value] : req.params) r.query.emplace(key, value);
    for (const auto& [key, value] : req.headers) {
        // The library adds the peer's address as pseudo headers; they were never sent.
        if (key == "REMOTE_ADDR" || key == "REMOTE_PORT" || key == "LOCAL_ADDR" ||
            key == "LOCAL_PORT") {
            continue;
        }
        r.headers.emplace_back(key, value);
    }
    return r;
}

struct FreeSsl {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
};

std::unique_ptr<httplib::Server> makeServer(const TlsIdentity* tls) {
    if (!tls) return std::make_unique<httplib::Server>();
    std::unique_ptr<BIO, FreeSsl> certBio(
        BIO_new_mem_buf(tls->certPem.data(), static_cast<int>(tls->certPem.size())));
    std::unique_ptr<BIO, FreeSsl> keyBio(
        BIO_new_mem_buf(tls->keyPem.data(), static_cast<int>(tls->keyPem.size())));
    std::unique_ptr<X509, FreeSsl> cert(
        PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    std::unique_ptr<EVP_PKEY, FreeSsl> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (!cert || !key) throw std::runtime_error("unusable TLS identity");
    // The server's SSL context takes its own references.
    auto server = std::make_unique<httplib::SSLServer>(cert.get(), key.get());
    if (!server->is_valid()) throw std::runtime_error("TLS server set-up failed");
    return server;
}

}  // namespace

struct HttpListener::Impl {
    Listener kind;
    Handler handler;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::atomic<uint64_t> accepted{0};
    std::atomic<bool> listenReturned{false};
    int port = -1;

    void serve(const httplib::Request& req, httplib::Response& res) {
        HttpResponse out = handler(toRequest(kind, req));
        if (out.transport == Transport::Drop) {
            drop(req);
            return;
        }
        res.status = out.status;
        for (const auto& [key, value] : out.headers) res.set_header(key, value);
        if (out.transport == Transport::Truncate) {
            truncate(res, out);
        } else if (!out.body.empty() || !out.contentType.empty()) {
            res.set_content(out.body, out.contentType);
        }
    }

    void drop(const httplib::Request& req) {
        int fd = req.ssl ? SSL_get_fd(req.ssl) : -1;
        if (fd < 0) {
            forEachAcceptedSocket(port, [&](int candidate, int peerPort) {
                if (peerPort == req.remote_port) fd = candidate;
            });
        }
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    }

    // Announces the whole body, sends half, then gives up: the client sees the connection end
    // in the middle of the body.
    static void truncate(httplib::Response& res, const HttpResponse& out) {
        size_t announced = std::max<size_t>(out.body.size(), 1);
        std::string half = out.body.substr(0, out.body.size() / 2);
        res.set_content_provider(announced,
                                 out.contentType.empty() ? "application/json" : out.contentType,
                                 [half](size_t, size_t, httplib::DataSink& sink) {
                                     if (!half.empty()) sink.write(half.data(), half.size());
                                     return false;
                                 });
    }
};

HttpListener::HttpListener(Listener kind, Handler handler, const TlsIdentity* tls)
    : impl_(std::make_unique<Impl>()) {
    impl_->kind = kind;
    impl_->handler = std::move(handler);
    impl_->server = makeServer(tls);
    auto& server = *impl_->server;
    Impl* impl = impl_.get();
    server.new_task_queue = [impl] { return new ConnectionThreads(impl->accepted); };
    server.set_keep_alive_max_count(1000);
    // Headers and body go out in separate writes; without this, Nagle and the peer's delayed
    // ACK add 40 ms to every answer on a reused connection.
    server.set_tcp_nodelay(true);
    server.set_payload_max_length(64 * 1024 * 1024);
    auto serve = [impl](const httplib::Request& req, httplib::Response& res) {
        impl->serve(req, res);
    };
    server.Get(".*", serve);
    server.Post(".*", serve);
    server.Put(".*", serve);
    server.Patch(".*", serve);
    server.Delete(".*", serve);
    server.Options(".*", serve);
    // A request that announces no body has an empty one; the library would refuse a POST
    // without Content-Length (as `curl -X POST` sends it) before any handler saw it.
    server.set_pre_routing_handler([impl](const httplib::Request& req, httplib::Response& res) {
        bool mayHaveBody = req.method == "POST" || req.method == "PUT" || req.method == "PATCH";
        if (!mayHaveBody || req.has_header("Content-Length") ||
            req.has_header("Transfer-Encoding")) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        impl->serve(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                    std::exception_ptr) {
        res.status = 500;
        res.set_content(R"({"error":{"code":"InternalServerError","message":"Emulator error"}})",
                        "application/json");
    });
}

HttpListener::~HttpListener() { stop(); }

int HttpListener::start() {
    impl_->port = impl_->server->bind_to_any_port("127.0.0.1");
    if (impl_->port <= 0) throw std::runtime_error("cannot bind 127.0.0.1");
    widenListenBacklog(impl_->port);
    Impl* impl = impl_.get();
    impl_->listenReturned = false;
    impl_->thread = std::thread([impl] {
        blockSigpipe();
        impl->server->listen_after_bind();
        impl->listenReturned = true;
    });
    // The library ignores a stop() that comes before its accept loop runs; wait for the loop
    // so that an early stop cannot leave the thread blocked in accept().
    while (!impl_->server->is_running() && !impl_->listenReturned) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return impl_->port;
}

void HttpListener::stop() {
    if (!impl_->thread.joinable()) return;
    impl_->server->stop();
    // Idle keep-alive connections would otherwise hold the shutdown up until they time out.
    forEachAcceptedSocket(impl_->port, [](int fd, int) { ::shutdown(fd, SHUT_RDWR); });
    impl_->thread.join();
}

uint64_t HttpListener::connectionsAccepted() const { return impl_->accepted; }

}  // namespace azemu
