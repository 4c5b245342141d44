// The demo's Azure: the azure-emulator program started on loopback with a
// scenario and a sandbox device tree, stopped (and its files removed) when
// the object goes.
#pragma once

#include <string>

#include <nlohmann/json.hpp>
#include <sys/types.h>

namespace kxsnap {

class EmulatorProcess {
public:
    EmulatorProcess() = default;
    ~EmulatorProcess();
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    // Starts `program` with the scenario file and root folder and waits for
    // its start-up line. False with a reason (its own error output included).
    bool Start(const std::string& program, const std::string& scenarioFile, const std::string& root,
               const std::string& errorFile, std::string& error);
    void Stop();

    // Points the plug-in (through the environment) at this emulator.
    void ExportEnvironment() const;

    const nlohmann::json& Endpoints() const { return endpoints_; }

private:
    pid_t pid_ = -1;
    nlohmann::json endpoints_;
};

// azure-emulator beside kxsnap (the build tree), else in the installation's
// helper folder (the emulator component), else the first one on PATH; ""
// when none.
std::string FindEmulatorProgram();

// The folder holding the udevadm stand-in that goes with `emulatorProgram`:
// emulator-bin beside it, beside kxsnap or in the helper folder; "" when none.
std::string FindUdevadmStandInFolder(const std::string& emulatorProgram);

}  // namespace kxsnap
