// What the managed-disk drivers share to send one request per record side by
// side (KXFanOut): log lines a record's step writes, held until the records
// are written in array order, and the delete of one resource as a job.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KXSOSnapAzureFrame.h"
#include "platform/KXFanOut.h"

// A record's own log lines, written when the walk reaches the record: lines
// of records the walk never reaches are never written.
class RecordLines {
public:
    void Add(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void WriteTo(ManagedDiskCall& call);

private:
    std::vector<std::pair<int, std::string>> lines_;
};

// One DELETE of a resource by path, as DeleteAzureResource sends it.
class ResourceDeleteJob : public KXFanOut::Job {
public:
    ResourceDeleteJob(KxSnapAzureAPI& api, std::string resourcePath);
    bool Next(KXFanOut::Request& request) override;
    void OnAnswer(const KXFanOut::Answer& answer) override;

    const std::string& ResourcePath() const { return path_; }
    // Whether the DELETE went out at all, and its outcome (a resource that
    // is already gone counts as deleted).
    bool Sent() const { return sent_; }
    const CUxError& Result() const { return result_; }

private:
    KxSnapAzureAPI& api_;
    std::string path_;
    AzureAPIRequest request_;
    bool asked_ = false;
    bool sent_ = false;
    CUxError result_;
};

template <typename JobType>
std::vector<KXFanOut::Job*> JobPointers(const std::vector<std::unique_ptr<JobType>>& jobs) {
    std::vector<KXFanOut::Job*> pointers;
    pointers.reserve(jobs.size());
    for (const auto& job : jobs) {
        pointers.push_back(job.get());
    }
    return pointers;
}

// The server's wish of how long to wait before asking again, -1 when none.
int64_t RetryAfterMsOf(const KXFanOut::Answer& answer);
