// kxsnap: takes, mounts, reverts and deletes Azure snapshots through the
// plug-in, keeping a catalogue of them; `kxsnap demo` shows it all on a local
// emulator.
#include <iostream>

#include <CLI/CLI.hpp>

#include "kxsnap/Commands.h"

namespace {

void AddGlobalOptions(CLI::App& app, kxsnap::GlobalOptions& options) {
    // The last of repeated options wins, so that a script can override a default it was given.
    app.add_option("--catalog", options.catalogPath,
                   "Catalogue file (default: $XDG_DATA_HOME/kxsnap/catalog.db)")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--plugin", options.pluginPath,
                   "Plug-in library (default: the one installed beside kxsnap)")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--json", options.json, "Print JSON for scripts instead of text");
    app.add_flag("-v,--verbose", options.verbose,
                 "Show the plug-in's log lines on standard error as they arrive");
    app.add_option("--lock-timeout", options.lockTimeoutMs,
                   "Milliseconds to wait for another kxsnap writing the catalogue")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--array-config", options.arrayConfig,
                   "KEY=NUMBER array setting handed to the plug-in (repeatable), e.g. "
                   "SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY=5");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kxsnap: take, mount, revert and delete Azure snapshots through the plug-in"};
    app.require_subcommand(1);
    app.fallthrough();
    kxsnap::GlobalOptions global;
    AddGlobalOptions(app, global);

    std::vector<std::string> targets;
    CLI::App* backup = app.add_subcommand(
        "backup",
        "Snapshot block devices (/dev/sdc) or mounted NetApp Files exports (a mount "
        "point or IP:/path) as one job per kind");
    backup->add_option("target", targets, "Devices or NFS exports")->required();

    CLI::App* list = app.add_subcommand("list", "List the snapshots in the catalogue");

    std::vector<std::string> names;
    bool confirmed = false;
    auto snapshotArgument = [&names](CLI::App* command) {
        command->add_option("snapshot", names, "Snapshot names, ids, UUIDs or unique prefixes")
            ->required();
    };
    CLI::App* mount = app.add_subcommand(
        "mount",
        "Make snapshots usable: attach a disk made from each (new /dev/sdX) or create "
        "a clone volume (export path)");
    snapshotArgument(mount);
    CLI::App* unmount =
        app.add_subcommand("unmount", "Remove the disks or clone volumes made by mount");
    snapshotArgument(unmount);
    CLI::App* revert = app.add_subcommand(
        "revert", "Put the source disks or volumes back to the snapshots (destructive)");
    snapshotArgument(revert);
    revert->add_flag("-y,--yes", confirmed, "Do not ask for confirmation");
    for (CLI::App* command : {unmount, revert})
        command->add_flag("--force", global.force,
                          "Go on although the device or clone export is mounted or held");
    CLI::App* remove = app.add_subcommand(
        "delete", "Delete snapshots in Azure; the catalogue forgets those the plug-in deleted");
    snapshotArgument(remove);
    remove->add_flag("--force", global.force,
                     "Unmount a mounted snapshot (or one whose state is unknown) first");
    CLI::App* reconcile = app.add_subcommand(
        "reconcile", "Mark NetApp Files snapshots deleted outside kxsnap as gone");

    kxsnap::RunOptions run;
    CLI::App* runCommand = app.add_subcommand(
        "run", "Run a job file: call the named plug-in operations on its records");
    runCommand->add_option("job", run.jobFile, "Job file (JSON), or - for standard input")
        ->required();

    kxsnap::DemoOptions demo;
    CLI::App* demoCommand = app.add_subcommand(
        "demo", "Show a whole managed-disk and NetApp Files lifecycle on a local Azure emulator");
    demoCommand->add_option("--emulator", demo.emulatorPath,
                            "azure-emulator program (default: beside kxsnap, else on PATH)");
    demoCommand->add_flag("--keep", demo.keep, "Keep the sandbox folder afterwards");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kxsnap::kExitUsage;
    }

    if (*backup)
        return kxsnap::BackupCommand(global, targets);
    if (*list)
        return kxsnap::ListCommand(global);
    if (*mount)
        return kxsnap::MountCommand(global, names);
    if (*unmount)
        return kxsnap::UnmountCommand(global, names);
    if (*revert)
        return kxsnap::RevertCommand(global, names, confirmed);
    if (*remove)
        return kxsnap::DeleteCommand(global, names);
    if (*reconcile)
        return kxsnap::ReconcileCommand(global);
    if (*runCommand) {
        run.pluginPath = global.pluginPath;
        return kxsnap::RunCommand(run);
    }
    if (*demoCommand) {
        demo.pluginPath = global.pluginPath;
        demo.verbose = global.verbose;
        return kxsnap::DemoCommand(demo);
    }
    return kxsnap::kExitUsage;
}
