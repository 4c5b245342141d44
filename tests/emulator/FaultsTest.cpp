// Injected faults fire on the requests they match, exactly as often as asked; the request log
// and the connection count record what happened.
#include <thread>

#include "Faults.h"
#include "TestSupport.h"

namespace azemu::test {
namespace {

class FaultsTest : public EmulatorTest {
protected:
    int inject(const Json& fault) { return emu_->injectFault(FaultSpec::fromJson(fault)); }

    int firedCount(int id) {
        for (const auto& f : emu_->faults()) {
            if (f.id == id)
                return f.fired;
        }
        return -1;
    }
    Reply attachSpare() { return attachRaw(attachEntry(2, "spare")); }
};

TEST_F(FaultsTest, ErrorFiresExactlyAsOftenAsAsked) {
    int id = inject({{"method", "GET"},
                     {"path", "/disks/data0$"},
                     {"times", 2},
                     {"status", 503},
                     {"code", "ServiceUnavailable"},
                     {"message", "try later"}});
    for (int i = 0; i < 2; ++i) {
        Reply r = arm("GET", diskPath("data0"));
        EXPECT_EQ(r.status, 503);
        EXPECT_EQ(r.json()["error"]["code"], "ServiceUnavailable");
        EXPECT_EQ(r.json()["error"]["message"], "try later");
    }
    EXPECT_EQ(arm("GET", diskPath("data0")).status, 200);
    EXPECT_EQ(arm("GET", diskPath("data1")).status, 200);
    EXPECT_EQ(firedCount(id), 2);

    // The metadata service's errors have its own shape.
    inject({{"path", "oauth2/token"}, {"status", 500}, {"code", "unknown"}, {"message", "boom"}});
    Reply r = imds("metadata/identity/oauth2/token?api-version=2018-02-01&resource=x");
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.json()["error"], "unknown");
    EXPECT_EQ(r.json()["error_description"], "boom");
}

TEST_F(FaultsTest, SkipMethodAndPathNarrowWhatIsHit) {
    int id = inject({{"method", "PUT"}, {"path", "snapshots/"}, {"skip", 1}, {"status", 500}});
    EXPECT_EQ(arm("GET", snapshotPath("data0-snap")).status, 200);  // wrong method
    EXPECT_EQ(createSnapshot("first", "data0").status, 202);        // skipped
    EXPECT_EQ(createSnapshot("second", "data0").status, 500);       // fires
    EXPECT_EQ(arm("GET", snapshotPath("second")).status, 404);      // not carried out
    EXPECT_EQ(createSnapshot("third", "data0").status, 202);        // used up
    EXPECT_EQ(firedCount(id), 1);
}

TEST_F(FaultsTest, UnlimitedFaultsFireUntilCleared) {
    inject(
        {{"path", "virtualMachines"}, {"times", -1}, {"status", 429}, {"code", "TooManyRequests"}});
    for (int i = 0; i < 3; ++i) {
        Reply r = arm("GET", vmPath());
        EXPECT_EQ(r.status, 429);
        EXPECT_FALSE(r.header("Retry-After").empty());
    }
    inject({{"times", -1}, {"status", 500}});
    EXPECT_EQ(admin("GET", "/_emulator/health").status, 200);  // faults never hit the admin API
    emu_->clearFaults();
    EXPECT_EQ(arm("GET", vmPath()).status, 200);
}

TEST_F(FaultsTest, TransportFaultsFireOnceOnEitherListener) {
    const std::string token = "metadata/identity/oauth2/token?api-version=2018-02-01&resource=x";
    inject({{"action", "drop"}, {"path", "/disks/"}});
    EXPECT_FALSE(arm("GET", diskPath("data0")).transportOk);
    EXPECT_EQ(arm("GET", diskPath("data0")).status, 200);
    inject({{"action", "drop"}, {"path", "oauth2/token"}});
    EXPECT_FALSE(imds(token).transportOk);
    EXPECT_EQ(imds(token).status, 200);
    bool logged = false;
    for (const auto& r : emu_->requestLog())
        logged = logged || (r.status == 0 && r.faultId > 0);
    EXPECT_TRUE(logged);

    inject({{"action", "truncate"}, {"path", "virtualMachines"}});
    EXPECT_FALSE(arm("GET", vmPath()).transportOk);
    EXPECT_EQ(arm("GET", vmPath()).status, 200);

    // A drop after processing loses only the answer.
    inject({{"action", "drop"}, {"method", "PUT"}, {"afterProcessing", true}});
    EXPECT_FALSE(createSnapshot("lost-answer", "data0").transportOk);
    EXPECT_EQ(arm("GET", snapshotPath("lost-answer")).status, 200);

    inject({{"action", "nonJson"}, {"status", 502}, {"message", "Bad Gateway"}});
    Reply r = arm("GET", vmPath());
    EXPECT_EQ(r.status, 502);
    EXPECT_THROW(r.json(), Json::exception);
    EXPECT_NE(r.body.find("Bad Gateway"), std::string::npos);
}

TEST_F(FaultsTest, MissingAsyncHeaderButTheUpdateHappens) {
    inject({{"action", "noAsyncHeader"}, {"method", "PUT"}, {"path", "virtualMachines"}});
    Reply r = attachSpare();
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.header("Azure-AsyncOperation").empty());
    EXPECT_TRUE(waitUntil(
        [&] { return getVm()["properties"]["storageProfile"]["dataDisks"].size() == 3; }));
}

