// Why a job failed, in the words a person needs: the plug-in's record error
// says "Failed to connect to Azure", its log says which endpoint and what
// happened on the wire. This reads the log lines as they pass and keeps the
// last request the plug-in gave up on.
#pragma once

#include <mutex>
#include <string>

#include "kxsnap/HostRecord.h"

namespace kxsnap {

class FailureCause {
public:
    void Observe(const LogEntry& entry);
    // "cannot reach https://127.0.0.1:9: connection refused", or "" when no
    // request was given up on.
    std::string Summary() const;

private:
    mutable std::mutex mutex_;
    std::string summary_;
};

// "https://host:port" of a URL.
std::string EndpointOf(const std::string& url);

// curl's "Couldn't connect to server" as "connection refused", and so on.
std::string PlainTransferError(const std::string& curlText);

}  // namespace kxsnap
