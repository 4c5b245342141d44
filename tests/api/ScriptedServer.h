// A plain-HTTP server on loopback that answers GETs with scripted bodies, for
// status documents the emulator has no reason to produce (lower-case states,
// states that never end, broken documents). With a `greeting` it first
// answers that once with 200 (not counted in Served): the VM description a
// client reads when the server stands in for its management endpoint.
#pragma once

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

namespace apitest {

class ScriptedServer {
public:
    // Answers are given in order; the last one repeats.
    explicit ScriptedServer(std::vector<std::string> bodies, int status = 200,
                            std::string greeting = "")
        : bodies_(std::move(bodies)), status_(status), greeting_(std::move(greeting)) {
        server_.Get(".*", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!greeting_.empty()) {
                response.set_content(greeting_, "application/json");
                greeting_.clear();
                return;
            }
            const size_t index = std::min(served_, bodies_.size() - 1);
            ++served_;
            response.status = status_;
            response.set_content(bodies_[index], "application/json");
        });
        // One request per connection: a kept-alive connection would hold the
        // server's stop for its whole keep-alive time.
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~ScriptedServer() {
        server_.stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    size_t Served() {
        std::lock_guard<std::mutex> lock(mutex_);
        return served_;
    }

private:
    httplib::Server server_;
    std::vector<std::string> bodies_;
    int status_;
    std::string greeting_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    size_t served_ = 0;
};

}  // namespace apitest
