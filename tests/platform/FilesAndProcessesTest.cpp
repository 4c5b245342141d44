// Directory enumeration and link resolution inside a temporary root, the
// process runner and the sleep.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestLog.h"
#include "platform/CUxDirectory.h"
#include "platform/KxProcess.h"
#include "platform/UXSleep.h"
#include "support/TestEnv.h"

namespace {

using kxtest::MakeDirs;
using kxtest::ScopedEnv;
using kxtest::ScopedLogFile;
using kxtest::TempDir;
using kxtest::WriteFile;

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

void Link(const std::string& target, const std::string& linkPath) {
    ASSERT_EQ(0, symlink(target.c_str(), linkPath.c_str())) << linkPath;
}

std::set<std::string> ListAll(const std::string& path) {
    CUxDirectory dir;
    std::set<std::string> names;
    if (dir.Open(path, "*", true))
        return names;
    bool atEnd = false;
    std::string name;
    while (!dir.GetEntry(name, atEnd) && !atEnd)
        names.insert(name);
    return names;
}

// Counted without CUxDirectory, which would look for /proc under the root.
size_t OpenDescriptorCount() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator()));
}

// A device tree like the one the plug-in reads, under a temporary root.
class RootedTest : public ::testing::Test {
protected:
    RootedTest() : rootEnv_("KXSO_ROOT", root_.path().c_str()) {}

    void SetUp() override {
        MakeDirs(root_ / "sys/block/sda/device/scsi_device/0:0:0:0");
        MakeDirs(root_ / "sys/block/sdc/device/scsi_device/5:0:0:10");
        MakeDirs(root_ / "sys/block/loop0");
        MakeDirs(root_ / "dev/disk/azure/scsi1");
        WriteFile(root_ / "dev/sdc", "");
        WriteFile(root_ / "dev/only-in-root", "");
    }

    std::string Resolve(const std::string& link, CUxError* error = nullptr) {
        std::string physical = "untouched";
        CUxError result = FXFileUtil::ResolveSymLink(link, physical);
        if (error != nullptr)
            *error = result;
        return physical;
    }

    TempDir root_;
    ScopedEnv rootEnv_;
};

TEST_F(RootedTest, ListsEveryEntryUnderTheRootAndEndsWithSuccessAtEnd) {
    const size_t descriptors = OpenDescriptorCount();
    EXPECT_EQ((std::set<std::string>{".", "..", "sda", "sdc", "loop0"}), ListAll("/sys/block"));
    EXPECT_EQ((std::set<std::string>{".", "..", "5:0:0:10"}),
              ListAll("/sys/block/sdc/device/scsi_device"));
    CUxDirectory dir;
    ASSERT_FALSE(dir.Open("/sys/block/loop0", "*", true));
    EXPECT_TRUE(dir.IsOpen());
    std::string name;
    bool atEnd = false;
    int entries = 0;
    CUxError error;
    while (!(error = dir.GetEntry(name, atEnd)) && !atEnd)
        ++entries;
    EXPECT_TRUE(error.IsSuccess());
    EXPECT_EQ(2, entries);  // "." and ".."
    EXPECT_EQ("", name);
    dir.Close();
    EXPECT_FALSE(dir.IsOpen());
    // Reopening and destroying release the descriptor.
    {
        CUxDirectory reopened;
        ASSERT_FALSE(reopened.Open("/sys/block", "*", true));
        ASSERT_FALSE(reopened.Open("/sys/block/sda", "*", true));
        EXPECT_EQ(descriptors + 1, OpenDescriptorCount());
    }
    EXPECT_EQ(descriptors, OpenDescriptorCount());
}

TEST_F(RootedTest, MissingDirectoryIsAnErrorWithTheErrnoAndALogLine) {
    ScopedLogFile log;
    CUxDirectory dir;
    const CUxError error = dir.Open("/sys/block/sdz/device/scsi_device", "*", true);
    EXPECT_TRUE(error.IsError());
    EXPECT_EQ(ENOENT, error.Code());
    EXPECT_NE(std::string::npos, error.Message().find("/sys/block/sdz/device/scsi_device"));
    EXPECT_FALSE(dir.IsOpen());
    EXPECT_NE(std::string::npos, log.Text().find("/sys/block/sdz"));

    std::string name;
    bool atEnd = true;
    EXPECT_TRUE(dir.GetEntry(name, atEnd).IsError());
    EXPECT_FALSE(atEnd);
}

