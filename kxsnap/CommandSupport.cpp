#include "kxsnap/CommandSupport.h"

#include <iostream>

#include <unistd.h>

#include "kxsnap/CommandLine.h"
#include "kxsnap/Errors.h"
#include "kxsnap/Progress.h"

namespace kxsnap {

SessionOptions ToSessionOptions(const GlobalOptions& options) {
    SessionOptions session;
    session.catalogPath = options.catalogPath;
    session.pluginPath = options.pluginPath;
    session.busyTimeoutMs = options.lockTimeoutMs;
    session.verbose = options.verbose;
    session.progress = !options.json && CanDrawStatusLine();
    session.progressLines = !session.progress;
    session.announceJobs = true;
    session.arrayConfig = ParseArrayConfig(options.arrayConfig);
    return session;
}

bool Confirm(const std::string& command, const std::string& heading,
             const std::vector<CatalogEntry>& entries,
             const std::function<std::string(const CatalogEntry&)>& describe, bool confirmed) {
    std::cerr << heading << "\n";
    for (const auto& entry : entries)
        std::cerr << "  - " << describe(entry) << "\n";
    if (confirmed)
        return true;
    if (!isatty(STDIN_FILENO))
        throw UsageError(command + " was not confirmed: confirm with --yes when not on a terminal");
    std::cerr << "Type 'yes' to go on: " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "yes" || answer == "y";
}

}  // namespace kxsnap
