// kxsnap run JOB.json: runs a job file and prints the records afterwards.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include <sys/types.h>

#include "kxsnap/CommandLine.h"
#include "kxsnap/Commands.h"
#include "kxsnap/JobRunner.h"

namespace kxsnap {

namespace {

bool ReadJobText(const std::string& path, std::string& text, std::string& error) {
    std::ostringstream content;
    if (path == "-") {
        content << std::cin.rdbuf();
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            error = "cannot read " + path;
            return false;
        }
        content << in.rdbuf();
    }
    text = content.str();
    return true;
}

// Log lines carry text from Azure and the host: replace what is not UTF-8
// rather than fail to print the job's outcome.
std::string ToText(const nlohmann::ordered_json& value, int indent) {
    return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The job's log lines, one JSON object per line in an unnamed temporary
// file, until the outcome is printed: a per-device map of 31 disks writes
// tens of thousands of lines, which need not all sit in memory at once.
class LogSpool {
public:
    LogSpool() : file_(std::tmpfile(), &std::fclose) {}
    bool usable() const { return file_ != nullptr; }

    void Add(const LogEntry& entry) {
        const std::string line = ToText(LogEntryToJson(entry), -1) + "\n";
        std::fwrite(line.data(), 1, line.size(), file_.get());
    }

    // Writes the spooled lines as the items of a JSON array.
    void WriteItems(std::ostream& out) {
        std::fflush(file_.get());
        std::rewind(file_.get());
        char* line = nullptr;
        size_t capacity = 0;
        ssize_t length = 0;
        bool first = true;
        while ((length = getline(&line, &capacity, file_.get())) > 0) {
            out << (first ? "\n    " : ",\n    ");
            out.write(line, line[length - 1] == '\n' ? length - 1 : length);
            first = false;
        }
        std::free(line);
        if (!first)
            out << "\n  ";
    }

private:
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file_;
};

// Prints the outcome as JobOutputToJson would, with the log from the spool.
void PrintOutcome(const JobOutcome& outcome, LogSpool& spool) {
    nlohmann::ordered_json head = JobOutputToJson(outcome.results, outcome.records, {});
    head.erase("log");
    std::string text = ToText(head, 2);
    // Reopen the object after its last member ("records") to add the log.
    text.pop_back();  // the object's closing brace
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::cout << text << ",\n  \"log\": [";
    spool.WriteItems(std::cout);
    std::cout << "]\n}" << std::endl;
}

}  // namespace

int RunCommand(const RunOptions& options) {
    std::string text;
    std::string error;
    Job job;
    if (!ReadJobText(options.jobFile, text, error) || !ParseJob(text, job, error)) {
        return ReportError(options.json, kExitUnusableJob,
                           "unusable job file " + options.jobFile + ": " + error);
    }
    Plugin plugin;
    std::string pluginPath = options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
    if (!plugin.Load(pluginPath, error))
        return ReportError(options.json, kExitUnusableJob, error);
    LogSpool spool;
    if (!spool.usable()) {
        // No temporary file to be had: keep the lines in memory instead.
        JobOutcome outcome = RunJob(plugin, job);
        std::cout << ToText(JobOutputToJson(outcome.results, outcome.records, outcome.log), 2)
                  << std::endl;
        return outcome.lastResult;
    }
    JobOutcome outcome = RunJob(
        plugin, job, [&spool](const LogEntry& entry) { spool.Add(entry); }, {},
        LogLines::kStreamOnly);
    PrintOutcome(outcome, spool);
    return outcome.lastResult;
}

}  // namespace kxsnap
