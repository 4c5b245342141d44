// The engine's metadata records on real host records: what prepare writes,
// how the snapshot completes them, and how every later operation reads them
// back, damaged or missing records included. No Azure is involved: these
// phases run before any request.
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapCloudUtil.h"
#include "support/TestHost.h"

namespace {

constexpr const char* kUuidRecord = "sub-1|rg-1|acct-1|pool-1|vol-1|snap-1|";
constexpr const char* kLocationRecord = "westeurope|";
constexpr const char* kExtendedRecord = "fs-1|sid-1|";

// The engine with its work objects in view.
class EngineProbe : public KXSnapAzureNetApp {
public:
    using KXSnapAzureNetApp::lastError;
    using KXSnapAzureNetApp::snapObjs;
    std::string errorText() const { return error.str(); }
    // Work objects are kept in the order of the job's records; these tests
    // name them by their records' snapshot ids.
    AzureNetApp::KxSnapANFSnapObj& bySnapNum(int64_t snapNum) {
        for (auto& entry : snapObjs) {
            if (entry.second->snapNum == snapNum)
                return *entry.second;
        }
        throw std::out_of_range("no work object for snapshot " + std::to_string(snapNum));
    }
};

kxsnap::RecordData SnapshotRecord(int64_t snapId, const std::string& uuid = kUuidRecord,
                                  const std::string& location = kLocationRecord,
                                  const std::string& extended = kExtendedRecord) {
    kxsnap::RecordData data;
    data.snapId = snapId;
    data.metadata[6] = uuid;
    data.metadata[154] = location;
    data.metadata[161] = extended;
    return data;
}

// initialize() of `engine` for `opType` on the records given, by default
// every record of the host.
bool InitializeOn(EngineProbe& engine, kxtest::TestHost& host, short opType,
                  std::vector<KXSO::SnapInfo*> records = {}) {
    if (records.empty())
        records.assign(host.devices(), host.devices() + host.count());
    return engine.initialize(records, KXSnapCloudUtil::getInstance(100, host.util()), opType);
}

class EngineMetadataTest : public ::testing::Test {
protected:
    bool Initialize(short opType) { return InitializeOn(engine_, host_, opType); }
    AzureNetApp::KxSnapANFSnapObj& Work(int64_t snapNum) { return engine_.bySnapNum(snapNum); }

