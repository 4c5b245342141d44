// The engine when Azure, the host or the records do not cooperate: each
// failure lands, with its code and text, on the record concerned, later
// records are treated as the operation demands, and nothing else changes.
#include <string>
#include <vector>

#include "NetAppEngineFixture.h"
#include "kxso/kxso_exports.h"

namespace enginetest {
namespace {

using azemu::FaultAction;

using EngineFaultsTest = NetAppEngineTest;

TEST_F(EngineFaultsTest, PrepareNamesEveryExportItCouldNotResolve) {
    auto host = ExportHost();
    host->Record(1).data().sourceDevicePath = SourceDeviceName("vol2", "10.20.0.77");
    EXPECT_EQ(1, Run(kxso_prepareDevices, *host));
    EXPECT_EQ(62008, host->Record(1).data().errorCode);
    EXPECT_EQ("Failed to find volume information for volume [vol2] from array ip [10.20.0.77]",
              host->Record(1).data().errorText);
    EXPECT_EQ(
        "Failed to find volume information for [1] volume(s). Volume details "
        "[10.20.0.77:/vol2].",
        host->Record(0).data().errorText);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(2, host->Record(i).data().status);
        EXPECT_EQ(0u, host->Record(i).data().metadata.count(6));
    }
}

TEST_F(EngineFaultsTest, ASourceDeviceNameThatDoesNotMatchStopsPrepareBeforeAnyRequest) {
    auto host = ExportHost();
    host->Record(0).data().sourceDevicePath = "{idatype:NFS,lunuuid:\\/vol1}";
    EXPECT_EQ(1, Run(kxso_prepareDevices, *host));
    EXPECT_EQ("Failed to parse source device name. Snap Id [1]", host->Record(0).data().errorText);
    EXPECT_TRUE(host->Logged("Failed to parse source device name [{idatype:NFS,lunuuid:\\/vol1}]"));
    EXPECT_TRUE(Sent("*").empty());
}

TEST_F(EngineFaultsTest, ASnapshotWhoseOperationFailsFailsPostSnapshotOnItsRecordOnly) {
    auto host = ExportHost();
    ASSERT_EQ(0, Run(kxso_prepareDevices, *host));
    InjectFault("PUT", "volumes/vol2/snapshots/", FaultAction::AsyncFail);
    ASSERT_EQ(0, Run(kxso_snapDevices, *host));
    EXPECT_EQ(1, Run(kxso_postSnapDevices, *host));
    EXPECT_EQ(0, host->Record(0).data().errorCode);
    EXPECT_EQ(5, host->Record(0).data().status);
    const kxsnap::RecordData& failed = host->Record(1).data();
    EXPECT_EQ(6, failed.status);
    EXPECT_EQ(60001, failed.errorCode);
    EXPECT_EQ(0u, failed.errorText.find("Failed to create snapshot[" + std::string(kSnapUuid2) +
                                        "] of ANF volume[vol2]REST API error ["))
        << failed.errorText;
    // The record still says the snapshot name is unknown.
    EXPECT_EQ(emu_->subscriptionId() + "|kx-anf-rg|kxacct|pool1|vol2||", failed.metadata.at(6));
    EXPECT_TRUE(host->Logged("Post snap operation failed for [1] volume(s) out of [2]."));
}

TEST_F(EngineFaultsTest, PostSnapshotWithoutALinkReadsTheSnapshotByNameAndChecksIt) {
    auto host = ExportHost();
    ASSERT_EQ(0, Run(kxso_prepareDevices, *host));
    ASSERT_EQ(0, Run(kxso_snapDevices, *host));
    for (int i = 0; i < 2; ++i)
        host->Record(i).data().transientMetadata.erase(155);
    // The second record's UUID now differs in letter case from the name the
    // snapshot was created with: Azure finds it, but under its own name.
    std::string upper = kSnapUuid2;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    host->Record(1).data().snapUuid = upper;
    EXPECT_EQ(1, Run(kxso_postSnapDevices, *host));
    EXPECT_TRUE(host->Logged("Failed to get operation link for snapshot [" +
                             std::string(kSnapUuid1) + "] of ANF volume [vol1]"));
    EXPECT_EQ(0, host->Record(0).data().errorCode);
    EXPECT_EQ(emu_->subscriptionId() + "|kx-anf-rg|kxacct|pool1|vol1|" + kSnapUuid1 + "|",
              host->Record(0).data().metadata.at(6));
    EXPECT_EQ(6, host->Record(1).data().status);
    EXPECT_EQ("Error : Mismatch on snapshot name, tried to create [" + upper + "] - created [" +
                  kSnapUuid2 + "] for ANF volume[vol2]",
              host->Record(1).data().errorText);
}

TEST_F(EngineFaultsTest, AMapFindingItsCloneKeepsItAndStillReportsTheExportPath) {
    auto backup = Backup();
    auto first = LaterJob(*backup);
    ASSERT_EQ(0, Run(kxso_mapSnaps, *first));
    const std::string path = first->Record(0).data().mappedDevicePath;
    emu_->clearRequestLog();

    auto again = LaterJob(*backup);
    ASSERT_EQ(0, Run(kxso_mapSnaps, *again));
    EXPECT_TRUE(Sent("PUT").empty());
    EXPECT_EQ((std::vector<int>{11, 9, 12}), again->Record(0).data().statusHistory);
    EXPECT_EQ(path, again->Record(0).data().mappedDevicePath);
    EXPECT_TRUE(again->Logged("Clone [KXClone-" + std::string(kSnapUuid1) +
                              "] already exists - marking as mapped"));
}

TEST_F(EngineFaultsTest, SeveralClonesOfOneSnapshotCarryTheCloneIndex) {
    auto backup = Backup();
    auto host = LaterJob(*backup);
    for (int i = 0; i < 2; ++i) {
        host->Record(i).data().snapOptions = 0x8000;
        host->Record(i).data().cloneIndex = 2;
    }
    ASSERT_EQ(0, Run(kxso_mapSnaps, *host));
    const std::string clone = "KXClone-" + std::string(kSnapUuid1) + "-2";
    EXPECT_TRUE(Volume(clone).has_value());
    const std::string& path = host->Record(0).data().mappedDevicePath;
    EXPECT_EQ(clone, path.substr(path.find(":/") + 2));
}

TEST_F(EngineFaultsTest, ACloneThatNeverFinishesFailsWhenMonitoringGivesUp) {
    auto backup = Backup();
    auto host = LaterJob(*backup);
    // A single try: the monitor gives up at once rather than after a day.
    for (int i = 0; i < 2; ++i)
        host->Record(i).data().config["SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY"] = 1;
    InjectFault("PUT", "volumes/KXClone-", FaultAction::AsyncNeverEnd, -1);
    EXPECT_EQ(1, Run(kxso_mapSnaps, *host));
    for (int i = 0; i < 2; ++i) {
        const kxsnap::RecordData& record = host->Record(i).data();
        EXPECT_EQ(11, record.status);
        EXPECT_EQ(62009, record.errorCode);
        EXPECT_NE(std::string::npos,
                  record.errorText.find("Azure async operation did not complete in time."))
            << record.errorText;
        EXPECT_EQ("", record.mappedDevicePath);
    }
    EXPECT_TRUE(host->Logged("[2] volumes failed to clone."));
}

TEST_F(EngineFaultsTest, ARevertWhoseFirstRequestFailsAbortsTheRest) {
    auto backup = Backup();
    ASSERT_TRUE(emu_->setVolumeContent("vol2", "vol2:v2"));
    auto host = LaterJob(*backup);
    InjectFault("POST", "volumes/vol1/revert", FaultAction::Error, 1, 409, "Conflict");
    EXPECT_EQ(1, Run(kxso_revertSnaps, *host));
    EXPECT_EQ(1u, Sent("POST", "/revert").size());
    EXPECT_EQ(23, host->Record(0).data().status);
    EXPECT_EQ(60005, host->Record(0).data().errorCode);
    EXPECT_NE(std::string::npos, host->Record(0).data().errorText.find("Conflict"));
    EXPECT_EQ(23, host->Record(1).data().status);
    EXPECT_TRUE(host->Logged("Revert aborted for volume [vol2]."));
    EXPECT_TRUE(host->Logged("[2] volumes failed to revert out of [2]."));
    EXPECT_EQ("vol2:v2", Volume("vol2")->content);
}

TEST_F(EngineFaultsTest, RevertToASnapshotThatIsGoneFailsValidationWithoutARequest) {
    auto backup = Backup();
    DeleteBehindOurBack("vol1", kSnapUuid1);
    auto host = LaterJob(*backup);
    EXPECT_EQ(1, Run(kxso_revertSnaps, *host));
    EXPECT_EQ("Source snapshot [" + std::string(kSnapUuid1) + "] not found.",
              host->Record(0).data().errorText);
    EXPECT_TRUE(Sent("POST", "/revert").empty());
    EXPECT_TRUE(host->Logged("Failed to validate snaps for revert [100]"));
}

TEST_F(EngineFaultsTest, DeleteRetiresRecordsThatPrepareTaggedButNeverDescribed) {
    kxtest::TestHost host;
    kxsnap::RecordData tagged;
    tagged.snapId = 7;
    tagged.metadata[160] = "100|101";
    tagged.snapFlags = 0x1000000000000ULL;
    tagged.snapEngineId = 83;
    host.Add(tagged);
    tagged.snapId = 8;
    tagged.metadata[6] = "";  // an empty record: prepare failed after writing it
    host.Add(tagged);
    EXPECT_EQ(0, Run(kxso_deleteSnaps, host));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(20, host.Record(i).data().status);
        EXPECT_EQ(0, host.Record(i).data().errorCode);
    }
    EXPECT_TRUE(Sent("DELETE").empty());
    EXPECT_TRUE(host.Logged("has empty metadata - probably failed in prepare"));
    EXPECT_TRUE(
        host.Logged("Missing snap uuid metadata for delete operation - snap marked as deleted"));
    EXPECT_TRUE(host.Logged("Missing cloud location metadata for delete operation - continuing"));
    EXPECT_TRUE(host.Logged("Missing extended vol info metadata for delete operation"));
}

