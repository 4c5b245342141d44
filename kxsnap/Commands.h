// kxsnap's subcommands. Each answers the process exit status: the plug-in's
// result (0 success, 1 failure, 2 partial), 3 when the job could not run
// (plug-in, catalogue or emulator unusable), 64 for a usage error. Errors are
// one "kxsnap: ..." line on standard error, or with --json a JSON document on
// standard output (see ReportError).
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
    bool json = false;  // errors as the JSON error document (the outcome is JSON anyway)
};
int RunCommand(const RunOptions& options);

// Options every catalogue subcommand shares.
struct GlobalOptions {
    std::string catalogPath;  // empty: $XDG_DATA_HOME/kxsnap/catalog.db
    std::string pluginPath;   // empty: DefaultPluginPath()
    bool json = false;
    bool verbose = false;
    int lockTimeoutMs = 5000;
    // unmount, revert: go on although the device is in use; delete: unmount
    // a mounted snapshot (or one in an unknown state) first.
    bool force = false;
    std::vector<std::string> arrayConfig;  // "KEY=NUMBER"
};

int BackupCommand(const GlobalOptions& options, const std::vector<std::string>& targets);
// `list` narrowed down: every filter that is set must match.
struct ListOptions {
    std::string source;  // the target as given at backup, or its device
    std::string kind;    // disk, netapp
    std::string state;   // ready, mounted, failed, ...
    std::string since;   // taken at or after: 2026-12-06 or 2026-12-06T16:00
    std::string output;  // table (default), json, tsv; --json means json
};
int ListCommand(const GlobalOptions& options, const ListOptions& list);
// Everything the catalogue knows about one snapshot.
int ShowCommand(const GlobalOptions& options, const std::string& name);
// Drops catalogue rows without calling Azure.
int ForgetCommand(const GlobalOptions& options, const std::vector<std::string>& names,
                  bool confirmed);
// Enciphers a proxy password for the settings file.
int EncryptPasswordCommand(const GlobalOptions& options);
int MountCommand(const GlobalOptions& options, const std::vector<std::string>& names);
int UnmountCommand(const GlobalOptions& options, const std::vector<std::string>& names,
                   bool confirmed);
int RevertCommand(const GlobalOptions& options, const std::vector<std::string>& names,
                  bool confirmed);
int DeleteCommand(const GlobalOptions& options, const std::vector<std::string>& names);
int ReconcileCommand(const GlobalOptions& options);

struct DemoOptions {
    std::string pluginPath;
    std::string emulatorPath;  // empty: FindEmulatorProgram()
    bool verbose = false;
    bool keep = false;  // keep the sandbox folder for a look afterwards
};
int DemoCommand(const DemoOptions& options);

}  // namespace kxsnap
