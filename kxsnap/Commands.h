// kxsnap's subcommands. Each answers the process exit status.
#pragma once

#include <string>

namespace kxsnap {

// Exit statuses besides the plug-in's own result codes (0, 1, 2).
constexpr int kExitUnusableJob = 3;
constexpr int kExitUsage = 64;

struct RunOptions {
    std::string jobFile;  // "-" reads standard input
    std::string pluginPath;
};
int RunCommand(const RunOptions& options);

struct DemoOptions {
    std::string pluginPath;
};
int DemoCommand(const DemoOptions& options);

}  // namespace kxsnap
