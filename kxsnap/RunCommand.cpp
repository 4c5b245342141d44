// kxsnap run JOB.json: runs a job file and prints the records afterwards.
#include <fstream>
#include <iostream>
#include <sstream>

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

}  // namespace

int RunCommand(const RunOptions& options) {
    std::string text;
    std::string error;
    Job job;
    if (!ReadJobText(options.jobFile, text, error) || !ParseJob(text, job, error)) {
        std::cerr << "kxsnap: unusable job file " << options.jobFile << ": " << error << "\n";
        return kExitUnusableJob;
    }
    Plugin plugin;
    std::string pluginPath = options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
    if (!plugin.Load(pluginPath, error)) {
        std::cerr << "kxsnap: " << error << "\n";
        return kExitUnusableJob;
    }
    JobOutcome outcome = RunJob(plugin, job);
    // Log lines carry text from Azure and the host: replace what is not UTF-8
    // rather than fail to print the job's outcome.
    std::cout << JobOutputToJson(outcome.results, outcome.records, outcome.log)
                     .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
              << std::endl;
    return outcome.lastResult;
}

}  // namespace kxsnap
