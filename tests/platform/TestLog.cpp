#include "TestLog.h"

#include <gtest/gtest.h>

namespace kxtest {

ScopedLogFile::ScopedLogFile() : path_(dir_ / "kxso.log"), env_("KXSO_LOG_FILE", path_.c_str()) {}

namespace {

// Keeps every platform log line of this binary out of the machine's log.
class TemporaryLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { log_ = std::make_unique<ScopedLogFile>(); }
    void TearDown() override { log_.reset(); }

private:
    std::unique_ptr<ScopedLogFile> log_;
};

const ::testing::Environment* const kTemporaryLog =
    ::testing::AddGlobalTestEnvironment(new TemporaryLogEnvironment);

}  // namespace

}  // namespace kxtest
