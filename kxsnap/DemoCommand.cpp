// kxsnap demo: shows a newcomer what the plug-in is and how a host drives it.
#include <iostream>

#include "kxsnap/Commands.h"
#include "kxsnap/JobRunner.h"

namespace kxsnap {

namespace {

void Say(const std::string& text) {
    std::cout << text << std::endl;
}

void ShowPlugin(const Plugin& plugin) {
    int16_t major = 0, minor = 0, patch = 0;
    plugin.Version()(&major, &minor, &patch);
    int supported = plugin.IsSupported()(nullptr, 0, nullptr, nullptr, 0);
    Say("Plug-in:   " + plugin.Path());
    Say("Version:   " + std::to_string(major) + "." + std::to_string(minor) + "." +
        std::to_string(patch));
    Say("Supported: " + std::string(supported == 1 ? "yes" : "no") +
        " (kxso_isSupported answered " + std::to_string(supported) + ")");
}

// A job without records never reaches Azure: the plug-in checks its
// arguments first and refuses.
void ShowRejectedJob(const Plugin& plugin) {
    Job job;
    job.jobId = 1;
    job.operations = {"kxso_snapDevices"};
    JobOutcome outcome = RunJob(plugin, job);
    Say("");
    Say("A snapshot job with no devices is refused before anything is sent to Azure:");
    Say("  kxso_snapDevices answered " + std::to_string(outcome.lastResult) +
        (outcome.lastResult == 1 ? " (failure)" : " (unexpected)"));

    Job unsupported;
    unsupported.operations = {"kxso_unprepareDevices"};
    RecordData record;
    record.sourceDevicePath = "/dev/sdc";
    unsupported.records.push_back(record);
    outcome = RunJob(plugin, unsupported);
    Say("An operation this engine does not offer is refused and touches nothing:");
    Say("  kxso_unprepareDevices answered " + std::to_string(outcome.lastResult) +
        (outcome.records[0].statusHistory.empty() ? ", no status was set" : ", status set"));
}

}  // namespace

int DemoCommand(const DemoOptions& options) {
    Plugin plugin;
    std::string error;
    std::string path = options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
    if (!plugin.Load(path, error)) {
        std::cerr << "kxsnap: " << error << "\n";
        return 1;
    }
    Say("kxsnap demo: the Azure snapshot plug-in, driven the way a backup host drives it");
    Say("");
    ShowPlugin(plugin);
    ShowRejectedJob(plugin);
    Say("");
    Say("Done.");
    return 0;
}

}  // namespace kxsnap
