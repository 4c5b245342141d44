// Runs a job: builds the host records, calls the named exports in order on the
// same records, stops after the first non-zero result.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kxsnap/HostRecord.h"
#include "kxsnap/JobFile.h"
#include "kxsnap/PluginLoader.h"

namespace kxsnap {

struct JobOutcome {
    std::vector<OperationResult> results;
    std::vector<RecordData> records;
    std::vector<LogEntry> log;  // empty when the lines were only streamed
    // The result of the last operation run (0 when none ran).
    int lastResult = 0;
};

// Whether the outcome carries the job's log lines, or only the listener sees them.
enum class LogLines { kKeep, kStreamOnly };

// Called after every operation with the records as the plug-in left them, so
// that a host can store them before the next operation starts.
using AfterOperation =
    std::function<void(const OperationResult& result, const std::vector<RecordData>& records)>;

// `listener`, when set, sees every log line as the plug-in writes it.
// `knownArrays` are the host's arrays from earlier jobs (name to id): a record
// filed under a new array gets an id none of them has.
JobOutcome RunJob(const Plugin& plugin, const Job& job, JobLog::Listener listener = nullptr,
                  const std::map<std::string, int>& knownArrays = {},
                  LogLines lines = LogLines::kKeep, const AfterOperation& afterOperation = nullptr);

}  // namespace kxsnap