TEST_F(RootedTest, LinksResolveUnderTheRootToThePlainDevicePath) {
    const std::string azure = root_ / "dev/disk/azure";
    MakeDirs(root_ / "dev/disk/by-id");
    Link("../../../sdc", azure + "/scsi1/lun10");
    Link("/dev/only-in-root", azure + "/scsi1/lun1");  // absolute: looked up under the root
    Link("../../by-id/disk-b", azure + "/scsi1/lun2");
    Link("/dev/disk/by-id/disk-c", root_ / "dev/disk/by-id/disk-b");
    Link("../../sdc", root_ / "dev/disk/by-id/disk-c");
    Link("scsi1", azure + "/scsi-alias");
    Link("../../../sdq", azure + "/scsi1/lun5");  // a missing device gives its plain name
    const std::pair<const char*, const char*> cases[] = {
        {"/dev/disk/azure/scsi1/lun10", "/dev/sdc"},
        {"/dev/disk/azure/scsi1/lun1", "/dev/only-in-root"},
        {"/dev/disk/azure/scsi1/lun2", "/dev/sdc"},
        {"/dev/disk/azure/scsi-alias/./lun2", "/dev/sdc"},
        {"//dev//disk/azure/scsi-alias/../scsi1/lun2", "/dev/sdc"},
        {"/dev/sdc", "/dev/sdc"},
        {"/dev/disk/azure/scsi1/lun5", "/dev/sdq"},
    };
    for (const auto& [link, physical] : cases) {
        CUxError error;
        EXPECT_EQ(physical, Resolve(link, &error)) << link;
        EXPECT_TRUE(error.IsSuccess()) << link << " " << error.AsString();
    }
    for (const char* missing : {"/dev/disk/azure/scsi1/lun42", "/dev/disk/azure/scsi9/lun0"}) {
        CUxError error;
        EXPECT_EQ("untouched", Resolve(missing, &error));
        EXPECT_EQ(ENOENT, error.Code());
    }
}

TEST_F(RootedTest, LinksClimbingAboveTheRootAreRefused) {
    // Each of these would reach the machine's own files without the root.
    Link("../../../../../../../../etc/passwd", root_ / "dev/disk/azure/scsi1/lun6");
    Link("/../etc/passwd", root_ / "dev/disk/azure/scsi1/lun7");
    Link("../../../../..", root_ / "dev/disk/azure/scsi1/up");
    for (const char* link : {"/dev/disk/azure/scsi1/lun6", "/dev/disk/azure/scsi1/lun7",
                             "/dev/disk/azure/scsi1/up/etc/passwd", "/../dev/sdc"}) {
        CUxError error;
        EXPECT_EQ("untouched", Resolve(link, &error)) << link;
        EXPECT_EQ(EXDEV, error.Code()) << link;
        EXPECT_NE(std::string::npos, error.Message().find("outside the root")) << link;
    }
}

TEST_F(RootedTest, LoopsAndMoreThanFortyLinksEndWithAnError) {
    const std::string dir = root_ / "dev/disk/azure/scsi1";
    Link("b", dir + "/a");
    Link("a", dir + "/b");
    Link("self", dir + "/self");
    Link("/dev/sdc", dir + "/c0");
    for (int i = 1; i <= 40; ++i)
        Link("c" + std::to_string(i - 1), dir + "/c" + std::to_string(i));
    EXPECT_EQ("/dev/sdc", Resolve("/dev/disk/azure/scsi1/c39"));
    for (const char* link :
         {"/dev/disk/azure/scsi1/a", "/dev/disk/azure/scsi1/self", "/dev/disk/azure/scsi1/c40"}) {
        CUxError error;
        EXPECT_EQ("untouched", Resolve(link, &error)) << link;
        EXPECT_EQ(ELOOP, error.Code()) << link;
    }
}

TEST(ResolveWithoutRootTest, BehavesLikeRealpath) {
    ScopedEnv noRoot("KXSO_ROOT", nullptr);
    TempDir dir;
    char real[PATH_MAX];
    ASSERT_NE(nullptr, realpath(dir.path().c_str(), real));
    const std::string base = real;
    MakeDirs(base + "/links");
    WriteFile(base + "/device", "");
    Link("../device", base + "/links/lun0");
    std::string physical;
    ASSERT_FALSE(FXFileUtil::ResolveSymLink(base + "/links/lun0", physical));
    EXPECT_EQ(base + "/device", physical);
    ASSERT_FALSE(FXFileUtil::ResolveSymLink("/../" + base + "/links/lun0", physical));
    EXPECT_EQ(base + "/device", physical);
}

class ProcessTest : public ::testing::Test {
protected:
    // An executable shell script in the test's directory.
    std::string Script(const std::string& name, const std::string& body) {
        const std::string path = dir_ / name;
        WriteFile(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), 0755);
        return path;
    }

    TempDir dir_;
};

