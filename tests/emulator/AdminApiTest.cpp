// The admin API under /_emulator/, as shell-level tests and the demo use it.
#include "TestSupport.h"

namespace azemu::test {
namespace {

class AdminApiTest : public EmulatorTest {};

TEST_F(AdminApiTest, FaultsCanBeInjectedListedAndCleared) {
    Reply added = admin("POST", "/_emulator/faults",
                        R"({"method":"GET","path":"virtualMachines","times":1,"status":500})");
    ASSERT_EQ(added.status, 201) << added.body;
    int id = added.json()["id"];
    EXPECT_EQ(arm("GET", vmPath()).status, 500);
    Json list = admin("GET", "/_emulator/faults").json();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["id"], id);
    EXPECT_EQ(list[0]["fired"], 1);
    EXPECT_EQ(list[0]["remaining"], 0);

    Reply many = admin("POST", "/_emulator/faults", R"([{"status":500},{"status":501}])");
    EXPECT_EQ(many.json()["ids"].size(), 2u);
    EXPECT_EQ(admin("DELETE", "/_emulator/faults/" + std::to_string(id)).status, 204);
    EXPECT_EQ(admin("GET", "/_emulator/faults").json().size(), 2u);
    EXPECT_EQ(admin("DELETE", "/_emulator/faults").status, 204);
    EXPECT_EQ(admin("GET", "/_emulator/faults").json().size(), 0u);
}

TEST_F(AdminApiTest, SettingsArePatchedAndBadInputGetsA400) {
    EXPECT_EQ(admin("POST", "/_emulator/faults", "{oops").status, 400);
    EXPECT_EQ(admin("POST", "/_emulator/faults", R"({"action":"nope"})").status, 400);
    EXPECT_EQ(admin("PATCH", "/_emulator/settings", R"({"deleteMissingStatus":500})").status, 400);
    EXPECT_EQ(admin("GET", "/_emulator/nothing-here").status, 404);
    Reply r = admin("PATCH", "/_emulator/settings", R"({"asyncOperationDelayMs":120})");
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(emu_->settings().asyncOperationDelayMs, 120);
    EXPECT_EQ(emu_->settings().deleteMissingStatus, 204);
    EXPECT_EQ(admin("GET", "/_emulator/settings").json()["asyncOperationDelayMs"], 120);
}

TEST_F(AdminApiTest, ResetAndCompletePending) {
    Settings s = emu_->settings();
    s.provisioningDelayMs = 60000;
    emu_->setSettings(s);
    ASSERT_EQ(createSnapshot("pending", "data0").status, 202);
    EXPECT_EQ(admin("POST", "/_emulator/complete-pending").status, 200);
    EXPECT_EQ(arm("GET", snapshotPath("pending")).json()["properties"]["provisioningState"],
              "Succeeded");
    EXPECT_EQ(admin("POST", "/_emulator/reset").status, 200);
    EXPECT_EQ(arm("GET", snapshotPath("pending")).status, 404);  // the token survived the reset
}

TEST_F(AdminApiTest, ResourceAndTokenEndpoints) {
    Reply r = admin("GET", "/_emulator/resource?id=" + emu_->diskId("data0"));
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.json()["name"], "data0");
    EXPECT_EQ(admin("GET", "/_emulator/resource?id=/nothing").status, 404);
    token_ = admin("POST", "/_emulator/token").json()["access_token"];
    EXPECT_EQ(arm("GET", vmPath()).status, 200);
    // Also served on the HTTPS listener.
    auto [base, prefix] = splitUrl(emu_->armUrl());
    Client c(base, emu_->caFile());
    EXPECT_EQ(c.send("GET", "/_emulator/health").json()["ok"], true);
}

}  // namespace
}  // namespace azemu::test
