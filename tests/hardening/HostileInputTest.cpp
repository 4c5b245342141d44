// Outside text built to hurt: documents nested far beyond any real answer and
// names megabytes long. Every parser must give a clean failure quickly; none
// may overflow the stack, hang in a backtracking expression or throw.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "KXSnapCloud/KXSnapAzureNetAppRegex.h"
#include "KxSnapAzureAPI.h"
#include "KxSnapAzureUtils.h"

namespace {

constexpr size_t kTenMegabytes = 10 * 1024 * 1024;

std::string NestedArrays(size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

// A nested document that is an object at the top, as every answer is.
std::string NestedUnderProperties(size_t depth) {
    return "{\"properties\":" + NestedArrays(depth) + "}";
}

std::string HugeResourceId() {
    std::string id = "/subscriptions/s/resourceGroups/rg/providers/Microsoft.NetApp/netAppAccounts/a"
                     "/capacityPools/p/volumes/";
    id.append(kTenMegabytes, 'v');
    return id;
}

// Repeats a separator of the expressions so that a backtracking matcher,
// were it reached, would explore an exponential number of splits.
std::string SeparatorBomb(const std::string& separator, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += "x" + separator;
    }
    return text;
}

class StopWatch {
public:
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class AnfHandlers : public KXSnapAzureNetAppAPI {
public:
    AnfHandlers() : KXSnapAzureNetAppAPI(nullptr) {}
    using KXSnapAzureNetAppAPI::processGetAccessTokenResp;
    using KXSnapAzureNetAppAPI::processGetInstanceDetailsResp;
};

TEST(HostileInputTest, DeepDocumentsFailEveryComputeParserCleanly) {
    KxSnapAzureAPI api;
    for (const std::string& document : {NestedArrays(100000), NestedUnderProperties(100000)}) {
        AzureInstanceInfo instance;
        AzureDiskInfo disk;
        AzureDiskSnapShotInfo snapshot;
        AzureResourceInfo resource;
        AzureAccessTokenInfo token;
        EXPECT_FALSE(api.ParseVMMetaDataFromJSONReponse(document, instance).IsSuccess());
        EXPECT_FALSE(api.ParseVMInfoFromJSONReponse(document, instance).IsSuccess());
        EXPECT_FALSE(api.ParseDiskInfoFromJsonResponse(document, disk).IsSuccess());
        EXPECT_FALSE(api.ParseSnapShotInfoFromJSONReponse(document, snapshot).IsSuccess());
        EXPECT_FALSE(api.ParseResourceInfoFromJSONReponse(document, resource).IsSuccess());
        EXPECT_FALSE(api.ParseAccessTokenFromJSONReponse(document, token).IsSuccess());
    }
}

TEST(HostileInputTest, DeepDocumentsFailEveryNetAppHandlerCleanly) {
    AnfHandlers api;
    const std::string document = NestedUnderProperties(100000);
    AzureNetApp::AzureInstanceInfo instance;
    AzureNetApp::AzureAsyncOpInfo asyncOp;
    EXPECT_NE(0, api.processGetAccessTokenResp(document));
    EXPECT_NE(0, api.processGetInstanceDetailsResp(document, instance,
                                                   ANF_API_CONST::ANF_GET_INSTANCE_FLAG_EXTENDED));
    EXPECT_NE(0, api.processGetAsyncOpDetailsResp(document, asyncOp));
    // An error document that cannot be read still leaves the call able to
    // report a failure; it must not crash.
    api.extractErrorMessage(document, false);
    api.extractErrorMessage(document, true);
}

TEST(HostileInputTest, TenMegabyteResourceIdsNeverReachTheExpressions) {
    const std::string id = HugeResourceId();
    StopWatch watch;
    std::smatch match;
    EXPECT_FALSE(AzureNetApp::matchWhole(id, AzureNetApp::rawVolumePathRegex(),
                                         AzureNetApp::resourceIdSeparators(), match));
    EXPECT_FALSE(AzureNetApp::matchWhole(id + "/snapshots/s", AzureNetApp::rawSnapshotPathRegex(),
                                         AzureNetApp::resourceIdSeparators(), match));
    EXPECT_FALSE(AzureNetApp::matchWhole("{idatype:nfs,lunuuid:\\/" + std::string(kTenMegabytes, 's') +
                                             ",targethostname:10.0.0.4}",
                                         AzureNetApp::sourceDeviceNameRegex(),
                                         AzureNetApp::sourceDeviceNameSeparators(), match));
    EXPECT_LT(watch.Seconds(), 5.0);
}

TEST(HostileInputTest, ShortTextsFullOfSeparatorsDoNotBacktrackForever) {
    StopWatch watch;
    std::smatch match;
    for (const std::string& separator : AzureNetApp::resourceIdSeparators()) {
        const std::string bomb = SeparatorBomb(separator, 200).substr(0, 4000);
        AzureNetApp::matchWhole(bomb, AzureNetApp::rawSnapshotPathRegex(),
                                AzureNetApp::resourceIdSeparators(), match);
    }
    for (const std::string& separator : AzureNetApp::sourceDeviceNameSeparators()) {
        const std::string bomb = SeparatorBomb(separator, 200).substr(0, 4000);
        AzureNetApp::matchWhole(bomb, AzureNetApp::sourceDeviceNameRegex(),
                                AzureNetApp::sourceDeviceNameSeparators(), match);
    }
    EXPECT_LT(watch.Seconds(), 5.0);
}

TEST(HostileInputTest, HugeNamesAndMetadataFailTheirChecks) {
    const std::string huge(kTenMegabytes, 'a');
    EXPECT_FALSE(ValidateAzureResourcePath("/subscriptions/" + huge + "/x/../y").IsSuccess());
    AzureSnapMetadata metadata;
    // A well-formed but absurdly long text may parse; it must not crash, and
    // whatever it gives must still be checked before reaching a URL.
    if (ParseAzureSnapMetaData("snapURL:" + huge + ";sourceDiskName:" + huge + "/..;", metadata)) {
        EXPECT_FALSE(ValidateAzureResourceName(metadata.sourceDiskName).IsSuccess());
    }
}

}  // namespace
