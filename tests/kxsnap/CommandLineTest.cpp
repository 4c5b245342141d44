// kxsnap's command line through the real binary: version, help, suggestions,
// option values, errors for scripts, encrypt-password and the demo's checks.
#include <sys/wait.h>

#include "CommandsTestSupport.h"
#include "KXSnapCloud/KXSnapAzureNetAppDS.h"
#include "kxsnap/DemoScenarios.h"
#include "platform/KXPassword.h"

namespace kxsnaptest {
namespace {

struct LineCase {
    std::string arguments;
    int status;
    std::string out;  // expected in standard output ("" for no check)
    std::string err;  // expected in standard error
};

class KxsnapCommandLineTest : public KxsnapCommandsTest,
                              public ::testing::WithParamInterface<LineCase> {};

TEST_P(KxsnapCommandLineTest, AnswersAsDocumented) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    const LineCase& line = GetParam();
    Outcome outcome = Kxsnap(line.arguments);
    EXPECT_EQ(line.status, outcome.status) << outcome.out << outcome.err;
    EXPECT_TRUE(Contains(outcome.out, line.out)) << outcome.out;
    EXPECT_TRUE(Contains(outcome.err, line.err)) << outcome.err;
    if (line.status != 0 && line.arguments.find("--json") == std::string::npos) {
        EXPECT_EQ(0u, outcome.err.find("kxsnap: ")) << "every error line is kxsnap's";
        EXPECT_LT(outcome.err.size(), 250u) << "an error reads as one short line";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KxsnapCommandLineTest,
    ::testing::Values(
        LineCase{"--version", 0, "kxsnap 1.0.0\nplug-in 1.0.0 (", ""},
        LineCase{"lst", 64, "", "unknown command 'lst'; did you mean 'list'?"},
        LineCase{"shwo 1", 64, "", "did you mean 'show'?"},
        LineCase{"help backup", 0, "Devices or NFS exports", ""},
        LineCase{"help forget", 0, "--yes", ""},
        LineCase{"help lst", 64, "", "did you mean 'list'?"},
        LineCase{"", 64, "", "a command is required: backup, list"},
        LineCase{"--lock-timeout -5 list", 64, "", "from 0 to 2147483647, not '-5'"},
        LineCase{"--array-config FOO=1 list", 64, "", "does not read the array setting 'FOO'"},
        LineCase{"--array-config SMCONFIG_ANF_OP_PROGRESS_COUNT=3 list", 64, "",
                 "did you mean 'SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY'?"},
        LineCase{"--array-config SMCONFIG_ANF_ENABLE_DIAGNOSTIC_LOGGING_KEY=7 list", 64, "",
                 "from 0 to 1, not '7'"},
        // One value per use: the device is the backup's target, not a second setting.
        LineCase{"--array-config SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY=3 backup /dev/sdq", 64, "",
                 "device not found: /dev/sdq"},
        LineCase{"--help", 0, "SMCONFIG_ANF_ENABLE_DIAGNOSTIC_LOGGING_KEY", ""},
        LineCase{"backup /mnt/sales", 64, "",
                 "/mnt/sales is neither a block device nor an NFS mount in /proc/mounts"},
        LineCase{"--json lst", 64,
                 "{\n  \"error\": {\n    \"exit\": 64,\n    \"message\": \"unknown command 'lst'",
                 ""},
        LineCase{"--json mount nosuchsnap", 64, "\"message\": \"unknown snapshot 'nosuchsnap'", ""},
        LineCase{"--json --plugin /nonexistent.so backup /dev/sdc", 3, "\"exit\": 3", ""},
        LineCase{"--json run /nonexistent.json", 3, "unusable job file /nonexistent.json", ""},
        LineCase{"--json backup /dev/sdq", 64,
                 "\"exit\": 64,\n    \"message\": \"not backed up: device not found: /dev/sdq\"",
                 ""}));

// The keys kxsnap accepts are the ones the NetApp Files engine reads.
TEST_F(KxsnapCommandsTest, ArrayConfigKnowsTheKeysThePluginReads) {
    for (const char* key : {KX_ANF_CONFIG_RETRY_INTERVAL_KEY, KX_ANF_CONFIG_RETRY_COUNT_KEY,
                            KX_ANF_CONFIG_DIAG_LOGGING_KEY}) {
        Outcome outcome = Kxsnap("--array-config " + std::string(key) + "=1 list");
        EXPECT_EQ(0, outcome.status) << key << ": " << outcome.err;
    }
}

// Errors for scripts are JSON on standard output and nothing on standard error.
TEST_F(KxsnapCommandsTest, JsonErrorsAreOneDocumentOnStandardOutput) {
    for (const char* arguments : {"--json lst", "--json --lock-timeout x list", "--json show 7"}) {
        Outcome outcome = Kxsnap(arguments);
        nlohmann::json error = nlohmann::json::parse(outcome.out, nullptr, false);
        ASSERT_TRUE(error.is_object()) << arguments << ": " << outcome.out;
        EXPECT_EQ(outcome.status, error["error"]["exit"]) << arguments;
        EXPECT_EQ(64, outcome.status) << arguments;
        EXPECT_FALSE(error["error"]["message"].get<std::string>().empty());
        EXPECT_TRUE(outcome.err.empty()) << outcome.err;
    }
}

std::string RunWithInput(const std::string& arguments, const std::string& input,
                         const kxtest::TempDir& dir, int& status) {
    kxtest::WriteFile(dir / "input", input);
    std::string out = dir / "password.out";
    std::string command = std::string(KXSO_BUILD_DIR) + "/kxsnap " + arguments + " <" +
                          (dir / "input") + " >" + out + " 2>/dev/null";
    int raw = std::system(command.c_str());
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return kxtest::ReadFile(out);
}

// What encrypt-password prints is what the settings reader decodes.
TEST_F(KxsnapCommandsTest, EncryptPasswordRoundTripsThroughTheSettingsDecoder) {
    for (const std::string& plain :
         std::vector<std::string>{"s3cret!", "pässwörd with spaces", std::string(300, 'x')}) {
        int status = -1;
        std::string printed = RunWithInput("encrypt-password", plain + "\n", dir_, status);
        ASSERT_EQ(0, status) << plain;
        ASSERT_FALSE(printed.empty());
        printed.pop_back();  // the line break
        EXPECT_FALSE(Contains(printed, plain));
        std::vector<char> buffer(1024, '\0');
        ASSERT_EQ(0, KXPassword::decrypt(printed, buffer.data(), buffer.size())) << printed;
        EXPECT_EQ(plain, std::string(buffer.data()));
    }
    int status = -1;
    EXPECT_TRUE(RunWithInput("encrypt-password", "\n", dir_, status).empty());
    EXPECT_EQ(64, status) << "an empty password is refused";
}

// The demo finds out before its first lifecycle that it cannot run.
TEST_F(KxsnapCommandsTest, DemoWithoutEmulatorOrPluginExitsThree) {
    Outcome noEmulator = Kxsnap("demo --emulator " + (dir_ / "missing-emulator"));
    EXPECT_EQ(3, noEmulator.status) << noEmulator.out;
    EXPECT_TRUE(Contains(noEmulator.err, "missing-emulator is missing")) << noEmulator.err;
    Outcome noPlugin = Kxsnap("--plugin " + (dir_ / "missing.so") + " demo");
    EXPECT_EQ(3, noPlugin.status) << noPlugin.out;
    EXPECT_TRUE(Contains(noPlugin.err, "missing.so")) << noPlugin.err;
    EXPECT_FALSE(Contains(noPlugin.out, "=== managed disks")) << noPlugin.out;
}

}  // namespace
}  // namespace kxsnaptest
