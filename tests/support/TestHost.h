// An in-process host for tests: a job's records built from RecordData, the
// array the exports take, and the log lines they wrote.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kxsnap/HostRecord.h"

namespace kxtest {

class TestHost {
public:
    explicit TestHost(long long jobId = 0) : util_(jobId) {}

    // Adds a record and answers it.
    kxsnap::HostRecord& Add(kxsnap::RecordData data = {});
    kxsnap::HostRecord& Record(size_t index) { return *records_.at(index); }

    KXSO::SnapInfo** devices() { return pointers_.empty() ? nullptr : pointers_.data(); }
    int16_t count() const { return static_cast<int16_t>(pointers_.size()); }
    KXSO::KXOSUtil* util() { return &util_; }
    // Replaces one entry of the array handed to the plug-in (null entries).
    void SetPointer(size_t index, KXSO::SnapInfo* record) { pointers_.at(index) = record; }

    std::vector<kxsnap::LogEntry> Log() const { return log_.Entries(); }
    void ClearLog() { log_.TakeEntries(); }
    // True when some log line's text contains `text` (and, when given, its tag
    // starts with `tag`).
    bool Logged(const std::string& text, const std::string& tag = "") const;

private:
    kxsnap::JobLog log_;
    kxsnap::JobArrays arrays_;
    kxsnap::HostUtil util_;
    std::vector<std::unique_ptr<kxsnap::HostRecord>> records_;
    std::vector<KXSO::SnapInfo*> pointers_;
};

kxsnap::RecordData DiskRecord(const std::string& device);

}  // namespace kxtest
