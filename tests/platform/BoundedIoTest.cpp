// Two bounds of the platform layer: a settings file of more than 1 MB (or an
// endless one) is refused whole with one log line instead of being read into
// memory, and one plug-in call opens the log file once, not once per line.
#include <atomic>
#include <string>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestLog.h"
#include "platform/EvDebug.h"
#include "platform/KXPlatformInfo.h"
#include "support/TestEnv.h"

namespace {

using kxtest::ScopedEnv;
using kxtest::ScopedLogFile;
using kxtest::TempDir;

constexpr size_t kLimit = 1024 * 1024;
constexpr const char* kRefusal = "is larger than 1048576 bytes; refused";

// A settings text of exactly `size` bytes whose first line sets nValue=7.
std::string SettingsOfSize(size_t size) {
    std::string text = "[Ferrolink]\nnValue=7\n";
    text.append(size - text.size() - 1, ';');
    return text + "\n";
}

struct SizeCase {
    size_t size;
    bool read;
};

class SettingsSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SettingsSizeTest, UpToOneMegabyteIsReadAndLargerIsRefusedWithOneLine) {
    ScopedLogFile log;
    TempDir dir;
    kxtest::WriteFile(dir / "settings.ini", SettingsOfSize(GetParam().size));
    ScopedEnv settings("KXSO_SETTINGS_FILE", (dir / "settings.ini").c_str());
    int32_t value = -1;
    EXPECT_EQ(GetParam().read ? 1 : 0,
              KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nValue", value));
    EXPECT_EQ(GetParam().read ? 7 : -1, value);
    EXPECT_EQ(!GetParam().read, log.Text().find(kRefusal) != std::string::npos) << log.Text();
}

INSTANTIATE_TEST_SUITE_P(Sizes, SettingsSizeTest,
                         ::testing::Values(SizeCase{kLimit, true}, SizeCase{kLimit + 1, false},
                                           SizeCase{8 * kLimit, false}));

// A pipe under the temporary root whose writer never stops: like /dev/zero,
// it has no end, and reading it must stop at the bound.
TEST(SettingsEndlessInputTest, AnEndlessPipeIsRefusedAfterTheBound) {
    ScopedLogFile log;
    TempDir dir;
    const std::string fifo = dir / "settings.ini";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    // Opened read-write, the writer exists before the reader comes, so the
    // reader never sees an end of file.
    const int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    std::atomic<bool> stop{false};
    std::thread endless([&] {
        const std::string chunk = "[Ferrolink]\nnValue=7\n" + std::string(4096, ';') + "\n";
        while (!stop) {
            struct pollfd ready = {writer, POLLOUT, 0};
            if (poll(&ready, 1, 20) > 0 && write(writer, chunk.data(), chunk.size()) < 0)
                continue;
        }
    });
    ScopedEnv settings("KXSO_SETTINGS_FILE", fifo.c_str());
    int32_t value = -1;
    EXPECT_EQ(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nValue", value));
    stop = true;
    endless.join();
    close(writer);
    EXPECT_EQ(-1, value);
    EXPECT_NE(std::string::npos, log.Text().find(kRefusal)) << log.Text();
}

TEST(LogCallScopeTest, OneCallWritesEveryLineToTheFileItOpenedFirst) {
    ScopedLogFile first;
    std::string second;
    TempDir dir;
    {
        EvDebugCallScope call;
        EvDebug().Debug("test", "%s", "line one");
        // The file is not opened again for the next lines, so moving the
        // log in the middle of a call does not split the call's lines.
        ScopedEnv moved("KXSO_LOG_FILE", (dir / "moved.log").c_str());
        EvDebug().Debug("test", "%s", "line two");
        {
            EvDebugCallScope nested;
            EvDebug().Error("test", "%s", "line three");
        }
        EvDebug().Debug("test", "%s", "line four");
        EXPECT_FALSE(kxtest::ReadFile(dir / "moved.log").size());
        // Outside any call each line opens the file in force.
        std::thread([] { EvDebug().Debug("test", "%s", "other thread"); }).join();
        second = kxtest::ReadFile(dir / "moved.log");
    }
    const std::string text = first.Text();
    for (const char* line : {"line one", "line two", "line three", "line four"})
        EXPECT_NE(std::string::npos, text.find(line)) << line;
    EXPECT_EQ(std::string::npos, text.find("other thread"));
    EXPECT_NE(std::string::npos, second.find("other thread"));
}

TEST(LogCallScopeTest, ConcurrentCallsKeepTheirLinesWhole) {
    ScopedLogFile log;
    auto call = [](char mark) {
        EvDebugCallScope scope;
        for (int i = 0; i < 200; ++i)
            EvDebug().Debug("test", "%s", std::string(300, mark).c_str());
    };
    std::thread a(call, 'a'), b(call, 'b');
    a.join();
    b.join();
    const std::string text = log.Text();
    EXPECT_EQ(400, std::count(text.begin(), text.end(), '\n'));
    for (char mark : {'a', 'b'}) {
        const std::string run(300, mark);
        size_t lines = 0;
        for (size_t at = text.find(run); at != std::string::npos; at = text.find(run, at + 1))
            ++lines;
        EXPECT_EQ(200u, lines) << mark;
    }
}

}  // namespace
