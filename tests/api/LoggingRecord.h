// The host record the REST client logs to: kxsnap's own record, with the
// lookups the client's tests make on its log lines.
#pragma once

#include <string>
#include <vector>

#include "support/TestHost.h"

namespace apitest {

class LoggingRecord {
public:
    LoggingRecord() { host_.Add(); }
    KXSO::SnapInfo* get() { return &host_.Record(0); }
    std::vector<kxsnap::LogEntry> Lines() const { return host_.Log(); }
    void Clear() { host_.ClearLog(); }
    // True when some line holds `needle`, or is exactly `text`.
    bool Logged(const std::string& needle) const { return host_.Logged(needle); }
    bool LoggedExactly(const std::string& text) const {
        for (const kxsnap::LogEntry& line : Lines()) {
            if (line.text == text)
                return true;
        }
        return false;
    }
    std::string AllText() const {
        std::string all;
        for (const kxsnap::LogEntry& line : Lines())
            all += line.text + "\n";
        return all;
    }

private:
    kxtest::TestHost host_;
};

}  // namespace apitest
