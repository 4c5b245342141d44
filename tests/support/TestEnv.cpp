#include "support/TestEnv.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kxtest {

TempDir::TempDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/kxso-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(const std::string& name, const char* value) : name_(name) {
    if (const char* old = getenv(name.c_str())) {
        hadValue_ = true;
        oldValue_ = old;
    }
    if (value) {
        setenv(name.c_str(), value, 1);
    } else {
        unsetenv(name.c_str());
    }
}

ScopedEnv::~ScopedEnv() {
    if (hadValue_) {
        setenv(name_.c_str(), oldValue_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

ScopedSettings::ScopedSettings(const std::string& iniText)
    : path_(dir_ / "settings.ini"), env_("KXSO_SETTINGS_FILE", path_.c_str()) {
    WriteFile(path_, iniText);
}

void WriteFile(const std::string& path, const std::string& content) {
    std::filesystem::path p(path);
    if (p.has_parent_path()) {
        std::filesystem::create_directories(p.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void MakeDirs(const std::string& path) {
    std::filesystem::create_directories(path);
}

}  // namespace kxtest
