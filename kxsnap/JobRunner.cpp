#include "kxsnap/JobRunner.h"

namespace kxsnap {

JobOutcome RunJob(const Plugin& plugin, const Job& job, JobLog::Listener listener,
                  const std::map<std::string, int>& knownArrays, LogLines lines,
                  const AfterOperation& afterOperation) {
    JobLog log(lines == LogLines::kKeep);
    log.SetListener(std::move(listener));
    JobArrays arrays;
    for (const auto& known : knownArrays)
        arrays.Seed(known.first, known.second);
    std::vector<std::unique_ptr<HostRecord>> records;
    std::vector<KXSO::SnapInfo*> pointers;
    for (size_t i = 0; i < job.records.size(); ++i) {
        records.push_back(
            std::make_unique<HostRecord>(static_cast<int>(i), job.records[i], log, arrays));
        pointers.push_back(records.back().get());
    }
    HostUtil util(job.jobId);

    JobOutcome outcome;
    bool first = true;
    for (const std::string& name : job.operations) {
        DeviceOperation operation = plugin.Operation(name);
        if (!operation)
            break;  // ParseJob only lets device operations through
        if (!first) {
            // A record's error belongs to the operation that set it.
            for (auto& record : records)
                record->ClearError();
        }
        first = false;
        int result = operation(pointers.empty() ? nullptr : pointers.data(),
                               static_cast<int16_t>(pointers.size()), &util);
        outcome.results.push_back({name, result});
        outcome.lastResult = result;
        if (afterOperation) {
            std::vector<RecordData> sofar;
            for (const auto& record : records)
                sofar.push_back(record->data());
            afterOperation(outcome.results.back(), sofar);
        }
        if (result != 0)
            break;
    }
    for (const auto& record : records)
        outcome.records.push_back(std::move(record->data()));
    outcome.log = log.TakeEntries();
    return outcome;
}

}  // namespace kxsnap
