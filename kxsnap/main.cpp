// kxsnap: takes, mounts, reverts and deletes Azure snapshots through the
// plug-in, keeping a catalogue of them; `kxsnap demo` shows it all on a local
// emulator.
#include <iostream>

#include <CLI/CLI.hpp>

#include "kxsnap/CommandLine.h"
#include "kxsnap/Commands.h"
#include "kxsnap/Errors.h"

namespace {

void AddGlobalOptions(CLI::App& app, kxsnap::GlobalOptions& options) {
    // The last of repeated options wins, so that a script can override a default it was given.
    app.add_option("--catalog", options.catalogPath,
                   "Catalogue file (default: $XDG_DATA_HOME/kxsnap/catalog.db)")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--plugin", options.pluginPath,
                   "Plug-in library (default: beside kxsnap, else the installed one)")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--json", options.json, "Print JSON for scripts instead of text");
    app.add_flag("-v,--verbose", options.verbose,
                 "Show the plug-in's log lines on standard error as they arrive");
    app.add_option("--lock-timeout", options.lockTimeoutMs,
                   "Milliseconds to wait for another kxsnap writing the catalogue")
        ->check(CLI::Validator([](std::string& text) { return kxsnap::LockTimeoutProblem(text); },
                               ""))
        ->type_name("MS");
    // One value per use: "--array-config K=V /dev/sdd" must leave the device to backup.
    app.add_option("--array-config", options.arrayConfig, kxsnap::ArrayConfigHelp())
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(CLI::Validator([](std::string& item) { return kxsnap::ArrayConfigProblem(item); },
                               ""))
        ->type_name("KEY=NUMBER");
}

// The options that take a value, so that the scan below can skip it.
bool TakesValue(const std::string& argument) {
    return argument == "--catalog" || argument == "--plugin" || argument == "--lock-timeout" ||
           argument == "--array-config";
}

// The first word that is not an option or an option's value: the command.
int CommandIndex(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--")
            return i + 1 < argc ? i + 1 : -1;
        if (argument.empty() || argument[0] != '-')
            return i;
        if (TakesValue(argument))
            ++i;
    }
    return -1;
}

bool WantsJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--json")
            return true;
    }
    return false;
}

std::vector<std::string> CommandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands({}))
        names.push_back(command->get_name());
    return names;
}

// `kxsnap help [COMMAND]`, and a command name that does not exist. Answers
// -1 when the command line is for CLI11 to parse.
int HandleCommandWord(CLI::App& app, int argc, char** argv, bool json) {
    int index = CommandIndex(argc, argv);
    if (index < 0)
        return -1;
    std::string word = argv[index];
    std::vector<std::string> names = CommandNames(app);
    if (word == "help") {
        if (index + 1 >= argc || std::string(argv[index + 1]) == "help") {
            std::cout << app.help();
            return 0;
        }
        std::string topic = argv[index + 1];
        for (CLI::App* command : app.get_subcommands({})) {
            if (command->get_name() == topic) {
                std::cout << command->help();
                return 0;
            }
        }
        return kxsnap::ReportError(json, kxsnap::kExitUsage,
                                   kxsnap::UnknownCommandMessage(topic, names));
    }
    if (std::find(names.begin(), names.end(), word) == names.end()) {
        names.push_back("help");
        return kxsnap::ReportError(json, kxsnap::kExitUsage,
                                   kxsnap::UnknownCommandMessage(word, names));
    }
    return -1;
}

