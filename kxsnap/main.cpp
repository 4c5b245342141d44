// kxsnap: the host program for the Azure snapshot plug-in.
#include <iostream>

#include <CLI/CLI.hpp>

#include "kxsnap/Commands.h"

int main(int argc, char** argv) {
    CLI::App app{"kxsnap: take, mount, revert and delete Azure snapshots through the plug-in"};
    app.require_subcommand(1);

    kxsnap::RunOptions run;
    CLI::App* runCommand = app.add_subcommand(
        "run", "Run a job file: call the named plug-in operations on its records");
    runCommand->add_option("job", run.jobFile, "Job file (JSON), or - for standard input")
        ->required();
    runCommand->add_option("--plugin", run.pluginPath,
                           "Plug-in library (default: the one beside kxsnap)");

    kxsnap::DemoOptions demo;
    CLI::App* demoCommand = app.add_subcommand("demo", "Show the plug-in at work");
    demoCommand->add_option("--plugin", demo.pluginPath,
                            "Plug-in library (default: the one beside kxsnap)");

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

    if (*runCommand)
        return kxsnap::RunCommand(run);
    if (*demoCommand)
        return kxsnap::DemoCommand(demo);
    return kxsnap::kExitUsage;
}