    kxtest::TestHost host_;
    EngineProbe engine_;
};

TEST_F(EngineMetadataTest, CompleteRecordsFillTheWorkObjectForEveryOperation) {
    for (short opType : {1, 2, 3, 4, 6, 7, 15}) {
        kxtest::TestHost host;
        kxsnap::RecordData data = SnapshotRecord(5);
        data.transientMetadata[102] = "/subscriptions/sub-1/x/volumes/vol-1|";
        host.Add(data);
        EngineProbe engine;
        ASSERT_TRUE(InitializeOn(engine, host, opType)) << opType;
        const AzureNetApp::KxSnapANFSnapObj& work = engine.bySnapNum(5);
        const AzureNetApp::AzureNetAppSnapshotInfo& info = work.snapshotInfo;
        EXPECT_EQ("sub-1", info.subscriptionId);
        EXPECT_EQ("rg-1", info.resourceGroupName);
        EXPECT_EQ("acct-1", info.netappAccountName);
        EXPECT_EQ("pool-1", info.capacityPoolName);
        EXPECT_EQ("vol-1", info.volumeName);
        EXPECT_EQ("snap-1", work.snapName);
        EXPECT_EQ("snap-1", info.snapshotName);
        EXPECT_EQ("westeurope", info.location);
        EXPECT_EQ("fs-1", info.fileSystemId);
        EXPECT_EQ("sid-1", info.snapshotId);
        // Only snapshot creation reads the transient volume path.
        EXPECT_EQ(opType == 6 ? "/subscriptions/sub-1/x/volumes/vol-1" : "", info.rawPath);
        EXPECT_EQ(0, host.Record(0).data().errorCode);
    }
}

TEST_F(EngineMetadataTest, MissingFieldsFailWithCodeEightAndTheRecordInTheMessage) {
    struct Case {
        std::string uuid;
        std::string message;
    };
    const std::vector<Case> cases{
        {"|rg|a|p|v|s|", "ANF subscription id not found in snap uuid metadata [|rg|a|p|v|s|]"},
        {"sub||a|p|v|s|",
         "ANF resource group name not found in snap uuid metadata [sub||a|p|v|s|]"},
        {"sub|rg||p|v|s|",
         "ANF NetApp account name not found in snap uuid metadata [sub|rg||p|v|s|]"},
        {"sub|rg|a||v|s|",
         "ANF capacity pool name not found in snap uuid metadata [sub|rg|a||v|s|]"},
        // The last field lacks its "|": it was never completely written.
        {"sub|rg|a|p|v", "ANF volume name not found in snap uuid metadata [sub|rg|a|p|v]"},
        {"sub|rg|a|p|v||", "Snapshot name not found in snap uuid metadata [sub|rg|a|p|v||]"},
        {"sub|rg|a|p|v|s", "Snapshot name not found in snap uuid metadata [sub|rg|a|p|v|s]"},
    };
    for (const Case& c : cases) {
        kxtest::TestHost host;
        host.Add(SnapshotRecord(9, c.uuid));
        EngineProbe engine;
        EXPECT_FALSE(InitializeOn(engine, host, 2));
        EXPECT_EQ(8, engine.lastError) << c.uuid;
        // Map's error code, the parser's text, on the record concerned.
        EXPECT_EQ(62009, host.Record(0).data().errorCode);
        EXPECT_EQ(c.message, host.Record(0).data().errorText);
        EXPECT_TRUE(host.Logged("Getting details from snap uuid metadata failed. 8:" + c.message,
                                "KXSnapAzureNetapp"));
        EXPECT_TRUE(host.Logged("Failed to parse snap uuid metadata"));
    }
}

TEST_F(EngineMetadataTest, SnapshotNameAndIdMayBeMissingWhileTheSnapshotIsBeingTaken) {
    for (short opType : {1, 6, 7, 15}) {
        kxtest::TestHost host;
        kxsnap::RecordData data = SnapshotRecord(3, "sub|rg|a|p|v||", "westeurope|", "fs-9||");
        data.transientMetadata[102] = "/subscriptions/sub/volumes/v|";
        host.Add(data);
        EngineProbe engine;
        EXPECT_TRUE(InitializeOn(engine, host, opType)) << opType;
        EXPECT_EQ("", engine.bySnapNum(3).snapName);
        EXPECT_EQ("", engine.bySnapNum(3).snapshotInfo.snapshotId);
    }
    host_.Add(SnapshotRecord(3, kUuidRecord, kLocationRecord, "fs-9||"));
    EXPECT_FALSE(Initialize(4));
    EXPECT_EQ("SnapshotId not found in extended vol info metadata [fs-9||]",
              host_.Record(0).data().errorText);
    EXPECT_EQ(60005, host_.Record(0).data().errorCode);
}

TEST_F(EngineMetadataTest, EmptyOrMissingRecordsFailEveryOperationButDeleteAndReconcile) {
    struct Case {
        int id;
        std::string emptyMessage;
        std::string missingMessage;
    };
    const std::vector<Case> cases{
        {6, "Empty snap uuid metadata found - may be prepare itself failed",
         "Failed to get snap uuid metadata and hence failing"},
        {154, "Empty snap cloud location metadata found - may be prepare itself failed",
         "Failed to get snap cloud location metadata and hence failing"},
        {161, "Empty snap uuid metadata found - may be prepare itself failed",
         "Failed to get snap uuid metadata and hence failing"},
    };
    for (const Case& c : cases) {
        kxtest::TestHost host;
        kxsnap::RecordData empty = SnapshotRecord(1);
        empty.metadata[c.id] = "";
        host.Add(empty);
        kxsnap::RecordData missing = SnapshotRecord(2);
        missing.metadata.erase(c.id);
        host.Add(missing);

        EngineProbe emptyEngine;
        EXPECT_FALSE(InitializeOn(emptyEngine, host, 3, {&host.Record(0)}));
        EXPECT_EQ(16, emptyEngine.lastError);
        EXPECT_EQ(c.emptyMessage, host.Record(0).data().errorText);
        EXPECT_EQ(62010, host.Record(0).data().errorCode);

        EngineProbe missingEngine;
        EXPECT_FALSE(InitializeOn(missingEngine, host, 3, {&host.Record(1)}));
        EXPECT_EQ(6, missingEngine.lastError);
        EXPECT_EQ(c.missingMessage, host.Record(1).data().errorText);

        for (short tolerant : {1, 7}) {
            EngineProbe engine;
            EXPECT_TRUE(InitializeOn(engine, host, tolerant)) << c.id << " " << tolerant;
        }
    }
}

TEST_F(EngineMetadataTest, SnapshotCreationNeedsTheTransientVolumePath) {
    struct Case {
        std::optional<std::string> transient;
        int code;
        std::string message;
    };
    const std::vector<Case> cases{
        {std::nullopt, 6, "Failed to get snap transient metadata and hence failing"},
        {"", 16, "Empty snap transient metadata found - may be prepare itself failed"},
        {"/subscriptions/s/volumes/v", 8,
         "ANF volume path not found in snap transient metadata [/subscriptions/s/volumes/v]"},
    };
    for (const Case& c : cases) {
        kxtest::TestHost host;
        kxsnap::RecordData data = SnapshotRecord(1);
        if (c.transient)
            data.transientMetadata[102] = *c.transient;
        host.Add(data);
        EngineProbe engine;
        EXPECT_FALSE(InitializeOn(engine, host, 6));
        EXPECT_EQ(c.code, engine.lastError);
        EXPECT_EQ(c.message, host.Record(0).data().errorText);
        EXPECT_EQ(60001, host.Record(0).data().errorCode);
        EXPECT_TRUE(host.Logged("Getting details from snap transient metadata failed. " +
                                std::to_string(c.code) + ":" + c.message));
    }
}

TEST_F(EngineMetadataTest, PrepareWritesRecordsThatTheSnapshotCompletes) {
    kxsnap::RecordData data;
    data.snapId = 12;
    data.snapUuid = "0d9c4f1e-6a5b-4c3d-8e7f-102938475610";
    host_.Add(data);
    ASSERT_TRUE(Initialize(5));
    AzureNetApp::KxSnapANFSnapObj& work = Work(12);
    AzureNetApp::AzureNetAppSnapshotInfo& info = work.snapshotInfo;
    info.subscriptionId = "sub-1";
    info.resourceGroupName = "rg-1";
    info.netappAccountName = "acct-1";
    info.capacityPoolName = "pool-1";
    info.volumeName = "vol-1";
    info.location = "westeurope";
    info.fileSystemId = "fs-1";
    info.rawPath =
        "/subscriptions/sub-1/resourceGroups/rg-1/providers/Microsoft.NetApp/"
        "netAppAccounts/acct-1/capacityPools/pool-1/volumes/vol-1";
    ASSERT_TRUE(engine_.setSnapMetadata(work));
    const kxsnap::RecordData& stored = host_.Record(0).data();
    EXPECT_EQ("sub-1|rg-1|acct-1|pool-1|vol-1||", stored.metadata.at(6));
    EXPECT_EQ("westeurope|", stored.metadata.at(154));
    EXPECT_EQ("fs-1||", stored.metadata.at(161));
    EXPECT_EQ(info.rawPath + "|", stored.transientMetadata.at(102));
    EXPECT_EQ(0u, stored.metadata.count(102));

    ASSERT_TRUE(engine_.generateUUID(work));
    EXPECT_EQ("0d9c4f1e-6a5b-4c3d-8e7f-102938475610", work.snapName);
    info.snapshotId = "9f8e7d6c-0000-4000-8000-000000000001";
    ASSERT_TRUE(engine_.updateSnapMetadataWithSnapInfo(work));
    EXPECT_EQ("sub-1|rg-1|acct-1|pool-1|vol-1|0d9c4f1e-6a5b-4c3d-8e7f-102938475610|",
              stored.metadata.at(6));
    EXPECT_EQ("fs-1|9f8e7d6c-0000-4000-8000-000000000001|", stored.metadata.at(161));
    // A post-snapshot that runs again leaves complete records as they are.
    ASSERT_TRUE(engine_.updateSnapMetadataWithSnapInfo(work));
    EXPECT_EQ("sub-1|rg-1|acct-1|pool-1|vol-1|0d9c4f1e-6a5b-4c3d-8e7f-102938475610|",
              stored.metadata.at(6));
    EXPECT_EQ("fs-1|9f8e7d6c-0000-4000-8000-000000000001|", stored.metadata.at(161));
}

TEST_F(EngineMetadataTest, CompletingARecordTheHostCannotReadFailsWithCodeSix) {
    kxsnap::RecordData data;
    data.snapId = 2;
    data.metadata[161] = "fs||";
    host_.Add(data);
    ASSERT_TRUE(Initialize(5));
    EXPECT_FALSE(engine_.updateSnapMetadataWithSnapInfo(Work(2)));
    EXPECT_EQ(6, engine_.lastError);
    EXPECT_EQ("Failed to get snap uuid metadata, failing operation", engine_.errorText());

    host_.Record(0).data().metadata[6] = "s|r|a|p|v||";
    host_.Record(0).data().metadata.erase(161);
    EXPECT_FALSE(engine_.updateSnapMetadataWithSnapInfo(Work(2)));
    EXPECT_EQ("Failed to get ANF extended metadata, failing operation.", engine_.errorText());
    EXPECT_TRUE(host_.Logged("6:Failed to get ANF extended metadata, failing operation."));
}

TEST_F(EngineMetadataTest, AHostThatRefusesAUuidFailsNamingTheDevice) {
    kxsnap::RecordData data;
    data.snapId = 4;
    data.refuse.insert("generateSnapUuid");
    host_.Add(data);
    ASSERT_TRUE(Initialize(5));
    EXPECT_FALSE(engine_.generateUUID(Work(4)));
    EXPECT_EQ("Failed to get snap uuid for device []", engine_.errorText());
}

}  // namespace
