// The settings store and the installation-wide parameters, read from real
// INI files.
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "TestLog.h"
#include "platform/KXPlatformInfo.h"
#include "support/TestEnv.h"

namespace {

using kxtest::ScopedEnv;
using kxtest::ScopedLogFile;
using kxtest::ScopedSettings;
using kxtest::TempDir;

TEST(SettingsTest, MissingFileLeavesEveryKeyAbsentAndValuesUntouched) {
    TempDir dir;
    ScopedEnv settings("KXSO_SETTINGS_FILE", (dir / "nowhere.ini").c_str());
    bool flag = true;
    int32_t number = 7;
    std::string text = "default";
    EXPECT_EQ(0, KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, "bFlag", flag));
    EXPECT_EQ(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nNumber", number));
    EXPECT_EQ(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "sText", text));
    EXPECT_TRUE(flag);
    EXPECT_EQ(7, number);
    EXPECT_EQ("default", text);
    // A path that is a directory reads as missing too.
    ScopedEnv directory("KXSO_SETTINGS_FILE", dir.path().c_str());
    EXPECT_EQ(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "sText", text));
    EXPECT_EQ("default", text);
    EXPECT_EQ(dir.path(), KXPlatformInfo::SettingsFilePath());
    ScopedEnv unset("KXSO_SETTINGS_FILE", nullptr);
    EXPECT_EQ("/etc/kxso/settings.ini", KXPlatformInfo::SettingsFilePath());
}

TEST(SettingsTest, ReadsValuesWithBlanksCommentsAndWindowsLineEnds) {
    ScopedSettings settings(
        "; a comment line\n"
        "# another comment = with an equals sign\n"
        "\n"
        "  [Ferrolink]  \r\n"
        "   AzureRegion   =   China  \r\n"
        "sEmpty=\n"
        "sWithEquals = a=b=c\n"
        "sWithHash = value # not a comment\n");
    std::string value;
    ASSERT_NE(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "AzureRegion", value));
    EXPECT_EQ("China", value);
    value = "preset";
    ASSERT_NE(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "sEmpty", value));
    EXPECT_EQ("", value);
    ASSERT_NE(0, KXPlatformInfo::getValue(KX_SETTINGS_SECTION, "sWithEquals", value));
    EXPECT_EQ("a=b=c", value);
    ASSERT_NE(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "sWithHash", value));
    EXPECT_EQ("value # not a comment", value);
    EXPECT_EQ(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "# another comment", value));

    // Changes to the file are seen by the next read.
    kxtest::WriteFile(settings.path(), "[Ferrolink]\nAzureRegion=Germany\n");
    ASSERT_NE(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "AzureRegion", value));
    EXPECT_EQ("Germany", value);
}

TEST(SettingsTest, SectionAndKeyNamesCompareExactlyAndTheLastValueCounts) {
    ScopedSettings settings(
        "[ferrolink]\nsLower=1\n"
        "[Ferrolink]\nnWait=10\n"
        "[Other]\nsOther=1\nnWait=99\n"
        "[Ferrolink]\nsKey=yes\nnWait=20\n");
    std::string value;
    EXPECT_EQ(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "sLower", value));
    EXPECT_EQ(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "sOther", value));
    EXPECT_EQ(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "skey", value));
    EXPECT_NE(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "sKey", value));
    EXPECT_NE(0, KXPlatformInfo::getString("Other", "sOther", value));
    int32_t wait = 0;
    ASSERT_NE(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nWait", wait));
    EXPECT_EQ(20, wait);
}

TEST(SettingsTest, FlagsInEveryAcceptedSpellingAndCase) {
    ScopedSettings settings(
        "[Ferrolink]\n"
        "b1=TRUE\nb2=Yes\nb3=on\nb4=1\n"
        "b5=False\nb6=NO\nb7=oFF\nb8=0\n"
        "bBad=maybe\nbEmpty=\nbTwo=2\n");
    for (const char* key : {"b1", "b2", "b3", "b4"}) {
        bool value = false;
        EXPECT_NE(0, KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, key, value)) << key;
        EXPECT_TRUE(value) << key;
    }
    for (const char* key : {"b5", "b6", "b7", "b8"}) {
        bool value = true;
        EXPECT_NE(0, KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, key, value)) << key;
        EXPECT_FALSE(value) << key;
    }
    for (const char* key : {"bBad", "bEmpty", "bTwo"}) {
        bool value = true;
        EXPECT_EQ(0, KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, key, value)) << key;
        EXPECT_TRUE(value) << key;
    }
}

