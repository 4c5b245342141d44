// The job file kxsnap runs: a JSON document naming the operations to call, in
// order, on one array of host records. Other tools write and read this
// format; keep it stable.
//
// {"jobId": 7, "operations": ["kxso_prepareDevices", ...],
//  "records": [{"sourceDevicePath": "/dev/sdc", "snapName": "s1", "snapId": 1,
//               "arrayId": 0, "arrayName": "...", "snapEngineId": 0,
//               "snapFlags": "0x0", "snapOptions": 0, "cloneIndex": 0, "status": 0,
//               "mappedDevicePath": "", "revertedDevicePath": "",
//               "metadata": {"6": "..."}, "transientMetadata": {"102": "..."},
//               "errorCode": 0, "errorText": "", "config": {"KEY": 3},
//               "snapUuid": "...", "refuse": ["setSnapFlags"],
//               "statusHistory": [2, 1]}]}
//
// The output has the same records (plus "statusHistory"), "results" and
// "log", so that an output, given new "operations", feeds the next job.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kxsnap/HostRecord.h"

namespace kxsnap {

struct Job {
    long long jobId = 0;
    std::vector<std::string> operations;
    std::vector<RecordData> records;
};

struct OperationResult {
    std::string operation;
    int result;
};

// Parses a job. On failure answers false with a one-line reason naming the
// offending field ("records[1].snapFlags: ...").
bool ParseJob(const std::string& text, Job& job, std::string& error);
bool ParseRecord(const nlohmann::json& value, RecordData& record, std::string& error);

nlohmann::ordered_json RecordToJson(const RecordData& record);
nlohmann::ordered_json LogEntryToJson(const LogEntry& entry);
nlohmann::ordered_json JobOutputToJson(const std::vector<OperationResult>& results,
                                       const std::vector<RecordData>& records,
                                       const std::vector<LogEntry>& log);

// "0x1000000000000" for 0x1000000000000: flags keep their full 64 bits in
// JSON, which a number would not.
std::string FlagsToText(uint64_t flags);

}  // namespace kxsnap
