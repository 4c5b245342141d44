// kxsnap's host records: an in-memory KXSO::SnapInfo per device or snapshot,
// the job utility, the job's log and the arrays its records are filed under.
//
// These are the host semantics the plug-in relies on across jobs:
//  - setSnapFlags(mask) turns the given bits on; it never clears others;
//  - getSnapMetadata(id) answers a value stored with setSnapMetadata, else
//    one stored with setSnapTransientMetadata during the same job;
//  - setArrayName files the record under that array: getArrayId then answers
//    a non-zero id (the same for every record of the job filed under that
//    name) and getArrayInfo that name;
//  - generateSnapUuid answers the record's own UUID, the same on every call.
// An operation named in the record's refusal list answers failure and
// changes nothing, so that tests can play a host that refuses.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kxso/KXSOSnapInfo.h"

namespace kxsnap {

struct LogEntry {
    int record;  // index of the record in the job
    int level;
    std::string tag;
    std::string text;
};

// Every logMessage line of a job, in order. An optional listener sees each
// line as it arrives (live progress, a log file). A log that does not retain
// its lines only passes them on: a per-device map of 31 disks writes tens of
// thousands of them, which a host streaming them elsewhere need not keep.
// Thread-safe.
class JobLog {
public:
    using Listener = std::function<void(const LogEntry&)>;
    explicit JobLog(bool retain = true) : retain_(retain) {}
    void Add(LogEntry entry);
    void SetListener(Listener listener);
    std::vector<LogEntry> Entries() const;
    // Hands the retained lines over, leaving none.
    std::vector<LogEntry> TakeEntries();

private:
    const bool retain_;
    mutable std::mutex mutex_;
    std::vector<LogEntry> entries_;
    Listener listener_;
};

// The arrays of one job: name to id, ids from 1 up.
class JobArrays {
public:
    void Seed(const std::string& name, int id);
    int IdFor(const std::string& name);

private:
    std::mutex mutex_;
    std::map<std::string, int> ids_;
};

// Every field a host keeps for a record. Optional texts are absent until set:
// an absent one makes its getter fail.
struct RecordData {
    std::optional<std::string> sourceDevicePath;
    std::optional<std::string> snapName;
    int64_t snapId = 0;
    int arrayId = 0;
    std::optional<std::string> arrayName;
    short snapEngineId = 0;
    uint64_t snapFlags = 0;
    uint32_t snapOptions = 0;
    int cloneIndex = 0;
    int status = 0;
    std::string mappedDevicePath;
    std::string revertedDevicePath;
    std::map<int, std::string> metadata;
    std::map<int, std::string> transientMetadata;
    int errorCode = 0;
    std::string errorText;
    std::map<std::string, int> config;
    std::optional<std::string> snapUuid;
    std::set<std::string> refuse;
    std::vector<int> statusHistory;
};

// The names of SnapInfo's operations, for refusal lists.
const std::set<std::string>& SnapInfoOperationNames();

// The array description a record lends to the plug-in (getArrayInfo).
class HostArrayInfo;

class HostRecord : public KXSO::SnapInfo {
public:
    HostRecord(int index, RecordData data, JobLog& log, JobArrays& arrays);
    // Virtual for the tests' subclasses; its slots follow SnapInfo's own.
    virtual ~HostRecord();

    const RecordData& data() const { return data_; }
    RecordData& data() { return data_; }
    void ClearError();

    int setSnapName(const std::string& name) override;
    int setArrayName(const std::string& name) override;
    bool isSnapOptionSet(uint32_t option) override;
    int getStatus() override;
    int setStatus(int status) override;
    int setRevertedDevicePath(const std::string& path) override;
    int setMappedDevicePath(const std::string& path) override;
    int setSnapMetadata(int id, const std::string& value) override;
    int setError(int code, const std::string& text) override;
    int getError(int* code, std::string* text, int* reserved) override;
    void logMessage(int level, const char* tag, const char* format, ...) override
        __attribute__((format(printf, 4, 5)));
    int getCloneIndex() override;
    int setSnapEngineId(short engineId) override;
    short getSnapEngineId() override;
    int getConfigValue(const std::string& key, int* value) override;
    int setSnapTransientMetadata(int id, const std::string& value) override;
    int getArrayId() override;
    bool isSnapFlagSet(uint64_t mask) override;
    int setSnapFlags(uint64_t flags) override;
    uint64_t getSnapFlags() override;
    int64_t getSnapId() override;
    bool getSnapName(std::string& name) override;
    bool getArrayInfo(KXSO::ArrayInfo** info) override;
    void releaseArrayInfo(KXSO::ArrayInfo* info) override;
    bool getSourceDevicePath(std::string& path) override;
    bool getMappedDevicePath(std::string& path) override;
    bool getSnapMetadata(int id, std::string& value) override;
    bool getSnapMetadataString(int id, std::string& value) override;
    bool generateSnapUuid(const std::string& separator, uint64_t* reserved,
                          std::string& uuid) override;

private:
    bool Refuses(const char* operation) const { return data_.refuse.count(operation) != 0; }
    bool LookupMetadata(int id, std::string& value) const;

    int index_;
    RecordData data_;
    JobLog& log_;
    JobArrays& arrays_;
    std::vector<std::unique_ptr<HostArrayInfo>> lentArrayInfos_;
};

class HostUtil final : public KXSO::KXOSUtil {
public:
    explicit HostUtil(long long jobId) : jobId_(jobId) {}
    long long getJobId() override { return jobId_; }

private:
    long long jobId_;
};

// A random UUID (version 4) in its canonical form.
std::string NewUuid();

}  // namespace kxsnap