TEST_F(EngineFaultsTest, DeleteFailuresStayOnTheirRecordAndTheRestAreDeleted) {
    auto backup = Backup();
    auto host = LaterJob(*backup);
    InjectFault("DELETE", "volumes/vol1/snapshots/", FaultAction::Error, -1, 409, "Conflict");
    EXPECT_EQ(2, Run(kxso_deleteSnaps, *host)) << "one of two deleted is a partial success";
    EXPECT_EQ(21, host->Record(0).data().status);
    EXPECT_EQ(60004, host->Record(0).data().errorCode);
    EXPECT_EQ(0u, host->Record(0).data().errorText.find(
                      "Failed to delete snapshot [" + std::string(kSnapUuid1) +
                      "] of source volume [vol1] Error Details : "));
    EXPECT_EQ(20, host->Record(1).data().status);
    EXPECT_FALSE(Resource(SnapshotId("vol1", kSnapUuid1)).is_null());
    EXPECT_TRUE(Resource(SnapshotId("vol2", kSnapUuid2)).is_null());
}

TEST_F(EngineFaultsTest, AnErrorTheRecordCarriesSurvivesAFailedOperation) {
    auto backup = Backup();
    auto host = LaterJob(*backup);
    DeleteBehindOurBack("vol1", kSnapUuid1);
    host->Record(0).data().errorCode = 4242;
    host->Record(0).data().errorText = "set by the host";
    EXPECT_EQ(1, kxso_mapSnaps(host->devices(), host->count(), host->util()));
    EXPECT_EQ(4242, host->Record(0).data().errorCode);
    EXPECT_EQ("set by the host", host->Record(0).data().errorText);
}

}  // namespace
}  // namespace enginetest
