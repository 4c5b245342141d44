// The platform log during the platform tests. The whole binary logs into a
// temporary file (never /var/log); a test that inspects the log points it at
// a fresh file of its own with ScopedLogFile.
#pragma once

#include <string>

#include "support/TestEnv.h"

namespace kxtest {

class ScopedLogFile {
public:
    ScopedLogFile();
    const std::string& path() const { return path_; }
    std::string Text() const { return ReadFile(path_); }

private:
    TempDir dir_;
    std::string path_;
    ScopedEnv env_;
};

}  // namespace kxtest