TEST_F(FaultsTest, FailedOperationLeavesTheVmAsItWas) {
    inject({{"action", "asyncFail"},
            {"method", "PUT"},
            {"path", "virtualMachines"},
            {"code", "AllocationFailed"},
            {"message", "no capacity"}});
    Reply r = attachSpare();
    ASSERT_EQ(r.status, 200);
    Json status = waitForOperation(r.header("Azure-AsyncOperation"));
    EXPECT_EQ(status["status"], "Failed");
    EXPECT_EQ(status["error"]["code"], "AllocationFailed");
    EXPECT_EQ(status["error"]["message"], "no capacity");
    Json vm = getVm();
    EXPECT_EQ(vm["properties"]["storageProfile"]["dataDisks"].size(), 2u);
    EXPECT_EQ(vm["properties"]["provisioningState"], "Failed");
    EXPECT_FALSE(exists(emu_->root() + "/dev/disk/azure/scsi1/lun2"));
    EXPECT_FALSE(arm("GET", diskPath("spare")).json().contains("managedBy"));

    Reply retry = attachSpare();
    EXPECT_EQ(waitForOperation(retry.header("Azure-AsyncOperation"))["status"], "Succeeded");
    EXPECT_EQ(getVm()["properties"]["provisioningState"], "Succeeded");
}

TEST_F(FaultsTest, CanceledAndNeverEndingOperations) {
    inject({{"action", "asyncCancel"}, {"method", "PUT"}, {"path", "virtualMachines"}});
    Reply canceled = attachSpare();
    Json status = waitForOperation(canceled.header("Azure-AsyncOperation"));
    EXPECT_EQ(status["status"], "Canceled");
    EXPECT_TRUE(status["error"]["code"].is_string());

    inject({{"action", "asyncNeverEnd"}, {"method", "PUT"}, {"path", "virtualMachines"}});
    Reply stuck = attachSpare();
    emu_->completePending();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(armGetUrl(stuck.header("Azure-AsyncOperation")).json()["status"], "InProgress");
    EXPECT_EQ(getVm()["properties"]["storageProfile"]["dataDisks"].size(), 2u);

    inject({{"action", "asyncFail"}, {"method", "PUT"}, {"path", "snapshots"}});
    ASSERT_EQ(createSnapshot("broken", "data0").status, 202);
    EXPECT_EQ(arm("GET", snapshotPath("broken")).json()["properties"]["provisioningState"],
              "Failed");
}

TEST_F(FaultsTest, RequestLogRecordsRequestsButNeverTheToken) {
    emu_->clearRequestLog();
    createSnapshot("logged", "data0");
    arm("GET", snapshotPath("logged"));
    admin("GET", "/_emulator/state");
    auto log = emu_->requestLog();
    ASSERT_EQ(log.size(), 2u);  // admin requests are not logged
    EXPECT_EQ(log[0].method, "PUT");
    EXPECT_EQ(log[0].listener, "https");
    EXPECT_NE(log[0].url.find("snapshots/logged?api-version=2018-04-01"), std::string::npos);
    EXPECT_NE(log[0].body.find("\"createOption\":\"Copy\""), std::string::npos);
    EXPECT_EQ(log[0].status, 202);
    EXPECT_EQ(log[1].status, 200);
    bool sawAuthorization = false;
    for (const auto& r : log) {
        std::string text = r.toJson().dump();
        EXPECT_EQ(text.find(token_), std::string::npos);
        for (const auto& [k, v] : r.headers) {
            if (strcasecmp(k.c_str(), "Authorization") == 0) {
                sawAuthorization = true;
                EXPECT_EQ(v, "Bearer <redacted>");
            }
        }
    }
    EXPECT_TRUE(sawAuthorization);
    EXPECT_EQ(emu_->state().dump().find(token_), std::string::npos);
}

