#include "platform/KxProcess.h"

#include <cstring>
#include <vector>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/EvDebug.h"
#include "platform/FXString.h"

extern char** environ;

namespace {

constexpr const char* kLogTag = "KxProcess";

// Owns the spawn set-up objects so every exit path releases them.
class SpawnSetup {
public:
    SpawnSetup() {
        actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
        attributesReady_ = posix_spawnattr_init(&attributes_) == 0;
    }
    ~SpawnSetup() {
        if (actionsReady_) {
            posix_spawn_file_actions_destroy(&actions_);
        }
        if (attributesReady_) {
            posix_spawnattr_destroy(&attributes_);
        }
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // The child reads nothing and writes nowhere the host can see: the host's
    // standard streams may be its own protocol channel. It inherits no other
    // descriptor of the host, and starts with default signal handling even
    // when the host blocks or ignores signals.
    bool Prepare() {
        if (!actionsReady_ || !attributesReady_) {
            return false;
        }
        bool ok = true;
        for (int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
            const int mode = stream == STDIN_FILENO ? O_RDONLY : O_WRONLY;
            ok = ok &&
                 posix_spawn_file_actions_addopen(&actions_, stream, "/dev/null", mode, 0) == 0;
        }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        ok = ok && posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1) == 0;
#endif
        sigset_t noSignals;
        sigset_t allSignals;
        sigemptyset(&noSignals);
        sigfillset(&allSignals);
        ok = ok && posix_spawnattr_setsigmask(&attributes_, &noSignals) == 0;
        ok = ok && posix_spawnattr_setsigdefault(&attributes_, &allSignals) == 0;
        ok = ok && posix_spawnattr_setflags(&attributes_,
                                            POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
        return ok;
    }

    const posix_spawn_file_actions_t* actions() const {
        return &actions_;
    }
    const posix_spawnattr_t* attributes() const {
        return &attributes_;
    }

private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool actionsReady_ = false;
    bool attributesReady_ = false;
};

std::vector<std::string> SplitAtBlanks(const std::string& commandLine) {
    std::vector<std::string> words;
    size_t start = commandLine.find_first_not_of(" \t");
    while (start != std::string::npos) {
        const size_t end = commandLine.find_first_of(" \t", start);
        words.push_back(commandLine.substr(start, end - start));
        start = commandLine.find_first_not_of(" \t", end);
    }
    return words;
}

int WaitForExit(pid_t child) {
    int status = 0;
    pid_t waited = 0;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited != child) {
        return -1;
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    // Killed by a signal: the shell's convention, so it never reads as success.
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace

namespace KxProcess {

int system(const std::string& commandLine, std::string* /*output*/, std::string* /*errors*/,
           int /*timeoutSecs*/, bool /*captureOutput*/) {
    std::vector<std::string> words = SplitAtBlanks(commandLine);
    if (words.empty()) {
        EvDebug().Error(kLogTag, "empty command line");
        return -1;
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    SpawnSetup setup;
    if (!setup.Prepare()) {
        EvDebug().Error(kLogTag, "cannot prepare to run [%s]", commandLine.c_str());
        return -1;
    }
    pid_t child = 0;
    const int spawnError =
        posix_spawnp(&child, argv[0], setup.actions(), setup.attributes(), argv.data(), environ);
    if (spawnError != 0) {
        char reason[256];
        EvDebug().Error(kLogTag, "cannot run [%s]: %s", commandLine.c_str(),
                        strerror_r(spawnError, reason, sizeof(reason)));
        return -1;
    }
    const int exitStatus = WaitForExit(child);
    EvDebug().DebugLvl(1, kLogTag, "[%s] ended with status [%d]", commandLine.c_str(), exitStatus);
    return exitStatus;
}

}  // namespace KxProcess
