// kxsnap's subcommands. Each answers the process exit status: the plug-in's
// result (0 success, 1 failure, 2 partial), 3 when the job could not run
// (plug-in, catalogue or emulator unusable), 64 for a usage error.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kxsnap {

constexpr int kExitUnusableJob = 3;
constexpr int kExitUsage = 64;

struct RunOptions {
    std::string jobFile;  // "-" reads standard input
    std::string pluginPath;
};
int RunCommand(const RunOptions& options);

// Options every catalogue subcommand shares.
struct GlobalOptions {
    std::string catalogPath;  // empty: $XDG_DATA_HOME/kxsnap/catalog.db
    std::string pluginPath;   // empty: the plug-in beside kxsnap
    bool json = false;
    bool verbose = false;
    int lockTimeoutMs = 5000;
    // unmount, revert: go on although the device is in use; delete: unmount
    // a mounted snapshot (or one in an unknown state) first.
    bool force = false;
    std::vector<std::string> arrayConfig;  // "KEY=NUMBER"
};

int BackupCommand(const GlobalOptions& options, const std::vector<std::string>& targets);
int ListCommand(const GlobalOptions& options);
int MountCommand(const GlobalOptions& options, const std::vector<std::string>& names);
int UnmountCommand(const GlobalOptions& options, const std::vector<std::string>& names);
int RevertCommand(const GlobalOptions& options, const std::vector<std::string>& names,
                  bool confirmed);
int DeleteCommand(const GlobalOptions& options, const std::vector<std::string>& names);
int ReconcileCommand(const GlobalOptions& options);

struct DemoOptions {
    std::string pluginPath;
    std::string emulatorPath;  // empty: azure-emulator beside kxsnap, else on PATH
    bool verbose = false;
    bool keep = false;  // keep the sandbox folder for a look afterwards
};
int DemoCommand(const DemoOptions& options);

}  // namespace kxsnap
