// The engine where doing as told would be unsafe or would hide a failure:
// no clone is exported to the world, partial failures are reported as such,
// every record of a job is worked on, a damaged record fails only itself, a
// snapshot is finished only when Azure says it succeeded, and a snapshot
// whose volume is gone counts as gone. Faults are persistent so that a
// retried request meets them again.
#include <ostream>
#include <string>
#include <vector>

#include "NetAppEngineFixture.h"
#include "kxso/kxso_exports.h"

namespace enginetest {
namespace {

using azemu::FaultAction;

std::string Uuid(int index) {
    return index == 0 ? kSnapUuid1 : kSnapUuid2;
}

class EngineSoundnessTest : public NetAppEngineTest {
protected:
    // Post-snapshot as a later process runs it: the status links are gone.
    static void ForgetOperationLinks(kxtest::TestHost& host) {
        for (int16_t i = 0; i < host.count(); ++i)
            host.Record(i).data().transientMetadata.erase(155);
    }
    static void SetConfig(kxtest::TestHost& host, const std::string& key, int value) {
        for (int16_t i = 0; i < host.count(); ++i)
            host.Record(i).data().config[key] = value;
    }
    // A mapped backup, ready to be unmapped.
    std::unique_ptr<kxtest::TestHost> Mapped() {
        auto backup = Backup();
        auto host = LaterJob(*backup);
        EXPECT_EQ(0, Run(kxso_mapSnaps, *host));
        return host;
    }
};

// A machine whose addresses are unknown, with no range configured or an
// empty one, would get a clone every client may write to: none is asked for.
TEST_F(EngineSoundnessTest, AMachineWithoutAddressesGetsNoWorldOpenClone) {
    azemu::Json scenario = TwoVolumeScenario();
    scenario["vm"]["networkInterfaces"][0]["privateIpAddresses"] = azemu::Json::array();
    StartEmulator(scenario);
    auto backup = Backup();
    for (const char* range : {"", "sANFCustomExportPolicyIPRange=\n"}) {
        UseSettings(std::string("[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n") + range);
        auto host = LaterJob(*backup);
        EXPECT_EQ(1, Run(kxso_mapSnaps, *host));
        EXPECT_TRUE(Sent("PUT", "volumes/KXClone-").empty());
        EXPECT_FALSE(AnyCloneExists());
        for (int i = 0; i < 2; ++i) {
            const kxsnap::RecordData& record = host->Record(i).data();
            EXPECT_EQ(11, record.status);
            EXPECT_EQ(62009, record.errorCode);
            EXPECT_EQ(0u, record.errorText.find("Refusing to create clone [KXClone-" + Uuid(i) +
                                                "]: no export rule can be formed"))
                << record.errorText;
            EXPECT_EQ("", record.mappedDevicePath);
        }
    }
}

struct PartialCase {
    const char* name;
    Export operation;
    const char* method;
    const char* failingPath;  // fails the first record's request only
    const char* everyPath;    // fails both records' requests
    int failedStatus;
    int doneStatus;
    int errorCode;
};

void PrintTo(const PartialCase& c, std::ostream* os) {
    *os << c.name;
}

class PartialResultTest : public EngineSoundnessTest,
                          public ::testing::WithParamInterface<PartialCase> {
protected:
    std::unique_ptr<kxtest::TestHost> Job() {
        if (GetParam().operation == kxso_unmapSnaps)
            return Mapped();
        auto backup = Backup();
        return LaterJob(*backup);
    }
};

TEST_P(PartialResultTest, SomeDoneIsTwo) {
    const PartialCase& c = GetParam();
    auto host = Job();
    InjectFault(c.method, c.failingPath, FaultAction::Error, -1, 409, "Conflict");
    EXPECT_EQ(2, Run(c.operation, *host));
    EXPECT_EQ(c.failedStatus, host->Record(0).data().status);
    EXPECT_EQ(c.errorCode, host->Record(0).data().errorCode);
    EXPECT_EQ(c.doneStatus, host->Record(1).data().status);
    EXPECT_EQ(0, host->Record(1).data().errorCode);
}

TEST_P(PartialResultTest, NoneDoneIsOne) {
    const PartialCase& c = GetParam();
    auto host = Job();
    InjectFault(c.method, c.everyPath, FaultAction::Error, -1, 409, "Conflict");
    EXPECT_EQ(1, Run(c.operation, *host));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(c.failedStatus, host->Record(i).data().status);
        EXPECT_EQ(c.errorCode, host->Record(i).data().errorCode);
    }
}

INSTANTIATE_TEST_SUITE_P(
    UnmapAndDelete, PartialResultTest,
    ::testing::Values(PartialCase{"Unmap", kxso_unmapSnaps, "DELETE",
                                  "volumes/KXClone-4d1c9a2e-5b3f-4a6d-9e8c-7f0a1b2c3d41",
                                  "volumes/KXClone-", 15, 14, 62010},
                      PartialCase{"Delete", kxso_deleteSnaps, "DELETE", "volumes/vol1/snapshots/",
                                  "/snapshots/", 21, 20, 60004}),
    [](const ::testing::TestParamInfo<PartialCase>& info) { return info.param.name; });

TEST_F(EngineSoundnessTest, RecordsSharingASnapshotIdAreEachWorkedOn) {
    auto host = ExportHost();
    host->Record(1).data().snapId = 1;
    ASSERT_EQ(0, Run(kxso_prepareDevices, *host));
    ASSERT_EQ(0, Run(kxso_snapDevices, *host));
    ASSERT_EQ(0, Run(kxso_postSnapDevices, *host));
    for (int i = 0; i < 2; ++i) {
        const std::string volume = i == 0 ? "vol1" : "vol2";
        EXPECT_EQ(1u, host->Record(i).data().metadata.count(6)) << volume;
        EXPECT_EQ(5, host->Record(i).data().status) << volume;
        EXPECT_FALSE(Resource(SnapshotId(volume, Uuid(i))).is_null()) << volume;
    }
    auto later = LaterJob(*host);
    EXPECT_EQ(0, Run(kxso_deleteSnaps, *later));
    EXPECT_TRUE(Resource(SnapshotId("vol1", kSnapUuid1)).is_null());
    EXPECT_TRUE(Resource(SnapshotId("vol2", kSnapUuid2)).is_null());
}

TEST_F(EngineSoundnessTest, ADamagedRecordFailsOnlyItsOwnDelete) {
    auto backup = Backup();
    auto host = LaterJob(*backup);
    host->Record(0).data().metadata[6] = "damaged|";
    EXPECT_EQ(2, Run(kxso_deleteSnaps, *host));
    const kxsnap::RecordData& damaged = host->Record(0).data();
    EXPECT_EQ(21, damaged.status);
    EXPECT_EQ(60004, damaged.errorCode);
    EXPECT_EQ("ANF resource group name not found in snap uuid metadata [damaged|]",
              damaged.errorText);
    EXPECT_EQ(20, host->Record(1).data().status);
    EXPECT_EQ(1u, Sent("DELETE").size());
    EXPECT_FALSE(Resource(SnapshotId("vol1", kSnapUuid1)).is_null());
    EXPECT_TRUE(Resource(SnapshotId("vol2", kSnapUuid2)).is_null());
}

TEST_F(EngineSoundnessTest, PostSnapshotWithoutALinkFailsASnapshotThatFailed) {
    auto host = ExportHost();
    ASSERT_EQ(0, Run(kxso_prepareDevices, *host));
    InjectFault("PUT", "volumes/vol2/snapshots/", FaultAction::AsyncFail, -1);
    ASSERT_EQ(0, Run(kxso_snapDevices, *host));
    ForgetOperationLinks(*host);
    EXPECT_EQ(1, Run(kxso_postSnapDevices, *host));
    EXPECT_EQ(0, host->Record(0).data().errorCode);
    EXPECT_EQ(emu_->subscriptionId() + "|kx-anf-rg|kxacct|pool1|vol1|" + kSnapUuid1 + "|",
              host->Record(0).data().metadata.at(6));
    const kxsnap::RecordData& failed = host->Record(1).data();
    EXPECT_EQ(6, failed.status);
    EXPECT_EQ(60001, failed.errorCode);
    EXPECT_EQ("Snapshot [" + std::string(kSnapUuid2) +
                  "] of ANF volume [vol2] is in provisioning state [Failed].",
              failed.errorText);
    EXPECT_EQ(emu_->subscriptionId() + "|kx-anf-rg|kxacct|pool1|vol2||", failed.metadata.at(6));
}

TEST_F(EngineSoundnessTest, PostSnapshotWithoutALinkWaitsForACreatingSnapshot) {
    auto host = ExportHost();
    ASSERT_EQ(0, Run(kxso_prepareDevices, *host));
    Tune(&azemu::Settings::asyncOperationDelayMs, 400);
    SetConfig(*host, "SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY", 1);
    SetConfig(*host, "SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY", 5);
    ASSERT_EQ(0, Run(kxso_snapDevices, *host));
    ForgetOperationLinks(*host);
    emu_->clearRequestLog();
    EXPECT_EQ(0, Run(kxso_postSnapDevices, *host));
    EXPECT_LE(2u, Sent("GET", "volumes/vol1/snapshots/").size());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(0, host->Record(i).data().errorCode);
        EXPECT_NE(std::string::npos, host->Record(i).data().metadata.at(6).find(Uuid(i)));
    }
}

