// String utilities, the error value, the error log writer and the platform log.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "TestLog.h"
#include "platform/CUxError.h"
#include "platform/EvDebug.h"
#include "platform/FXString.h"
#include "support/TestEnv.h"

namespace {

using kxtest::ScopedEnv;
using kxtest::ScopedLogFile;
using kxtest::TempDir;

using Parts = std::vector<std::string>;

size_t LineCount(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(FXStringTest, FormatHasNoLengthLimitAndTrimStripsOnlyTheGivenCharactersAtTheEnds) {
    const std::string long_text(10000, 'x');
    EXPECT_EQ("[" + long_text + "] 42", FXString::Format("[%s] %d", long_text.c_str(), 42));
    EXPECT_EQ("", FXString::Format("%s", ""));
    EXPECT_EQ("a b", FXString::Trim(" \t a b \r\n"));
    EXPECT_EQ("", FXString::Trim(" \t\r\n"));
    EXPECT_EQ("x/", FXString::TrimLeft("//x/", "/"));
    EXPECT_EQ("//x", FXString::TrimRight("//x/", "/"));
    EXPECT_EQ("https://host", FXString::Trim("  https://host\r\n", " \r\n"));
}

TEST(FXStringTest, SplitKeepsEmptyPartsUnlessAskedNotTo) {
    EXPECT_EQ((Parts{"a", ""}), FXString::Split("a:", ":"));
    EXPECT_EQ((Parts{""}), FXString::Split("", ":"));
    EXPECT_EQ((Parts{"", "a", "", "b", ""}), FXString::Split(":a::b:", ":"));
    EXPECT_EQ((Parts{"a", "b"}), FXString::Split(":a::b:", ":", FXString::SPLIT_DROP_EMPTY));
    EXPECT_EQ((Parts{}), FXString::Split("", ":", FXString::SPLIT_DROP_EMPTY));
    EXPECT_EQ((Parts{"2", "0", "0", "10"}), FXString::Split("2:0:0:10", ":"));
    EXPECT_EQ((Parts{"k1", "v1", "k2"}), FXString::Split("k1::v1::k2", "::"));
    EXPECT_EQ((Parts{"abc"}), FXString::Split("abc", ""));
}

TEST(FXStringTest, ReplaceAllDoesNotRescanReplacedTextAndFindMayIgnoreCase) {
    EXPECT_EQ("aXbXc", FXString::ReplaceAll("a/b/c", "/", "X"));
    EXPECT_EQ("aaaa", FXString::ReplaceAll("aa", "a", "aa"));
    EXPECT_EQ("abc", FXString::ReplaceAll("abc", "", "x"));
    EXPECT_EQ("", FXString::ReplaceAll("", "a", "b"));
    EXPECT_EQ(9u, FXString::FindString("/dev/sdc lunuuid:/x", "lunuuid:"));
    EXPECT_EQ(std::string::npos, FXString::FindString("Succeeded", "succeeded"));
    EXPECT_EQ(0u, FXString::FindString("Succeeded", "succeeded", true));
    EXPECT_EQ(5u, FXString::FindString("/dev/SDC", "sdc", true));
    EXPECT_EQ(std::string::npos, FXString::FindString("abc", "abcd", true));
}

TEST(FXStringTest, CaseRemoveLeftStartsWithEndsWith) {
    EXPECT_TRUE(FXString::EqualsNoCase("InProgress", "INPROGRESS"));
    EXPECT_FALSE(FXString::EqualsNoCase("InProgress", "InProgres"));
    EXPECT_EQ("ABC-1\xc3\xa9", FXString::ToUpper("aBc-1\xc3\xa9"));
    EXPECT_EQ("https://x/op", FXString::RemoveLeft("Azure-AsyncOperation:https://x/op", 21));
    EXPECT_EQ("", FXString::RemoveLeft("abc", 100));
    EXPECT_FALSE(FXString::StartsWith("lo", "loop"));
    EXPECT_FALSE(FXString::EndsWith("", "/"));
}

// Success (code 0, whatever its text) has no text and ignores Push; an error
// carries code, message and trace in every text form.
TEST(CUxErrorTest, TextFormsCarryCodeMessageAndTrace) {
    CUxError success = CUxError(0, "ignored", FXCODE_LOCATION());
    EXPECT_TRUE(success.IsSuccess());
    EXPECT_FALSE(success);
    success.Push(FXCODE_LOCATION());
    EXPECT_TRUE(success.Trace().empty());
    EXPECT_EQ("", success.AsString());
    EXPECT_EQ("", success.AsString(EErrorOutputFormat(2)));
    EXPECT_EQ("", success.Message());

    CUxError error(774, "Invalid Snap device object",
                   FXCodeLocation("/src/a/Origin.cpp", "Make", 10));
    error.Push(FXCodeLocation("/src/b/Caller.cpp", "Call", 20));
    EXPECT_TRUE(error.IsError());
    EXPECT_TRUE(error);
    EXPECT_EQ(774, error.Code());
    EXPECT_EQ("Invalid Snap device object", error.Message());
    ASSERT_EQ(2u, error.Trace().size());
    EXPECT_EQ("Make", error.Trace()[0].function);

    EXPECT_EQ("Invalid Snap device object [code 774]", error.AsString(EErrorOutputFormat(2)));
    EXPECT_EQ("error 774: Invalid Snap device object", error.AsString(EErrorOutputFormat::Compact));
    EXPECT_EQ("error 774: Invalid Snap device object [at Origin.cpp:10 Make <- Caller.cpp:20 Call]",
              error.AsString());
    EXPECT_EQ(error.AsString(), error.AsString(EErrorOutputFormat::Full));
    EXPECT_EQ("error [code -5]",
              CUxError(-5, "", FXCODE_LOCATION()).AsString(EErrorOutputFormat::Message));
}

TEST(CUxErrorTest, ErrorErrNoFormatsLogsAndReturns) {
    ScopedLogFile log;
    const std::string external = "%s%n%d from a server";
    const std::string longText(5000, 'y');
    const CUxError error = FXErrorUtil::ErrorErrNo(
        FXCODE_LOCATION(), 774, "Failed to get Azure Endpoint for azureRegion [%s] %s",
        external.c_str(), longText.c_str());
    EXPECT_EQ(774, error.Code());
    EXPECT_EQ("Failed to get Azure Endpoint for azureRegion [" + external + "] " + longText,
              error.Message());
    ASSERT_EQ(1u, error.Trace().size());
    EXPECT_EQ("TestBody", error.Trace().front().function);
    const std::string text = log.Text();
    EXPECT_EQ(1u, LineCount(text));
    EXPECT_NE(std::string::npos, text.find("StringsAndErrorsTest.cpp:"));
    EXPECT_NE(std::string::npos, text.find(": Failed to get Azure Endpoint for azureRegion [" +
                                           external + "] " + longText));
}

TEST(CUxErrorTest, LogErrorWritesTheFullTextOnceAndTheWriterTakesFormatAndArguments) {
    ScopedLogFile log;
    FXErrorUtil::LogError(CUxError());
    EXPECT_EQ("", log.Text());
    CUxError error(1627, "Timed out while fetching operation status", FXCODE_LOCATION());
    FXErrorUtil::LogError(error.Push(FXCODE_LOCATION()));
    const std::string text = log.Text();
    EXPECT_EQ(1u, LineCount(text));
    EXPECT_NE(std::string::npos,
              text.find("error 1627: Timed out while fetching operation status"));
    ASSERT_NE(nullptr, g_ptrLogWriter);
    g_ptrLogWriter->Write("%s: %s", "where", "what %s");
    EXPECT_NE(std::string::npos, log.Text().find("where: what %s"));
}

TEST(EvDebugTest, LinesCarryTimePidLevelTagAndText) {
    ScopedLogFile log;
    EvDebug().Error("AZUREAPI >>>>>", "Failed [%d]", 7);
    EvDebug(nullptr).DebugLvl(2, "Tag", "%s", "detail");
    EvDebug().Debug("Tag", "plain");
    EvDebug().WriteLine(1, "Tag", "two\nlines\r\n");
    const std::vector<std::string> lines =
        FXString::Split(log.Text(), "\n", FXString::SPLIT_DROP_EMPTY);
    ASSERT_EQ(4u, lines.size());
    const std::string pid = "[" + std::to_string(getpid()) + "/";
    for (const std::string& line : lines) {
        EXPECT_NE(std::string::npos, line.find(pid)) << line;
        EXPECT_TRUE(line.size() > 23 && line[4] == '-' && line[10] == ' ' && line[19] == '.')
            << line;
    }
    EXPECT_NE(std::string::npos, lines[0].find("ERROR AZUREAPI >>>>>: Failed [7]"));
    EXPECT_NE(std::string::npos, lines[1].find("DEBUG2 Tag: detail"));
    EXPECT_NE(std::string::npos, lines[2].find("DEBUG0 Tag: plain"));
    EXPECT_NE(std::string::npos, lines[3].find("DEBUG1 Tag: two lines"));
}

TEST(EvDebugTest, CreatesTheDirectoryAndFollowsTheVariable) {
    TempDir dir;
    const std::string first = dir / "nested/deeper/first.log";
    const std::string second = dir / "second.log";
    {
        ScopedEnv env("KXSO_LOG_FILE", first.c_str());
        EvDebug().Debug("Tag", "to first");
    }
    {
        ScopedEnv env("KXSO_LOG_FILE", second.c_str());
        EvDebug().Debug("Tag", "to second");
    }
    EXPECT_NE(std::string::npos, kxtest::ReadFile(first).find("to first"));
    EXPECT_EQ(std::string::npos, kxtest::ReadFile(first).find("to second"));
    EXPECT_NE(std::string::npos, kxtest::ReadFile(second).find("to second"));
    // A log that cannot be written fails nothing.
    kxtest::WriteFile(dir / "file", "x");
    ScopedEnv env("KXSO_LOG_FILE", (dir / "file/below-a-file.log").c_str());
    EvDebug().Error("Tag", "dropped");
    EvDebug().WriteLine(0, nullptr, nullptr);
    EXPECT_EQ("x", kxtest::ReadFile(dir / "file"));
}

TEST(EvDebugTest, ConcurrentLinesStayWhole) {
    ScopedLogFile log;
    const std::string payload(300, 'p');
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &payload] {
            for (int i = 0; i < 50; ++i)
                EvDebug().Debug("Thread", "%d %s end", t, payload.c_str());
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const std::vector<std::string> lines =
        FXString::Split(log.Text(), "\n", FXString::SPLIT_DROP_EMPTY);
    ASSERT_EQ(200u, lines.size());
    for (const std::string& line : lines)
        EXPECT_TRUE(FXString::EndsWith(line, payload + " end")) << line;
}

}  // namespace
