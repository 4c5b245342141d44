// The instance metadata service: what it says about the VM, the header it insists on, and the
// tokens it issues.
#include "TestSupport.h"

namespace azemu::test {
namespace {

class ImdsTest : public EmulatorTest {};

TEST_F(ImdsTest, RefusesRequestsWithoutMetadataHeaderInItsOwnErrorShape) {
    for (const char* path : {"metadata/instance/compute?api-version=2018-02-01",
                             "metadata/instance?api-version=2019-08-15",
                             "metadata/identity/oauth2/token?api-version=2018-02-01&resource=x"}) {
        Reply r = imds(path, false);
        EXPECT_EQ(r.status, 400) << path;
        Json body = r.json();
        EXPECT_EQ(body["error"], "bad_request_102") << path;
        EXPECT_TRUE(body["error_description"].is_string()) << path;
    }
}

TEST_F(ImdsTest, ApiVersionMissingOrUnknownIsRefused) {
    Reply missing = imds("metadata/instance/compute");
    EXPECT_EQ(missing.status, 400);
    EXPECT_TRUE(missing.json()["newest-versions"].is_array());
    Reply unknown = imds("metadata/instance/compute?api-version=2001-01-01");
    EXPECT_EQ(unknown.status, 400);
    EXPECT_NE(unknown.json()["error"].get<std::string>().find("api-version"), std::string::npos);
}

TEST_F(ImdsTest, TokenHasStringFieldsAndIsAcceptedByResourceManager) {
    for (const char* version : {"2018-02-01", "2019-08-15"}) {
        std::string resource = emu_->armUrl();
        Reply r = imds(std::string("metadata/identity/oauth2/token?resource=") + resource +
                       "&api-version=" + version);
        ASSERT_EQ(r.status, 200) << r.body;
        Json t = r.json();
        for (const char* key :
             {"access_token", "expires_in", "expires_on", "not_before", "resource", "token_type"}) {
            ASSERT_TRUE(t.contains(key)) << key;
            EXPECT_TRUE(t[key].is_string()) << key;
        }
        EXPECT_EQ(t["token_type"], "Bearer");
        EXPECT_EQ(t["resource"], resource);
        EXPECT_EQ(t["expires_in"], "3599");
        long long now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
        EXPECT_NEAR(std::stoll(t["expires_on"].get<std::string>()), now + 3599, 5);

        token_ = t["access_token"];
        EXPECT_EQ(arm("GET", vmPath()).status, 200);
    }
}

TEST_F(ImdsTest, TokenRequestNeedsResourceAndAnIdentity) {
    Reply noResource = imds("metadata/identity/oauth2/token?api-version=2018-02-01");
    EXPECT_EQ(noResource.status, 400);
    EXPECT_EQ(noResource.json()["error"], "invalid_request");

    Reply otherIdentity =
        imds("metadata/identity/oauth2/token?api-version=2018-02-01&resource=x&client_id=nobody");
    EXPECT_EQ(otherIdentity.status, 400);

    Json scenario = baseScenario();
    scenario["identity"]["enabled"] = false;
    restart(scenario);
    Reply disabled = imds("metadata/identity/oauth2/token?api-version=2018-02-01&resource=x");
    EXPECT_EQ(disabled.status, 400);
    EXPECT_EQ(disabled.json()["error_description"], "Identity not found");
}

}  // namespace
}  // namespace azemu::test
