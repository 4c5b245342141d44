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

TEST_F(ImdsTest, ComputeDocumentDescribesTheVmWithStringLeaves) {
    Reply r = imds("metadata/instance/compute?api-version=2018-02-01");
    ASSERT_EQ(r.status, 200) << r.body;
    Json c = r.json();
    EXPECT_EQ(c["name"], "testvm");
    EXPECT_EQ(c["vmId"], "11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(c["subscriptionId"], emu_->subscriptionId());
    EXPECT_EQ(c["resourceGroupName"], "Test-RG");  // as Azure spells it, not upper-cased
    EXPECT_EQ(c["location"], "westeurope");
    EXPECT_EQ(c["zone"], "2");
    EXPECT_EQ(c["osType"], "Linux");
    EXPECT_EQ(c["tags"], "owner:tests");
    for (const auto& item : c.items()) {
        EXPECT_TRUE(item.value().is_string()) << item.key() << " is not a string";
    }
}

TEST_F(ImdsTest, InstanceDocumentCarriesNetworkAndCurrentDisks) {
    Reply r = imds("metadata/instance?api-version=2019-08-15");
    ASSERT_EQ(r.status, 200) << r.body;
    Json doc = r.json();
    EXPECT_EQ(doc["network"]["interface"][0]["ipv4"]["ipAddress"][0]["privateIpAddress"],
              "10.1.2.5");
    EXPECT_EQ(doc["network"]["interface"][0]["ipv4"]["subnet"][0]["prefix"], "24");
    Json disks = doc["compute"]["storageProfile"]["dataDisks"];
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[1]["lun"], "1");
    EXPECT_EQ(disks[1]["diskSizeGB"], "200");
    EXPECT_EQ(disks[1]["managedDisk"]["id"], emu_->diskId("data1"));
    EXPECT_EQ(doc["compute"]["resourceId"], emu_->vmResourceId());

    ASSERT_EQ(attach(2, "spare").status, 200);
    Json after = imds("metadata/instance/compute?api-version=2019-08-15").json();
    EXPECT_EQ(after["storageProfile"]["dataDisks"].size(), 3u);
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

TEST_F(ImdsTest, MetadataIsNotServedOnTheResourceManagerListener) {
    Reply r = arm("GET", "metadata/instance/compute?api-version=2018-02-01", "", "");
    EXPECT_NE(r.status, 200);
}

}  // namespace
}  // namespace azemu::test
