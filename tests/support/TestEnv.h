// Helpers shared by the test suites: a temporary directory removed on scope
// exit, a guard that sets an environment variable and restores it, and file
// helpers.
#pragma once

#include <map>
#include <string>

namespace kxtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

// Sets (or, with nullptr, unsets) an environment variable for the guard's life.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool hadValue_ = false;
    std::string oldValue_;
};

// Writes a settings file and points KXSO_SETTINGS_FILE at it for the guard's life.
class ScopedSettings {
public:
    explicit ScopedSettings(const std::string& iniText);
    const std::string& path() const { return path_; }

private:
    TempDir dir_;
    std::string path_;
    ScopedEnv env_;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
// Creates the directory and its parents.
void MakeDirs(const std::string& path);

}  // namespace kxtest