TEST_F(EngineSoundnessTest, PostSnapshotWithoutALinkGivesUpOnASnapshotThatNeverFinishes) {
    auto host = ExportHost();
    ASSERT_EQ(0, Run(kxso_prepareDevices, *host));
    InjectFault("PUT", "volumes/vol1/snapshots/", FaultAction::AsyncNeverEnd, -1);
    SetConfig(*host, "SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY", 1);
    SetConfig(*host, "SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY", 2);
    ASSERT_EQ(0, Run(kxso_snapDevices, *host));
    ForgetOperationLinks(*host);
    emu_->clearRequestLog();
    EXPECT_EQ(1, Run(kxso_postSnapDevices, *host));
    EXPECT_EQ(2u, Sent("GET", "volumes/vol1/snapshots/").size());
    EXPECT_EQ(6, host->Record(0).data().status);
    EXPECT_EQ("Snapshot [" + std::string(kSnapUuid1) +
                  "] of ANF volume [vol1] is still in provisioning state [Creating].",
              host->Record(0).data().errorText);
    EXPECT_EQ(0, host->Record(1).data().errorCode);
}

TEST_F(EngineSoundnessTest, ASnapshotWhoseVolumeIsGoneIsReconciledAndRetired) {
    auto backup = Backup();
    InjectFault("*", "volumes/vol1/snapshots/", FaultAction::Error, -1, 404,
                "ParentResourceNotFound");
    auto recon = LaterJob(*backup);
    EXPECT_EQ(0, Run(kxso_reconcileSnaps, *recon));
    EXPECT_EQ(24, recon->Record(0).data().status);
    EXPECT_EQ(0, recon->Record(0).data().errorCode);

    auto removal = LaterJob(*backup);
    EXPECT_EQ(0, Run(kxso_deleteSnaps, *removal));
    EXPECT_EQ(20, removal->Record(0).data().status);
    EXPECT_EQ(0, removal->Record(0).data().errorCode);
    EXPECT_EQ(20, removal->Record(1).data().status);
}