std::string ParseErrorText(const CLI::ParseError& error, const std::vector<std::string>& names) {
    if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr &&
        std::string(error.what()).find("subcommand") != std::string::npos) {
        std::string list;
        for (const auto& name : names)
            list += (list.empty() ? "" : ", ") + name;
        return "a command is required: " + list + " (kxsnap help COMMAND tells more)";
    }
    return error.what();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kxsnap: take, mount, revert and delete Azure snapshots through the plug-in"};
    app.require_subcommand(1);
    app.fallthrough();
    kxsnap::GlobalOptions global;
    AddGlobalOptions(app, global);
    app.set_version_flag("--version", std::string(), "kxsnap's and the plug-in's versions");

    std::vector<std::string> targets;
    CLI::App* backup = app.add_subcommand(
        "backup",
        "Snapshot block devices (/dev/sdc) or mounted NetApp Files exports (a mount "
        "point or IP:/path) as one job per kind");
    backup->add_option("target", targets, "Devices or NFS exports")->required();

    kxsnap::ListOptions listOptions;
    CLI::App* list = app.add_subcommand("list", "List the snapshots in the catalogue");
    list->add_option("--source", listOptions.source, "Only snapshots of this target or device");
    list->add_option("--kind", listOptions.kind, "Only disk or netapp snapshots")
        ->check(CLI::IsMember({"disk", "netapp"}));
    list->add_option("--state", listOptions.state,
                     "Only snapshots in this state (ready, mounted, failed, ...)");
    list->add_option("--since", listOptions.since,
                     "Only snapshots taken at or after this UTC time (2026-12-06 or "
                     "2026-12-06T16:00)");
    list->add_option("--output", listOptions.output, "table (default), json or tsv")
        ->check(CLI::IsMember({"table", "json", "tsv"}));

    std::vector<std::string> names;
    bool confirmed = false;
    auto snapshotArgument = [&names](CLI::App* command) {
        command->add_option("snapshot", names, "Snapshot names, ids, UUIDs or unique prefixes")
            ->required();
    };
    std::string shown;
    CLI::App* show = app.add_subcommand(
        "show",
        "Everything known about one snapshot: Azure names and ids, source, times, "
        "state, device, job and log");
    show->add_option("snapshot", shown, "Snapshot name, id, UUID or unique prefix")->required();
    CLI::App* mount = app.add_subcommand(
        "mount",
        "Make snapshots usable: attach a disk made from each (new /dev/sdX) or create "
        "a clone volume (export path)");
    snapshotArgument(mount);
    CLI::App* unmount = app.add_subcommand(
        "unmount",
        "Delete the disks or clone volumes made by mount, with everything written to them");
    snapshotArgument(unmount);
    unmount->add_flag("-y,--yes", confirmed, "Do not ask for confirmation");
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
    CLI::App* forget =
        app.add_subcommand("forget",
                           "Drop snapshots from the catalogue without calling Azure (for rows with "
                           "nothing in Azure, or Azure resources removed by other means)");
    snapshotArgument(forget);
    forget->add_flag("-y,--yes", confirmed, "Do not ask for confirmation");
    CLI::App* reconcile = app.add_subcommand(
        "reconcile", "Mark NetApp Files snapshots deleted outside kxsnap as gone");
    CLI::App* encrypt = app.add_subcommand(
        "encrypt-password",
        "Encipher a proxy password for the settings file (read from the terminal without "
        "echo, or from standard input)");

    kxsnap::RunOptions run;
    CLI::App* runCommand = app.add_subcommand(
        "run", "Run a job file: call the named plug-in operations on its records");
    runCommand->add_option("job", run.jobFile, "Job file (JSON), or - for standard input")
        ->required();

    kxsnap::DemoOptions demo;
    CLI::App* demoCommand = app.add_subcommand(
        "demo", "Show a whole managed-disk and NetApp Files lifecycle on a local Azure emulator");
    demoCommand->add_option(
        "--emulator", demo.emulatorPath,
        "azure-emulator program (default: beside kxsnap, installed, or on PATH)");
    demoCommand->add_flag("--keep", demo.keep, "Keep the sandbox folder afterwards");

    bool json = WantsJson(argc, argv);
    int early = HandleCommandWord(app, argc, argv, json);
    if (early >= 0)
        return early;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion&) {
        std::string text;
        bool loaded = kxsnap::VersionText(global.pluginPath, text);
        std::cout << text << std::endl;
        return loaded ? 0 : kxsnap::kExitUnusableJob;
    } catch (const CLI::ParseError& error) {
        return kxsnap::ReportError(json, kxsnap::kExitUsage,
                                   ParseErrorText(error, CommandNames(app)));
    }

    // kxsnap's own errors: one "kxsnap:" line, or the JSON error document.
    try {
        if (*backup)
            return kxsnap::BackupCommand(global, targets);
        if (*list)
            return kxsnap::ListCommand(global, listOptions);
        if (*show)
            return kxsnap::ShowCommand(global, shown);
        if (*mount)
            return kxsnap::MountCommand(global, names);
        if (*unmount)
            return kxsnap::UnmountCommand(global, names, confirmed);
        if (*revert)
            return kxsnap::RevertCommand(global, names, confirmed);
        if (*remove)
            return kxsnap::DeleteCommand(global, names);
        if (*forget)
            return kxsnap::ForgetCommand(global, names, confirmed);
        if (*reconcile)
            return kxsnap::ReconcileCommand(global);
        if (*encrypt)
            return kxsnap::EncryptPasswordCommand(global);
        if (*runCommand) {
            run.pluginPath = global.pluginPath;
            run.json = global.json;
            return kxsnap::RunCommand(run);
        }
        if (*demoCommand) {
            demo.pluginPath = global.pluginPath;
            demo.verbose = global.verbose;
            return kxsnap::DemoCommand(demo);
        }
    } catch (const kxsnap::UsageError& error) {
        return kxsnap::ReportError(json, kxsnap::kExitUsage, error.what());
    } catch (const kxsnap::EnvironmentError& error) {
        return kxsnap::ReportError(json, kxsnap::kExitUnusableJob, error.what());
    } catch (const std::exception& error) {
        // Not expected; still one line and a status a script can tell from the plug-in's.
        return kxsnap::ReportError(json, kxsnap::kExitUnusableJob,
                                   std::string("unexpected failure: ") + error.what());
    }
    return kxsnap::kExitUsage;
}