TEST(SettingsTest, NumbersAreDecimalWholeAndInRange) {
    ScopedSettings settings(
        "[Ferrolink]\n"
        "nPlain=1800\nnSigned=-5\nnPlus=+7\n"
        "nTrailing=12abc\nnHex=0x10\nnEmpty=\nnBlankInside=1 2\nnFraction=1.5\n"
        "nBig=4294967296\nnMaxU32=4294967295\nnMaxU64=18446744073709551615\n"
        "nTooBigU64=18446744073709551616\nnMinI64=-9223372036854775808\n");
    int32_t i32 = 42;
    EXPECT_NE(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nPlain", i32));
    EXPECT_EQ(1800, i32);
    EXPECT_NE(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nSigned", i32));
    EXPECT_EQ(-5, i32);
    EXPECT_NE(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nPlus", i32));
    EXPECT_EQ(7, i32);

    for (const char* key : {"nTrailing", "nHex", "nEmpty", "nBlankInside", "nFraction", "nBig"}) {
        i32 = 42;
        EXPECT_EQ(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, key, i32)) << key;
        EXPECT_EQ(42, i32) << key;
    }

    uint32_t u32 = 1;
    EXPECT_EQ(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nSigned", u32));
    EXPECT_EQ(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nBig", u32));
    EXPECT_NE(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nMaxU32", u32));
    EXPECT_EQ(std::numeric_limits<uint32_t>::max(), u32);

    uint64_t u64 = 1;
    EXPECT_NE(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nMaxU64", u64));
    EXPECT_EQ(std::numeric_limits<uint64_t>::max(), u64);
    EXPECT_EQ(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nTooBigU64", u64));

    int64_t i64 = 1;
    EXPECT_NE(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nMinI64", i64));
    EXPECT_EQ(std::numeric_limits<int64_t>::min(), i64);
    EXPECT_NE(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nBig", i64));
    EXPECT_EQ(4294967296LL, i64);
}

TEST(SettingsTest, WrongKindIsLoggedOnceAndTreatedAsAbsent) {
    ScopedLogFile log;
    ScopedSettings settings("[Ferrolink]\nnAzureWaitTimeForDeviceRefresh=sixty\n");
    uint32_t value = 60;
    EXPECT_EQ(
        0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nAzureWaitTimeForDeviceRefresh", value));
    EXPECT_EQ(60u, value);
    const std::string text = log.Text();
    EXPECT_NE(std::string::npos, text.find("nAzureWaitTimeForDeviceRefresh"));
    EXPECT_NE(std::string::npos, text.find("sixty"));
    EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n'));

    // Values that look secret are not echoed when wrong.
    ScopedSettings secret("[Ferrolink]\nhttpProxyPassword=Sup3rSecret\n");
    int32_t number = 0;
    EXPECT_EQ(0, KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "httpProxyPassword", number));
    EXPECT_EQ(std::string::npos, log.Text().find("Sup3rSecret"));
}

TEST(SettingsTest, MalformedFileIsReportedInOneLineAndGoodLinesStillRead) {
    ScopedLogFile log;
    ScopedSettings settings(
        "[Ferrolink]\n"
        "this line has no equals sign\n"
        "sGood=kept\n"
        "=no key\n"
        "[Broken\n"
        "sAfterBroken=lost\n"
        "\x01\x02\xff binary junk\n");
    std::string value;
    ASSERT_NE(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "sGood", value));
    EXPECT_EQ("kept", value);
    // Under a broken section header a key belongs to no section at all.
    EXPECT_EQ(0, KXPlatformInfo::getString(KX_SETTINGS_SECTION, "sAfterBroken", value));

    const std::string text = log.Text();
    EXPECT_NE(std::string::npos, text.find(settings.path()));
    EXPECT_NE(std::string::npos, text.find("4 malformed line(s), first at line 2"));
    EXPECT_EQ(2, std::count(text.begin(), text.end(), '\n'));  // one line per read
}

}  // namespace