TEST_F(EngineSoundnessTest, AReconcileCheckThatFailedLeavesItsErrorOnTheRecord) {
    auto backup = Backup();
    InjectFault("GET", "volumes/vol1/snapshots/", FaultAction::Error, -1, 403,
                "AuthorizationFailed");
    auto host = LaterJob(*backup);
    EXPECT_EQ(0, Run(kxso_reconcileSnaps, *host));
    const kxsnap::RecordData& record = host->Record(0).data();
    EXPECT_EQ(5, record.status);
    EXPECT_EQ(60298, record.errorCode);
    EXPECT_EQ(0u, record.errorText.find("Failed to check if source snapshot exists [" +
                                        std::string(kSnapUuid1) + "] - continuing"))
        << record.errorText;
    EXPECT_NE(std::string::npos, record.errorText.find("AuthorizationFailed"));
    EXPECT_EQ(0, host->Record(1).data().errorCode);
    // A check Azure could not answer is counted, and reconcile still succeeds.
    EXPECT_TRUE(host->Logged(
        "Snapshot Recon stats: Total-[2] Externally Deleted-[0] Skipped-[0] Failed-[1]"));
}

// An error document of the metadata service with neither field filled is
// Azure's text as the message's end: the message then names what is missing,
// then what failed.
TEST_F(EngineSoundnessTest, AMetadataServiceErrorStartsWithWhatItsDocumentLacked) {
    const std::pair<const char*, const char*> cases[] = {
        {"oauth2/token", "Failed to connect to Azure Management Portal. REST API error : "},
        {"metadata/instance", "Failed to get details of Azure instance. REST API error : "},
    };
    for (const auto& [path, prefix] : cases) {
        auto host = ExportHost();
        ASSERT_EQ(0, Run(kxso_prepareDevices, *host));
        azemu::FaultSpec fault;
        fault.method = "GET";
        fault.path = path;
        fault.times = -1;
        fault.code = "";
        fault.message = "";
        emu_->injectFault(fault);
        EXPECT_EQ(1, Run(kxso_snapDevices, *host));
        emu_->clearFaults();
        const std::string expected =
            std::string(prefix) +
            "\"error\"  and \"error_description\" tag not found in REST error response";
        const std::string& text = host->Record(0).data().errorText;
        EXPECT_EQ(0u, text.find(expected)) << text;
        EXPECT_NE(std::string::npos, text.find("HTTP status [500]", expected.size())) << text;
    }
}

TEST_F(EngineSoundnessTest, ASnapshotReadThatCannotBeParsedKeepsTheMessageAndAddsWhy) {
    auto host = ExportHost();
    ASSERT_EQ(0, Run(kxso_prepareDevices, *host));
    ASSERT_EQ(0, Run(kxso_snapDevices, *host));
    ForgetOperationLinks(*host);
    InjectFault("GET", "volumes/vol1/snapshots/", FaultAction::NonJson, -1, 200);
    EXPECT_EQ(1, Run(kxso_postSnapDevices, *host));
    const std::string expected = "Failed to get details for snapshot [" + std::string(kSnapUuid1) +
                                 "] of ANF volume[vol1]REST API error [].";
    const std::string& text = host->Record(0).data().errorText;
    EXPECT_EQ(0u, text.find(expected)) << text;
    EXPECT_NE(std::string::npos, text.find("Failed to parse response as JSON", expected.size()))
        << text;
}

}  // namespace
}  // namespace enginetest
