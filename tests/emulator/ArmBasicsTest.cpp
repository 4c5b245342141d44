// Resource Manager's front door: authentication, routing as ARM routes, api-versions, and
// answers to malformed requests.
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
        if (!value.empty()) headers.emplace_back("Authorization", value);
        return c.send("GET", prefix + vmPath() + "?api-version=2018-04-01", "", headers);
    }
};

void expectArmError(const Reply& r, int status, const std::string& code) {
    EXPECT_EQ(r.status, status) << r.body;
    Json body = Json::parse(r.body, nullptr, false);
    ASSERT_TRUE(body.is_object()) << r.body;
    EXPECT_EQ(body["error"]["code"], code) << r.body;
    EXPECT_TRUE(body["error"]["message"].is_string()) << r.body;
}

TEST_F(ArmBasicsTest, EveryRequestNeedsATokenThisEmulatorIssued) {
    expectArmError(withAuthorization(""), 401, "AuthenticationFailed");
    expectArmError(withAuthorization("Basic abc"), 401, "AuthenticationFailed");
    expectArmError(withAuthorization("Bearer 0123456789abcdef"), 401, "InvalidAuthenticationToken");
    EXPECT_EQ(withAuthorization("bearer " + token_).status, 200);

    Emulator other(baseScenario(), dir_ / "other-root");
    other.start();
    expectArmError(withAuthorization("Bearer " + other.issueToken()), 401,
                   "InvalidAuthenticationToken");
}

TEST(TokenStoreTest, ExpiredTokensAreToldApartFromUnknownOnes) {
    TokenStore store;
    IssuedToken t = store.issue(60);
    EXPECT_EQ(store.check(t.token, t.notBeforeMs), TokenCheck::Valid);
    EXPECT_EQ(store.check(t.token, t.expiresMs + 1), TokenCheck::Expired);
    EXPECT_EQ(store.check("other", t.notBeforeMs), TokenCheck::Unknown);
    for (const auto& r : store.records()) EXPECT_NE(r.sha256, t.token);
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
    expectArmError(arm("GET", vmPath(), "", ""), 400, "MissingApiVersionParameter");
    expectArmError(arm("GET", vmPath(), "", "2099-01-01"), 400, "NoRegisteredProviderFound");
    expectArmError(arm("GET", diskPath("data0"), "", "garbage"), 400, "NoRegisteredProviderFound");
}

TEST_F(ArmBasicsTest, MissingThingsAreReportedWithArmCodes) {
    expectArmError(arm("GET", diskPath("nope")), 404, "ResourceNotFound");
    expectArmError(arm("GET", snapshotPath("nope")), 404, "ResourceNotFound");
    expectArmError(arm("GET", groupPath() + "/providers/Microsoft.Compute/virtualMachines/nope"),
                   404, "ResourceNotFound");
    expectArmError(arm("GET", "subscriptions/" + emu_->subscriptionId() +
                                  "/resourceGroups/nogroup/providers/Microsoft.Compute/disks/x"),
                   404, "ResourceGroupNotFound");
    expectArmError(arm("GET",
                       "subscriptions/00000000-0000-0000-0000-000000000000/resourceGroups/"
                       "Test-RG/providers/Microsoft.Compute/disks/data0"),
                   404, "SubscriptionNotFound");
    expectArmError(arm("GET", "subscriptions/" + emu_->subscriptionId() +
                                  "/providers/Microsoft.Compute/locations/westeurope/operations/"
                                  "0c0c0c0c-0000-4000-8000-000000000000"),
                   404, "NotFound");
    expectArmError(arm("GET", groupPath() + "/providers/Microsoft.Compute/galleries/g"), 404,
                   "InvalidResourceType");
}

TEST_F(ArmBasicsTest, MalformedBodiesGetBadRequestAndTheEmulatorCarriesOn) {
    expectArmError(arm("PUT", snapshotPath("s1"), "{not json"), 400, "InvalidRequestContent");
    expectArmError(arm("PUT", snapshotPath("s1"), "[1,2]"), 400, "InvalidRequestContent");
    expectArmError(arm("PUT", snapshotPath("s1"), ""), 400, "InvalidRequestContent");
    expectArmError(arm("PUT", snapshotPath("s1"), R"({"location": 5})"), 400,
                   "InvalidRequestContent");
    expectArmError(arm("PUT", vmPath(), R"({"location":"westeurope","properties":7})"), 400,
                   "InvalidRequestContent");
    expectArmError(arm("PUT", vmPath(),
                       R"({"location":"westeurope","properties":{"storageProfile":
                           {"dataDisks":[7]}}})"),
                   400, "InvalidRequestContent");
    expectArmError(arm("PUT", vmPath(),
                       R"({"location":"westeurope","properties":{"storageProfile":
                           {"dataDisks":[{"lun":"x"}]}}})"),
                   400, "InvalidRequestContent");
    expectArmError(arm("POST", diskPath("data0")), 405, "MethodNotAllowed");
    EXPECT_EQ(arm("GET", vmPath()).status, 200);
}

}  // namespace
}  // namespace azemu::test
