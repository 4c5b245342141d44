// The record of Azure requests the emulator served, for tests to inspect.
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "EmulatorTypes.h"
#include "HttpTypes.h"

namespace azemu {

class RequestLog {
public:
    // Older entries are dropped past this many, so a long demo does not grow without bound.
    static constexpr size_t kCapacity = 20000;

    uint64_t begin(const HttpRequest& request);
    void finish(uint64_t seq, int status, int faultId);
    std::vector<RequestRecord> entries() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::deque<RequestRecord> entries_;
    uint64_t nextSeq_ = 1;
};

// Authorization carries a bearer token; the log keeps the scheme and hides the rest.
std::string redactAuthorization(const std::string& value);

}  // namespace azemu
