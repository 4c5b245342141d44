#include "kxsnap/DemoEmulator.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kxsnap/PluginLoader.h"

namespace kxsnap {

namespace {

constexpr int kStartTimeoutMs = 20000;

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Reads one line from the pipe within the time limit.
bool ReadLine(int fd, std::string& line, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0)
            return false;
        struct pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left)) <= 0)
            continue;
        char c;
        ssize_t got = read(fd, &c, 1);
        if (got <= 0)
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
}

}  // namespace

std::string FindEmulatorProgram() {
    for (const std::string& folder : {ProgramDirectory(), InstalledHelperDirectory()}) {
        std::string candidate = folder + "/azure-emulator";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    const char* path = getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        std::string candidate = folder + "/azure-emulator";
        if (!folder.empty() && access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

std::string FindUdevadmStandInFolder(const std::string& emulatorProgram) {
    std::string emulatorFolder = emulatorProgram.substr(0, emulatorProgram.rfind('/') + 1);
    for (const std::string& folder :
         {emulatorFolder, ProgramDirectory() + "/", InstalledHelperDirectory() + "/"}) {
        std::string candidate = folder + "emulator-bin";
        if (!folder.empty() && access((candidate + "/udevadm").c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

EmulatorProcess::~EmulatorProcess() {
    Stop();
}

bool EmulatorProcess::Start(const std::string& program, const std::string& scenarioFile,
                            const std::string& root, const std::string& errorFile,
                            std::string& error) {
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        error = "cannot create a pipe";
        return false;
    }
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        error = "cannot start a process";
        return false;
    }
    if (pid_ == 0) {
        // The emulator must not outlive the demo, whatever ends it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        dup2(output[1], STDOUT_FILENO);
        int errors = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (errors >= 0)
            dup2(errors, STDERR_FILENO);
        execl(program.c_str(), program.c_str(), "--scenario", scenarioFile.c_str(), "--root",
              root.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    std::string line;
    bool started = ReadLine(output[0], line, kStartTimeoutMs);
    close(output[0]);
    if (started)
        endpoints_ = nlohmann::json::parse(line, nullptr, false);
    if (!started || !endpoints_.is_object() || !endpoints_.contains("arm")) {
        Stop();
        std::string reason = ReadWholeFile(errorFile);
        while (!reason.empty() && reason.back() == '\n')
            reason.pop_back();
        error = "the emulator did not start" + (reason.empty() ? "" : ": " + reason);
        return false;
    }
    return true;
}

void EmulatorProcess::Stop() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    for (int waited = 0; waited < 100; ++waited) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        usleep(50000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void EmulatorProcess::ExportEnvironment() const {
    auto text = [this](const char* key) {
        return endpoints_.contains(key) && endpoints_[key].is_string()
                   ? endpoints_[key].get<std::string>()
                   : std::string();
    };
    setenv("KXSO_ARM_ENDPOINT", text("arm").c_str(), 1);
    setenv("KXSO_IMDS_ENDPOINT", text("imds").c_str(), 1);
    setenv("KXSO_CA_FILE", text("caFile").c_str(), 1);
    setenv("KXSO_ROOT", text("root").c_str(), 1);
    setenv("KXSO_EMULATOR_ADMIN", text("admin").c_str(), 1);
}

}  // namespace kxsnap
