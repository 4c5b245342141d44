// The settings file is edited by hand on the machine; every reader must cope
// with whatever an operator (or a broken editor) left in it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "platform/KXPlatformInfo.h"

namespace {

std::string& SettingsPath() {
    static std::string path;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/kxso-fuzz-settings-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
        std::abort();
    }
    close(fd);
    SettingsPath() = pattern;
    setenv("KXSO_SETTINGS_FILE", pattern, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(SettingsPath().c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    bool flag = false;
    int32_t small = 0;
    uint64_t large = 0;
    std::string text;
    KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, "bAzureEngineDisableHttpBulkRequest", flag);
    KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nAzureRESTAPIReqPollIntervalSecs", small);
    KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, "nAzureRESTAPIReqWaitTimeSecs", large);
    KXPlatformInfo::getString(KX_SETTINGS_SECTION, "AzureRegion", text);
    KXPlatformInfo::getValue("GlobalParam", "SENDLOGS_HTTP_PROXY_PASSWORD", text);
    return 0;
}
