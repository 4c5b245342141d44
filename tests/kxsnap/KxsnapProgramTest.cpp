// The kxsnap program as a user or a script runs it: exit statuses, the one-line
// reason for an unusable job, and the JSON it prints.
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include "support/TestEnv.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class KxsnapProgramTest : public ::testing::Test {
protected:
    Outcome Kxsnap(const std::string& arguments) {
        std::string command = std::string(KXSO_BUILD_DIR) + "/kxsnap " + arguments + " >" +
                              (dir_ / "out") + " 2>" + (dir_ / "err") + " </dev/null";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, kxtest::ReadFile(dir_ / "out"),
                kxtest::ReadFile(dir_ / "err")};
    }
    std::string Job(const std::string& text) {
        std::string path = dir_ / "job.json";
        kxtest::WriteFile(path, text);
        return path;
    }

    kxtest::TempDir dir_;
    kxtest::ScopedEnv log_{"KXSO_LOG_FILE", (dir_ / "kxso.log").c_str()};
    kxtest::ScopedEnv imds_{"KXSO_IMDS_ENDPOINT", "http://127.0.0.1:9/"};
    kxtest::ScopedEnv arm_{"KXSO_ARM_ENDPOINT", "https://127.0.0.1:9/"};
};

TEST_F(KxsnapProgramTest, UnusableJobsExitThreeWithOneLineUsageErrorsSixtyFour) {
    for (const char* text : {"not json", R"({"operations": ["nope"], "records": []})"}) {
        Outcome outcome = Kxsnap("run " + Job(text));
        EXPECT_EQ(3, outcome.status) << text;
        EXPECT_TRUE(outcome.out.empty());
        ASSERT_FALSE(outcome.err.empty());
        EXPECT_EQ(outcome.err.size() - 1, outcome.err.find('\n')) << outcome.err;
    }
    EXPECT_EQ(3, Kxsnap("run " + (dir_ / "missing.json")).status);
    Outcome plugin = Kxsnap("run " + Job(R"({"operations": [], "records": []})") + " --plugin " +
                            (dir_ / "nothing.so"));
    EXPECT_EQ(3, plugin.status);
    EXPECT_NE(std::string::npos, plugin.err.find("cannot load the plug-in"));
    for (const char* usage : {"", "frobnicate", "run"})
        EXPECT_EQ(64, Kxsnap(usage).status) << usage;
    EXPECT_EQ(0, Kxsnap("--help").status);
}

TEST_F(KxsnapProgramTest, RunsOperationsInOrderAndStopsAtTheFirstFailure) {
    Outcome outcome = Kxsnap("run " + Job(R"({
        "jobId": 9,
        "operations": ["kxso_reconcileSnaps", "kxso_isMapped"],
        "records": [{"sourceDevicePath": "/dev/sdc", "snapName": "s1", "status": 5,
                     "snapFlags": 134217728, "errorCode": 1, "errorText": "old",
                     "refuse": ["setSnapFlags"]}]})"));
    EXPECT_EQ(1, outcome.status) << outcome.err;
    auto output = nlohmann::json::parse(outcome.out);
    ASSERT_EQ(1u, output["results"].size());
    EXPECT_EQ("kxso_reconcileSnaps", output["results"][0]["operation"]);
    EXPECT_EQ(1, output["results"][0]["result"]);
    const auto& record = output["records"][0];
    EXPECT_EQ("0x8000000", record["snapFlags"]);
    EXPECT_EQ(5, record["status"]);
    EXPECT_EQ(nlohmann::json::array(), record["statusHistory"]);
    EXPECT_EQ(nlohmann::json::array({"setSnapFlags"}), record["refuse"]);
    // The first operation sees the record's error as the job file gave it.
    EXPECT_EQ(1, record["errorCode"]);
    EXPECT_TRUE(output["log"].is_array());
}

// The log lines are spooled outside memory and spliced into the printed
// object: it must stay one valid JSON document whether there are none or many.
TEST_F(KxsnapProgramTest, PrintsOneDocumentWithAnEmptyOrAFullLog) {
    Outcome empty = Kxsnap("run " + Job(R"({"operations": [], "records": []})"));
    ASSERT_EQ(0, empty.status) << empty.err;
    auto output = nlohmann::json::parse(empty.out);
    EXPECT_EQ(nlohmann::json::array(), output["results"]);
    EXPECT_EQ(nlohmann::json::array(), output["records"]);
    EXPECT_EQ(nlohmann::json::array(), output["log"]);

    Outcome full = Kxsnap("run " + Job(R"({
        "jobId": 4, "operations": ["kxso_prepareDevices"],
        "records": [{"sourceDevicePath": "/dev/sdc"}, {"sourceDevicePath": "/dev/sdd"}]})"));
    output = nlohmann::json::parse(full.out);
    ASSERT_EQ(2u, output["records"].size());
    ASSERT_GT(output["log"].size(), 1u) << full.out;
    for (const auto& line : output["log"]) {
        EXPECT_EQ(4u, line.size()) << line;
        EXPECT_TRUE(line["record"].is_number_integer()) << line;
        EXPECT_TRUE(line["level"].is_number_integer()) << line;
        EXPECT_TRUE(line["tag"].is_string()) << line;
        EXPECT_TRUE(line["text"].is_string());
    }
}

TEST_F(KxsnapProgramTest, DemoRunsBothLifecyclesToTheEndAndCleansUp) {
    kxtest::ScopedEnv tmp("TMPDIR", dir_.path().c_str());
    Outcome outcome = Kxsnap("demo");
    EXPECT_EQ(0, outcome.status) << outcome.out << outcome.err;
    for (const char* line : {"managed disks  backup       ok", "managed disks  revert       ok",
                             "NetApp Files   mount        ok", "NetApp Files   reconcile    ok",
                             "NetApp Files   delete       ok", "Every step succeeded."}) {
        EXPECT_NE(std::string::npos, outcome.out.find(line)) << line << "\n" << outcome.out;
    }
    EXPECT_EQ(std::string::npos, outcome.out.find("FAILED"));
    // Nothing of the sandbox is left behind.
    for (const auto& item : std::filesystem::directory_iterator(dir_.path()))
        EXPECT_EQ(std::string::npos, item.path().string().find("kxsnap-demo")) << item.path();
}

}  // namespace
