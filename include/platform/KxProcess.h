// Runs a program without a shell: the command line is split at blanks into the
// program and its arguments, the program is looked up on PATH, and the call
// waits for it to end. Nothing of the command is ever interpreted by a shell.
#pragma once

#include <string>

namespace KxProcess {
// Returns the exit status, 128 + the signal number when a signal ended the
// program, or -1 when the program could not be started. The four arguments
// after the command line are unused and keep the platform's signature: the
// program's standard streams are /dev/null (nothing is captured) and there is
// no time-out. The program inherits no descriptor of the host. Thread-safe.
int system(const std::string& commandLine, std::string* output = nullptr,
           std::string* errors = nullptr, int timeoutSecs = 0, bool captureOutput = false);
}  // namespace KxProcess
