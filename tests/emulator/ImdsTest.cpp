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