TEST_F(ProcessTest, ReturnsTheExitStatusOrMinusOneAndLogsIt) {
    ScopedLogFile log;
    EXPECT_EQ(0, KxProcess::system("true"));
    EXPECT_EQ(1, KxProcess::system("false", nullptr, nullptr, 0, false));
    EXPECT_EQ(7, KxProcess::system(Script("seven", "exit 7\n")));
    EXPECT_EQ(128 + SIGTERM, KxProcess::system(Script("killed", "kill -TERM $$\nsleep 5\n")));
    KxProcess::system("false");
    EXPECT_NE(std::string::npos, log.Text().find("[false] ended with status [1]"));
    // Programs that cannot start.
    EXPECT_EQ(-1, KxProcess::system("kxso-no-such-program --timeout=1"));
    EXPECT_EQ(-1, KxProcess::system(""));
    EXPECT_EQ(-1, KxProcess::system(" \t "));
    WriteFile(dir_ / "not-executable", "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(-1, KxProcess::system(dir_ / "not-executable"));
}

TEST_F(ProcessTest, SplitsAtBlanksAndFindsTheProgramOnPath) {
    Script("kxso-args", "printf '%s\\n' \"$#\" \"$@\" > \"$KXSO_ARGS_OUT\"\n");
    const std::string path =
        dir_.path() + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
    ScopedEnv pathEnv("PATH", path.c_str());
    ScopedEnv out("KXSO_ARGS_OUT", (dir_ / "args.txt").c_str());
    ASSERT_EQ(0, KxProcess::system("  kxso-args settle   --timeout=60\t'quoted word'  "));
    EXPECT_EQ("4\nsettle\n--timeout=60\n'quoted\nword'\n", kxtest::ReadFile(dir_ / "args.txt"));
}

TEST_F(ProcessTest, NothingIsInterpretedByAShell) {
    const std::string substituted = dir_ / "substituted";
    const std::string chained = dir_ / "chained";
    const std::string redirected = dir_ / "redirected";
    EXPECT_EQ(0, KxProcess::system("echo $(touch " + substituted + ")"));
    EXPECT_EQ(0, KxProcess::system("echo `touch " + substituted + "`"));
    EXPECT_EQ(0, KxProcess::system("echo ; touch " + chained));
    EXPECT_EQ(0, KxProcess::system("echo x >" + redirected));
    EXPECT_FALSE(Exists(substituted));
    EXPECT_FALSE(Exists(substituted + ")"));
    EXPECT_FALSE(Exists(chained));
    EXPECT_FALSE(Exists(redirected));
}

TEST_F(ProcessTest, ChildInheritsNoDescriptorAndNoStdout) {
    const int file = open((dir_ / "held").c_str(), O_CREAT | O_WRONLY, 0600);  // no O_CLOEXEC
    ASSERT_GE(file, 0);
    ASSERT_EQ(77, dup2(file, 77));
    const std::string probe = Script("probe",
                                     "if [ -e /proc/$$/fd/77 ]; then exit 1; fi\n"
                                     "echo to-stdout; echo to-stderr >&2\nexit 0\n");
    // Catch anything the child would write on our standard output.
    fflush(stdout);
    const int savedStdout = dup(STDOUT_FILENO);
    const int capture = open((dir_ / "stdout").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    dup2(capture, STDOUT_FILENO);
    const int status = KxProcess::system(probe);
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    close(capture);
    close(77);
    close(file);
    EXPECT_EQ(0, status);
    EXPECT_EQ("", kxtest::ReadFile(dir_ / "stdout"));
}

TEST_F(ProcessTest, LeavesNoZombieAndRunsOnSeveralThreads) {
    std::vector<std::thread> threads;
    std::vector<int> sums(4, -100);
    for (size_t t = 0; t < sums.size(); ++t) {
        threads.emplace_back([t, &sums] {
            int sum = 0;
            for (int i = 0; i < 5; ++i)
                sum += KxProcess::system(i % 2 == 0 ? "true" : "false");
            sums[t] = sum;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(std::vector<int>(4, 2), sums);
    errno = 0;
    EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));
    EXPECT_EQ(ECHILD, errno);
}

void IgnoreSignal(int) {}

TEST(UXSleepTest, SleepsAtLeastTheTimeEvenWhenSignalled) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = IgnoreSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(0, sigaction(SIGUSR1, &action, &previous));

    const pthread_t sleeper = pthread_self();
    const auto start = std::chrono::steady_clock::now();
    std::thread interrupter([sleeper] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pthread_kill(sleeper, SIGUSR1);
    });
    UXSLEEP(30);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GE(elapsed, std::chrono::milliseconds(30));

    const auto zeroStart = std::chrono::steady_clock::now();
    UXSLEEP_InTeRnAl(0, __FILE__, __LINE__);
    EXPECT_LT(std::chrono::steady_clock::now() - zeroStart, std::chrono::milliseconds(20));
}

}  // namespace
