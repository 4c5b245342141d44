#include "RequestLog.h"

#include "Util.h"

namespace azemu {

std::string redactAuthorization(const std::string& value) {
    auto space = value.find(' ');
    if (space == std::string::npos) return "<redacted>";
    return value.substr(0, space) + " <redacted>";
}

uint64_t RequestLog::begin(const HttpRequest& request) {
    RequestRecord r;
    r.timeMs = nowMs();
    r.listener = listenerName(request.listener);
    r.method = request.method;
    r.url = request.target;
    r.path = request.path;
    r.body = request.body;
    for (const auto& [name, value] : request.headers) {
        r.headers.emplace_back(name,
                               iequals(name, "Authorization") ? redactAuthorization(value) : value);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    r.seq = nextSeq_++;
    entries_.push_back(std::move(r));
    if (entries_.size() > kCapacity) entries_.pop_front();
    return entries_.back().seq;
}

void RequestLog::finish(uint64_t seq, int status, int faultId) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->seq == seq) {
            it->status = status;
            it->faultId = faultId;
            return;
        }
    }
}

std::vector<RequestRecord> RequestLog::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

void RequestLog::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

}  // namespace azemu
