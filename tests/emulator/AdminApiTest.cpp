// The admin API under /_emulator/, as shell-level tests and the demo use it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

TEST_F(AdminApiTest, LogConnectionsStateAndEndpoints) {
    arm("GET", vmPath());
    Json log = admin("GET", "/_emulator/requests").json();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back()["method"], "GET");
    EXPECT_EQ(admin("DELETE", "/_emulator/requests").status, 204);
    EXPECT_TRUE(admin("GET", "/_emulator/requests").json().empty());

    Json conns = admin("GET", "/_emulator/connections").json();
    EXPECT_GE(conns["https"].get<int>(), 1);
    EXPECT_EQ(conns["total"], conns["https"].get<int>() + conns["http"].get<int>());

    Json state = admin("GET", "/_emulator/state").json();
    EXPECT_EQ(state["virtualMachines"].size(), 2u);
    EXPECT_EQ(state["snapshots"].size(), 1u);
    EXPECT_GE(state["tokensIssued"].get<int>(), 1);

    Json endpoints = admin("GET", "/_emulator/endpoints").json();
    EXPECT_EQ(endpoints["arm"], emu_->armUrl());
    EXPECT_EQ(endpoints["caFile"], emu_->caFile());

    Json devices = admin("GET", "/_emulator/devices").json();
    EXPECT_EQ(devices["devices"].size(), 6u);
    Reply settled = admin("POST", "/_emulator/devices/settle?timeout=1");
    ASSERT_EQ(settled.status, 200);
    EXPECT_EQ(settled.json()["settled"], true);
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

// What `curl -X POST URL` sends: no body and no Content-Length.
std::string rawRequest(int port, const std::string& text) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        send(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
        char buf[4096];
        for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, n);
    }
    close(fd);
    return reply;
}

TEST_F(AdminApiTest, PostsWithoutABodyAreServed) {
    int port = std::stoi(emu_->adminUrl().substr(emu_->adminUrl().rfind(':') + 1));
    std::string reply = rawRequest(
        port, "POST /_emulator/token HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
    EXPECT_NE(reply.find("access_token"), std::string::npos);
}

}  // namespace
}  // namespace azemu::test
