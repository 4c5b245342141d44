#include "kxsnap/FailureCause.h"

#include <cstdlib>

namespace kxsnap {

namespace {

// The retry policy's give-up line: "Not retrying [URL]: REASON".
constexpr const char* kGiveUp = "Not retrying [";

std::string CauseOf(const std::string& url, const std::string& reason) {
    const std::string transfer = "transfer error ";
    if (reason.rfind(transfer, 0) == 0) {
        size_t open = reason.find('(');
        size_t close = reason.find(')', open);
        std::string text = open == std::string::npos || close == std::string::npos
                               ? reason
                               : reason.substr(open + 1, close - open - 1);
        return "cannot reach " + EndpointOf(url) + ": " + PlainTransferError(text);
    }
    const std::string http = "HTTP status ";
    if (reason.rfind(http, 0) == 0) {
        long status = std::strtol(reason.c_str() + http.size(), nullptr, 10);
        // Lookups answered 404 are routine; refusals and server faults are causes.
        if (status == 401 || status == 403 || status >= 500)
            return EndpointOf(url) + " answered HTTP " + std::to_string(status);
    }
    return "";
}

}  // namespace

std::string EndpointOf(const std::string& url) {
    size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return url;
    size_t path = url.find_first_of("/?#", scheme + 3);
    return path == std::string::npos ? url : url.substr(0, path);
}

std::string PlainTransferError(const std::string& curlText) {
    struct Plain {
        const char* curl;
        const char* plain;
    };
    static const Plain kPlain[] = {
        {"Couldn't connect to server", "connection refused"},
        {"Couldn't resolve host name", "host name not found"},
        {"Couldn't resolve proxy name", "proxy name not found"},
        {"Timeout was reached", "timed out"},
        {"SSL peer certificate or SSH remote key was not OK", "TLS certificate not trusted"},
        {"Peer certificate cannot be authenticated with given CA certificates",
         "TLS certificate not trusted"},
        {"SSL connect error", "TLS handshake failed"},
        {"Failure when receiving data from the peer", "connection reset"},
        {"Server returned nothing (no headers, no data)", "connection closed without an answer"},
    };
    for (const auto& plain : kPlain) {
        if (curlText == plain.curl)
            return plain.plain;
    }
    return curlText;
}

void FailureCause::Observe(const LogEntry& entry) {
    size_t start = entry.text.find(kGiveUp);
    if (start == std::string::npos)
        return;
    start += std::string(kGiveUp).size();
    size_t end = entry.text.find("]: ", start);
    if (end == std::string::npos)
        return;
    std::string cause = CauseOf(entry.text.substr(start, end - start), entry.text.substr(end + 3));
    if (cause.empty())
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    summary_ = cause;
}

std::string FailureCause::Summary() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return summary_;
}

}  // namespace kxsnap