TEST_F(FaultsTest, EmptyBodyKeepsStatusAndHeadersAndTheWorkIsDone) {
    inject({{"action", "emptyBody"}, {"method", "GET"}, {"path", "/disks/data0$"}});
    Reply read = arm("GET", diskPath("data0"));
    EXPECT_TRUE(read.transportOk);
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(read.body, "");
    EXPECT_EQ(read.header("Content-Length"), "0");
    EXPECT_FALSE(read.header("x-ms-request-id").empty());
    EXPECT_EQ(arm("GET", diskPath("data0")).json()["name"], "data0");  // fired once

    inject({{"action", "emptyBody"}, {"method", "PUT"}, {"path", "/snapshots/"}});
    Reply created = createSnapshot("quiet", "data0");
    EXPECT_EQ(created.status, 202);
    EXPECT_EQ(created.body, "");
    EXPECT_FALSE(created.header("Azure-AsyncOperation").empty());
    EXPECT_EQ(arm("GET", snapshotPath("quiet")).status, 200);
}

// Walks both documents side by side: the same keys and shape everywhere, and no scalar leaf
// of the same type as before.
void ExpectSameKeysOtherTypes(const Json& clean, const Json& faulted, const std::string& where) {
    if (clean.is_object() || clean.is_array()) {
        ASSERT_EQ(clean.type(), faulted.type()) << where;
        ASSERT_EQ(clean.size(), faulted.size()) << where;
        if (clean.is_array()) {
            for (size_t i = 0; i < clean.size(); ++i)
                ExpectSameKeysOtherTypes(clean[i], faulted[i],
                                         where + "[" + std::to_string(i) + "]");
            return;
        }
        for (const auto& item : clean.items()) {
            ASSERT_TRUE(faulted.contains(item.key())) << where << "." << item.key();
            ExpectSameKeysOtherTypes(item.value(), faulted[item.key()], where + "." + item.key());
        }
        return;
    }
    if (clean.is_null()) {
        EXPECT_TRUE(faulted.is_null()) << where;
    } else if (clean.is_string()) {
        EXPECT_TRUE(faulted.is_number_integer()) << where << ": " << faulted.dump();
    } else {
        ASSERT_TRUE(faulted.is_string()) << where << ": " << faulted.dump();
        EXPECT_EQ(faulted.get<std::string>(), clean.dump()) << where;
    }
}

TEST_F(FaultsTest, WrongTypesKeepsEveryKeyAndChangesEveryLeaf) {
    const Json clean = getVm();
    inject({{"action", "wrongTypes"}, {"method", "GET"}, {"path", "virtualMachines"}});
    const Json faulted = arm("GET", vmPath()).json();
    // The VM document nests objects in arrays in objects and has strings, numbers and booleans.
    const Json& disk = faulted["properties"]["storageProfile"]["dataDisks"][1];
    EXPECT_EQ(disk["lun"], "1");
    EXPECT_EQ(disk["name"], 7);
    ExpectSameKeysOtherTypes(clean, faulted, "vm");

    const std::string token = "metadata/identity/oauth2/token?api-version=2018-02-01&resource=x";
    const Json cleanToken = imds(token).json();
    inject({{"action", "wrongTypes"}, {"path", "oauth2/token"}});
    const Json faultedToken = imds(token).json();
    EXPECT_EQ(faultedToken["expires_in"], std::stoll(cleanToken["expires_in"].get<std::string>()));
    ExpectSameKeysOtherTypes(cleanToken, faultedToken, "token");
}

TEST(WrongTypesTest, LeavesTakeTheOtherTypeAndNullStays) {
    const Json nested = {{"a", {{"b", Json::array({true, nullptr, "-12", "x1", 1.5, false})}}}};
    EXPECT_EQ(withWrongTypes(nested),
              Json({{"a", {{"b", Json::array({"true", nullptr, -12, 7, "1.5", "false"})}}}}));
    // Strings that only look like integers, or overflow one, become the arbitrary number.
    EXPECT_EQ(withWrongTypes(Json("")), Json(7));
    EXPECT_EQ(withWrongTypes(Json(" 5")), Json(7));
    EXPECT_EQ(withWrongTypes(Json("99999999999999999999")), Json(7));
    EXPECT_EQ(withWrongTypes(Json::object()), Json::object());
}

}  // namespace
}  // namespace azemu::test
