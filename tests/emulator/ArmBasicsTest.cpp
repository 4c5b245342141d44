// Resource Manager's front door: authentication, routing as ARM routes, api-versions, and
// answers to malformed requests.
// Also the instance metadata service (the header it insists on, the tokens it
// issues) and the scenario's mistakes, which are named.
#include "TestSupport.h"
#include "Tokens.h"

namespace azemu::test {
namespace {

class ArmBasicsTest : public EmulatorTest {
protected:
    Reply withAuthorization(const std::string& value) {
        auto [base, prefix] = splitUrl(emu_->armUrl());
        Client c(base, emu_->caFile());
        std::vector<std::pair<std::string, std::string>> headers;
        if (!value.empty())
            headers.emplace_back("Authorization", value);
        return c.send("GET", prefix + vmPath() + "?api-version=2018-04-01", "", headers);
    }
};

TEST_F(ArmBasicsTest, EveryRequestNeedsATokenThisEmulatorIssued) {
    expectError(withAuthorization(""), 401, "AuthenticationFailed");
    expectError(withAuthorization("Basic abc"), 401, "AuthenticationFailed");
    expectError(withAuthorization("Bearer 0123456789abcdef"), 401, "InvalidAuthenticationToken");
    EXPECT_EQ(withAuthorization("bearer " + token_).status, 200);

    Emulator other(baseScenario(), dir_ / "other-root");
    other.start();
    expectError(withAuthorization("Bearer " + other.issueToken()), 401,
                "InvalidAuthenticationToken");
}

TEST(TokenStoreTest, ExpiredTokensAreToldApartFromUnknownOnes) {
    TokenStore store;
    IssuedToken t = store.issue(60);
    EXPECT_EQ(store.check(t.token, t.notBeforeMs), TokenCheck::Valid);
    EXPECT_EQ(store.check(t.token, t.expiresMs + 1), TokenCheck::Expired);
    EXPECT_EQ(store.check("other", t.notBeforeMs), TokenCheck::Unknown);
    for (const auto& r : store.records())
        EXPECT_NE(r.sha256, t.token);
}

TEST_F(ArmBasicsTest, PathsAreComparedWithoutRegardToCase) {
    std::string path = "SUBSCRIPTIONS/" + emu_->subscriptionId() +
                       "/resourcegroups/test-rg/PROVIDERS/microsoft.compute/VIRTUALMACHINES/TestVM";
    Reply r = arm("GET", path);
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.json()["name"], "testvm");
    EXPECT_EQ(arm("GET", diskPath("DATA0")).status, 200);
    EXPECT_EQ(arm("GET", vmPath(), "", "2018-04-01").status, 200);
    Reply upper = arm("GET", vmPath() + "?API-VERSION=2018-04-01", "", "");
    EXPECT_EQ(upper.status, 200) << upper.body;
    std::string doubled = vmPath();  // doubled slashes are accepted too
    doubled.replace(doubled.find("/resourceGroups"), 1, "//");
    EXPECT_EQ(arm("GET", doubled).status, 200);
}

TEST_F(ArmBasicsTest, ApiVersionIsRequiredAndMustBeKnown) {
    expectError(arm("GET", vmPath(), "", ""), 400, "MissingApiVersionParameter");
    expectError(arm("GET", vmPath(), "", "2099-01-01"), 400, "NoRegisteredProviderFound");
    expectError(arm("GET", diskPath("data0"), "", "garbage"), 400, "NoRegisteredProviderFound");
}

TEST_F(ArmBasicsTest, MissingThingsAreReportedWithArmCodes) {
    expectError(arm("GET", diskPath("nope")), 404, "ResourceNotFound");
    expectError(arm("GET", snapshotPath("nope")), 404, "ResourceNotFound");
    expectError(arm("GET", groupPath() + "/providers/Microsoft.Compute/virtualMachines/nope"), 404,
                "ResourceNotFound");
    expectError(arm("GET", "subscriptions/" + emu_->subscriptionId() +
                               "/resourceGroups/nogroup/providers/Microsoft.Compute/disks/x"),
                404, "ResourceGroupNotFound");
    expectError(arm("GET",
                    "subscriptions/00000000-0000-0000-0000-000000000000/resourceGroups/"
                    "Test-RG/providers/Microsoft.Compute/disks/data0"),
                404, "SubscriptionNotFound");
    expectError(arm("GET", "subscriptions/" + emu_->subscriptionId() +
                               "/providers/Microsoft.Compute/locations/westeurope/operations/"
                               "0c0c0c0c-0000-4000-8000-000000000000"),
                404, "NotFound");
    expectError(arm("GET", groupPath() + "/providers/Microsoft.Compute/galleries/g"), 404,
                "InvalidResourceType");
}

TEST_F(ArmBasicsTest, MalformedBodiesGetBadRequestAndTheEmulatorCarriesOn) {
    expectError(arm("PUT", snapshotPath("s1"), "{not json"), 400, "InvalidRequestContent");
    expectError(arm("PUT", snapshotPath("s1"), "[1,2]"), 400, "InvalidRequestContent");
    expectError(arm("PUT", snapshotPath("s1"), ""), 400, "InvalidRequestContent");
    expectError(arm("PUT", snapshotPath("s1"), R"({"location": 5})"), 400, "InvalidRequestContent");
    expectError(arm("PUT", vmPath(), R"({"location":"westeurope","properties":7})"), 400,
                "InvalidRequestContent");
    expectError(arm("PUT", vmPath(),
                    R"({"location":"westeurope","properties":{"storageProfile":
                           {"dataDisks":[7]}}})"),
                400, "InvalidRequestContent");
    expectError(arm("PUT", vmPath(),
                    R"({"location":"westeurope","properties":{"storageProfile":
                           {"dataDisks":[{"lun":"x"}]}}})"),
                400, "InvalidRequestContent");
    expectError(arm("POST", diskPath("data0")), 405, "MethodNotAllowed");
    EXPECT_EQ(arm("GET", vmPath()).status, 200);
}

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

TEST(ScenarioTest, MistakesInTheScenarioAreNamed) {
    TempDir dir;
    auto error = [&](Json scenario) -> std::string {
        try {
            Emulator e(scenario, dir.path());
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
        return "";
    };
    Json s = baseScenario();
    s["vm"]["dataDisks"][1]["lun"] = 0;
    EXPECT_NE(error(s).find("LUN 0 twice"), std::string::npos) << error(s);
    s = baseScenario();
    s["vm"]["dataDisk"] = Json::array();
    EXPECT_NE(error(s).find("vm.dataDisk"), std::string::npos) << error(s);
    s = baseScenario();
    s["snapshots"][0]["sourceDisk"] = "ghost";
    EXPECT_NE(error(s).find("snapshots[0].sourceDisk"), std::string::npos) << error(s);
    s = baseScenario();
    s["disks"][0]["sku"] = "Gold_LRS";
    EXPECT_NE(error(s).find("disks[0].sku"), std::string::npos) << error(s);
    EXPECT_NE(error(Json("{not json")).find("not valid JSON"), std::string::npos);
    EXPECT_EQ(error(Json(baseScenario().dump())), "");  // the text form works too
    EXPECT_EQ(error(Json::object()), "");               // everything has a default
}

}  // namespace
}  // namespace azemu::test
