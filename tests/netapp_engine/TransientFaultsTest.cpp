// The NetApp Files engine under faults Resource Manager produces every day,
// met while Azure is still working (operation delays): a revert whose answer
// is lost, status polls that fail, a cancelled operation, and clones found
// still being made or left failed by an earlier map.
#include <chrono>
#include <string>
#include <vector>

#include "NetAppEngineFixture.h"
#include "kxso/kxso_exports.h"

namespace enginetest {
namespace {

using azemu::FaultAction;

constexpr int kOperationDelayMs = 300;

class AnfTransientFaultsTest : public NetAppEngineTest {
protected:
    void SetUp() override {
        NetAppEngineTest::SetUp();
        backup_ = Backup();
        Tune(&azemu::Settings::asyncOperationDelayMs, kOperationDelayMs);
        emu_->clearRequestLog();
    }
    // A later job that polls every second, at most `count` - 1 times.
    std::unique_ptr<kxtest::TestHost> Job(int count = 60) {
        auto host = LaterJob(*backup_);
        for (int i = 0; i < host->count(); ++i) {
            host->Record(i).data().config["SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY"] = 1;
            host->Record(i).data().config["SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY"] = count;
        }
        return host;
    }
    static std::string Clone(const char* uuid) { return "KXClone-" + std::string(uuid); }

    std::unique_ptr<kxtest::TestHost> backup_;
};

// The revert's answer is lost after Azure started it. The engine neither
// trusts libcurl's silent re-send (which met the running revert with 409)
// nor reports success blindly: once the volume is idle it reverts once more
// and follows that operation.
TEST_F(AnfTransientFaultsTest, ARevertWhoseAnswerIsLostIsSentAgainOnceTheVolumeIsIdle) {
    ASSERT_TRUE(emu_->setVolumeContent("vol1", "vol1:v2"));
    ASSERT_TRUE(emu_->setVolumeContent("vol2", "vol2:v2"));
    auto host = Job();
    // Once: the revert goes on a connection of its own, so libcurl has
    // nothing to re-send it on; a second firing would meet the deliberate
    // re-send (see the next test).
    LoseAnswers("POST", "volumes/vol1/revert", 1);
    EXPECT_EQ(0, Run(kxso_revertSnaps, *host));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(22, host->Record(i).data().status) << host->Record(i).data().errorText;
    EXPECT_EQ("vol1:v1", Volume("vol1")->content);
    EXPECT_EQ("vol2:v1", Volume("vol2")->content);
    const std::vector<azemu::RequestRecord> posts = Sent("POST", "volumes/vol1/revert");
    ASSERT_EQ(2u, posts.size());
    EXPECT_EQ(0, posts[0].status);    // lost, and not re-sent by libcurl
    EXPECT_EQ(202, posts[1].status);  // the deliberate second revert
    EXPECT_TRUE(host->Logged("sending it again once the volume is idle"));
}

// Two answers lost in a row fail the revert: no success without an operation
// that said "Succeeded".
TEST_F(AnfTransientFaultsTest, ARevertNeverConfirmedIsAFailure) {
    auto host = Job();
    LoseAnswers("POST", "volumes/vol1/revert", -1);
    EXPECT_EQ(1, Run(kxso_revertSnaps, *host));
    EXPECT_EQ(23, host->Record(0).data().status);
    EXPECT_EQ(60005, host->Record(0).data().errorCode);
    // The first and the one deliberate re-send; libcurl re-sent neither.
    EXPECT_EQ(2u, Sent("POST", "volumes/vol1/revert").size());
}

// Failed polls (503 with Retry-After, dropped connections) wait like a
// running operation: never two status requests of one operation sooner than
// the interval, the back-off or the server's Retry-After allow.
TEST_F(AnfTransientFaultsTest, FailedStatusPollsAreSpacedAndTheMapSucceeds) {
    auto host = Job();
    InjectFault("GET", "operationResults", FaultAction::Error, 2, 503);
    InjectFault("GET", "operationResults", FaultAction::Drop, 2);
    EXPECT_EQ(0, Run(kxso_mapSnaps, *host));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(12, host->Record(i).data().status) << host->Record(i).data().errorText;
    const std::vector<azemu::RequestRecord> polls = Sent("GET", "operationResults");
    ASSERT_GE(polls.size(), 5u);
    EXPECT_LT(polls.size(), 12u);
    for (size_t i = 1; i < polls.size(); ++i) {
        if (polls[i].url == polls[i - 1].url && polls[i - 1].status != 0) {
            EXPECT_GE(polls[i].timeMs - polls[i - 1].timeMs, 900) << i;
        }
    }
}

TEST_F(AnfTransientFaultsTest, ACancelledCloneCreationFailsAtOnce) {
    auto host = Job(1440);
    // Pinned to the first record's clone: both clones are requested side by side.
    InjectFault("PUT", "volumes/" + Clone(kSnapUuid1), FaultAction::AsyncCancel, 1, 500,
                "OperationCanceled");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, Run(kxso_mapSnaps, *host));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    const kxsnap::RecordData& record = host->Record(0).data();
    EXPECT_EQ(11, record.status);
    EXPECT_NE(std::string::npos, record.errorText.find("OperationCanceled")) << record.errorText;
}

// A clone whose creation failed is not a mapped clone: the next map deletes
// it, waits until it is gone, and makes it again.
TEST_F(AnfTransientFaultsTest, ACloneLeftFailedIsDeletedAndMadeAgain) {
    auto first = Job();
    InjectFault("PUT", "volumes/" + Clone(kSnapUuid1), FaultAction::AsyncFail);
    EXPECT_EQ(1, Run(kxso_mapSnaps, *first));
    ASSERT_TRUE(Volume(Clone(kSnapUuid1)).has_value());
    EXPECT_EQ("Failed", Volume(Clone(kSnapUuid1))->provisioningState);
    emu_->clearRequestLog();

    auto again = Job();
    EXPECT_EQ(0, Run(kxso_mapSnaps, *again));
    EXPECT_EQ(1u, Sent("DELETE", "volumes/" + Clone(kSnapUuid1)).size());
    EXPECT_EQ(1u, Sent("PUT", "volumes/" + Clone(kSnapUuid1)).size());
    EXPECT_EQ(12, again->Record(0).data().status) << again->Record(0).data().errorText;
    ASSERT_TRUE(Volume(Clone(kSnapUuid1)).has_value());
    EXPECT_EQ("Succeeded", Volume(Clone(kSnapUuid1))->provisioningState);
    EXPECT_EQ("vol1:v1", Volume(Clone(kSnapUuid1))->content);
}

// A clone still being made when the next map comes is waited for, then used.
TEST_F(AnfTransientFaultsTest, ACloneStillBeingMadeIsWaitedFor) {
    Tune(&azemu::Settings::asyncOperationDelayMs, 2500);
    auto first = Job(1);  // gives up at once
    EXPECT_EQ(1, Run(kxso_mapSnaps, *first));
    ASSERT_TRUE(Volume(Clone(kSnapUuid1)).has_value());
    EXPECT_EQ("Creating", Volume(Clone(kSnapUuid1))->provisioningState);
    emu_->clearRequestLog();

    auto again = Job();
    EXPECT_EQ(0, Run(kxso_mapSnaps, *again));
    EXPECT_TRUE(Sent("PUT").empty());
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(12, again->Record(i).data().status) << again->Record(i).data().errorText;
}

}  // namespace
}  // namespace enginetest
