// The two kinds of failure kxsnap reports before or around a plug-in job, each
// with a one-line message: a mistake on the command line, and an environment
// that cannot be used (catalogue locked, damaged or read-only, plug-in or
// emulator missing). Plug-in failures are never exceptions: they are results.
#pragma once

#include <stdexcept>
#include <string>

namespace kxsnap {

// Bad arguments: unknown or ambiguous snapshot, a target that is not a block
// device or NFS export. Exit status 64.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// Something around the job is unusable. Exit status 3.
class EnvironmentError : public std::runtime_error {
public:
    explicit EnvironmentError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kxsnap
