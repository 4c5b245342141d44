// Password decryption and the test seams of the platform environment.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "TestLog.h"
#include "platform/KXPassword.h"
#include "platform/KxPlatformEnv.h"
#include "support/TestEnv.h"

namespace {

using kxtest::ScopedEnv;
using kxtest::ScopedLogFile;

constexpr size_t kBufferSize = 1024;  // what the proxy set-up passes

std::string Decrypt(const std::string& enciphered, int* result = nullptr,
                    size_t size = kBufferSize) {
    char buffer[kBufferSize] = {0};
    const int code = KXPassword::decrypt(enciphered, buffer, size);
    if (result != nullptr)
        *result = code;
    return code == 0 ? std::string(buffer) : std::string("<failed>");
}

TEST(KXPasswordTest, KnownTextDecryptsAndEveryLengthAndByteRoundTrips) {
    // "secret" XOR "KXSO-PWD" is 38 3d 30 3d 48 24, whose base64 is "OD0wPUgk".
    EXPECT_EQ("kxenc1:OD0wPUgk", KXPassword::encrypt("secret"));
    EXPECT_EQ("secret", Decrypt("kxenc1:OD0wPUgk"));
    std::string allBytes;
    for (int c = 1; c < 256; ++c)
        allBytes += static_cast<char>(c);
    for (const std::string& plain :
         {std::string(""), std::string("a"), std::string("ab"), std::string("abc"),
          std::string("P@ss:w0rd with blanks"), std::string(17, 'K'), allBytes}) {
        const std::string enciphered = KXPassword::encrypt(plain);
        EXPECT_EQ(0u, enciphered.find("kxenc1:"));
        if (plain.size() >= 4) {
            EXPECT_EQ(std::string::npos, enciphered.find(plain));
        }
        int result = -1;
        EXPECT_EQ(plain, Decrypt(enciphered, &result)) << plain;
        EXPECT_EQ(0, result);
    }
}

TEST(KXPasswordTest, AnythingElseIsRefusedAndNothingPlainIsLogged) {
    ScopedLogFile log;
    Decrypt(KXPassword::encrypt("Never-Logged-9"));
    EXPECT_EQ(std::string::npos, log.Text().find("Never-Logged-9"));
    for (const std::string& text :
         {std::string("secret"), std::string("kxenc2:OD0wPUgk"), std::string("KXENC1:OD0wPUgk"),
          std::string("kxenc1:OD0wPUg"), std::string("kxenc1:OD0w PUgk"),
          std::string("kxenc1:OD0wPUg*"), std::string("kxenc1:OD0=PUgk"),
          std::string("kxenc1:OD0wP==="), std::string("kxenc1:=D0wPUgk"),
          KXPassword::encrypt(std::string("with\0nul", 8))}) {
        int result = 0;
        EXPECT_EQ("<failed>", Decrypt(text, &result)) << text;
        EXPECT_NE(0, result) << text;
    }
}

TEST(KXPasswordTest, TextAndItsNulMustFitTheBuffer) {
    const std::string enciphered = KXPassword::encrypt("12345");
    EXPECT_EQ("12345", Decrypt(enciphered, nullptr, 6));
    int result = 0;
    EXPECT_EQ("<failed>", Decrypt(enciphered, &result, 5));
    EXPECT_NE(0, result);
    EXPECT_NE(0, KXPassword::decrypt(enciphered, nullptr, 100));

    char buffer[8];
    memset(buffer, 'z', sizeof(buffer));
    ASSERT_NE(0, KXPassword::decrypt(KXPassword::encrypt("12345678"), buffer, sizeof(buffer)));
    EXPECT_EQ(std::string(8, 'z'), std::string(buffer, sizeof(buffer)));  // untouched
}

// Unset seams mean the real thing; endpoint overrides always end in a slash,
// and the metadata service's bare host is what the proxy bypass names.
TEST(KxPlatformEnvTest, UnsetSeamsMeanTheRealThingOverridesEndInASlash) {
    {
        ScopedEnv arm("KXSO_ARM_ENDPOINT", nullptr);
        ScopedEnv imds("KXSO_IMDS_ENDPOINT", nullptr);
        ScopedEnv root("KXSO_ROOT", nullptr);
        EXPECT_EQ("", KxPlatformEnv::ArmEndpointOverride());
        EXPECT_EQ("", KxPlatformEnv::ImdsEndpointOverride());
        EXPECT_EQ("", KxPlatformEnv::Root());
        EXPECT_EQ("http://169.254.169.254/", KxPlatformEnv::ImdsBase());
        EXPECT_EQ("169.254.169.254", KxPlatformEnv::ImdsHost());
        EXPECT_EQ("/sys/block", KxPlatformEnv::LocalPath("/sys/block"));
    }
    ScopedEnv arm("KXSO_ARM_ENDPOINT", "https://127.0.0.1:8443");
    EXPECT_EQ("https://127.0.0.1:8443/", KxPlatformEnv::ArmEndpointOverride());
    const std::pair<const char*, const char*> hosts[] = {
        {"http://127.0.0.1:8081", "127.0.0.1"},
        {"http://imds.test/metadata/", "imds.test"},
        {"http://user@imds.test:80/", "imds.test"},
        {"http://[::1]:8081/", "::1"}};
    for (const auto& [base, host] : hosts) {
        ScopedEnv imds("KXSO_IMDS_ENDPOINT", base);
        EXPECT_EQ(host, KxPlatformEnv::ImdsHost()) << base;
    }
    ScopedEnv imds("KXSO_IMDS_ENDPOINT", "http://127.0.0.1:8081");
    EXPECT_EQ("http://127.0.0.1:8081/", KxPlatformEnv::ImdsEndpointOverride());
    EXPECT_EQ("http://127.0.0.1:8081/", KxPlatformEnv::ImdsBase());
}

TEST(KxPlatformEnvTest, LocalPathPrefixesTheRootWithoutDoubleSlashes) {
    {
        ScopedEnv root("KXSO_ROOT", "/tmp/kxso-root/");
        EXPECT_EQ("/tmp/kxso-root", KxPlatformEnv::Root());
        EXPECT_EQ("/tmp/kxso-root/sys/block", KxPlatformEnv::LocalPath("/sys/block"));
        EXPECT_EQ("/tmp/kxso-root/proc/mounts", KxPlatformEnv::LocalPath("proc/mounts"));
    }
    {
        ScopedEnv root("KXSO_ROOT", "/tmp/kxso-root");
        EXPECT_EQ("/tmp/kxso-root/dev/disk/azure", KxPlatformEnv::LocalPath("/dev/disk/azure"));
    }
    {
        ScopedEnv root("KXSO_ROOT", "/");
        EXPECT_EQ("", KxPlatformEnv::Root());
        EXPECT_EQ("/dev/sdc", KxPlatformEnv::LocalPath("/dev/sdc"));
    }
}

}  // namespace
