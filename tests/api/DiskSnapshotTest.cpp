// Disk and snapshot operations: the bodies, URLs and tags actually sent.
#include <string>

#include "EmulatorFixture.h"
#include "platform/FXString.h"

namespace apitest {
namespace {

using DiskSnapshotTest = EmulatorTest;

TEST_F(DiskSnapshotTest, IncrementalSnapshotRequest) {
    InitAndClearLog(77);
    AzureDiskSnapShotInfo snapshot;
    snapshot.name = "snap-inc";
    const CUxError err = api_->CreateAzureSnapshotForDisk(1, instance_, snapshot);
    ASSERT_TRUE(err.IsSuccess()) << err.AsString();
    EXPECT_EQ(snapshot.id, OurPath("snapshots", "snap-inc"));
    EXPECT_EQ(snapshot.sourceResourceId, DiskPath("data1"));
    EXPECT_TRUE(snapshot.incremental);

    const auto puts = Sent("PUT", "/snapshots/snap-inc");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].url, "/subscriptions/" + emu_->subscriptionId() +
                               "/resourceGroups/KX-RG/providers/Microsoft.Compute/snapshots/"
                               "snap-inc?api-version=2019-03-01");
    const azemu::Json body = Body(puts[0]);
    EXPECT_EQ(body.at("name"), "snap-inc");
    EXPECT_EQ(body.at("location"), "westeurope");
    EXPECT_FALSE(body.contains("sku"));
    EXPECT_EQ(body.at("properties").at("incremental"), true);
    EXPECT_EQ(body.at("properties").at("creationData"),
              azemu::Json({{"sourceResourceId", DiskPath("data1")}, {"createOption", "Copy"}}));
    EXPECT_EQ(body.at("tags"),
              azemu::Json({{"SnapShotCreatedByHarrowind",
                            "Harrowind created the snapshot from source disk [data1] and backup "
                            "job [77]"}}));
    // Without the post-create switch nothing is polled.
    EXPECT_TRUE(Sent("GET", "/snapshots/snap-inc").empty());
    EXPECT_TRUE(record_.LoggedExactly("Found azure disk name [data1] lunid [1]"));
}

TEST_F(DiskSnapshotTest, FullSnapshotSkuFollowsZoneRedundancyInAnyCase) {
    InitAndClearLog();
    AzureInstanceInfo zonal = instance_;
    zonal.disks[0].storageAccountType = "premium_zrs";
    AzureDiskSnapShotInfo snapshot;
    snapshot.name = "snap-zrs";
    snapshot.incremental = false;
    ASSERT_TRUE(api_->CreateAzureSnapshotForDisk(0, zonal, snapshot).IsSuccess());
    snapshot.name = "snap-lrs";
    ASSERT_TRUE(api_->CreateAzureSnapshotForDisk(1, instance_, snapshot).IsSuccess());

    const auto zrs = Sent("PUT", "/snapshots/snap-zrs");
    ASSERT_EQ(zrs.size(), 1u);
    EXPECT_NE(zrs[0].url.find("?api-version=2018-04-01"), std::string::npos);
    EXPECT_EQ(Body(zrs[0]).at("sku"), azemu::Json({{"name", "Standard_ZRS"}}));
    EXPECT_FALSE(Body(zrs[0]).at("properties").contains("incremental"));
    const auto lrs = Sent("PUT", "/snapshots/snap-lrs");
    ASSERT_EQ(lrs.size(), 1u);
    EXPECT_EQ(Body(lrs[0]).at("sku"), azemu::Json({{"name", "Standard_LRS"}}));
}

TEST_F(DiskSnapshotTest, PostCreateSwitchPollsAndParsesTheSnapshot) {
    UseSettings(std::string(kFastSettings) + "bAzureDisablePostCreateSnapPhase=true\n");
    InitAndClearLog();
    AzureDiskSnapShotInfo snapshot;
    snapshot.name = "snap-wait";
    ASSERT_TRUE(api_->CreateAzureSnapshotForDisk(0, instance_, snapshot).IsSuccess());
    EXPECT_EQ(snapshot.provisioningState, "Succeeded");
    EXPECT_EQ(snapshot.name, "snap-wait");
    EXPECT_FALSE(Sent("GET", "/snapshots/snap-wait?api-version=2019-03-01").empty());
}

TEST_F(DiskSnapshotTest, MissingOrUnmanagedDiskIsRefusedBeforeSending) {
    azemu::Json scenario = DefaultScenario();
    scenario["vm"]["dataDisks"].push_back(
        {{"lun", 5}, {"vhdUri", "https://store.blob.example/vhds/d5.vhd"}});
    StartEmulator(scenario);
    InitAndClearLog();
    AzureDiskSnapShotInfo snapshot;
    snapshot.name = "s";
    CUxError err = api_->CreateAzureSnapshotForDisk(9, instance_, snapshot);
    EXPECT_EQ(err.Code(), 1);
    EXPECT_EQ(err.Message(), "Could not find the disk with lunid [9]");
    err = api_->CreateAzureSnapshotForDisk(5, instance_, snapshot);
    EXPECT_EQ(err.Code(), 1);
    EXPECT_NE(err.Message().find("Disk at lunid [5] ["), std::string::npos);
    EXPECT_NE(err.Message().find("] is NOT Azure managed disk. Quillfast snapshot is available "
                                 "only for Azure managed disk"),
              std::string::npos);
    // The OS disk's entry (lun -1) is never a data disk.
    EXPECT_EQ(api_->CreateAzureSnapshotForDisk(-1, instance_, snapshot).Message(),
              "Could not find the disk with lunid [-1]");
    EXPECT_TRUE(emu_->requestLog().empty());
}

TEST_F(DiskSnapshotTest, NamesThatWouldAddressAnotherResourceAreRefused) {
    InitAndClearLog();
    for (const std::string name : {"../disks/data0", "a/b", "s?x=1", "s#f", "s%2F", "s p", ".."}) {
        AzureDiskSnapShotInfo snapshot;
        snapshot.name = name;
        EXPECT_EQ(api_->CreateAzureSnapshotForDisk(0, instance_, snapshot).Code(), 774) << name;
        EXPECT_TRUE(api_->DeleteAzureSnapshot(name, instance_).IsError()) << name;
        EXPECT_TRUE(api_->DeleteAzureDisk(name, instance_).IsError()) << name;
        AzureDiskInfo disk;
        EXPECT_TRUE(api_->CreateAzureDiskFromSnapshot(instance_, name, snapshot, disk).IsError());
        EXPECT_FALSE(api_->IsAzureDiskCreatedByKX(name, instance_));
    }
    AzureDiskSnapShotInfo snapshot;
    EXPECT_TRUE(api_->VerifyAzureSnapshot("subscriptions/x/../../other", snapshot).IsError());
    EXPECT_TRUE(api_->DeleteAzureDisk(std::string("/subscriptions/x/disks/a b")).IsError());
    EXPECT_TRUE(emu_->requestLog().empty());
}

TEST_F(DiskSnapshotTest, VerifiedSnapshotGivesADiskWithTheRevertTag) {
    InitAndClearLog(7);
    AzureDiskSnapShotInfo snapshot;
    ASSERT_TRUE(api_->VerifyAzureSnapshot(SnapshotPath("snapA"), snapshot).IsSuccess());
    EXPECT_EQ(snapshot.name, "snapA");
    EXPECT_EQ(snapshot.id, emu_->snapshotId("snapA"));
    EXPECT_EQ(snapshot.provisioningState, "Succeeded");
    const auto gets = Sent("GET", "/snapshots/snapA");
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_NE(gets[0].url.find("?api-version=2018-04-01"), std::string::npos);
    snapshot.storageAccountType = "Premium_LRS";
    snapshot.originalDiskName = "data1";
    AzureDiskInfo disk;
    const CUxError err = api_->CreateAzureDiskFromSnapshot(instance_, "data1-123", snapshot, disk);
    ASSERT_TRUE(err.IsSuccess()) << err.AsString();
    EXPECT_EQ(disk.name, "data1-123");
    EXPECT_TRUE(FXString::EqualsNoCase(disk.id, emu_->diskId("data1-123"))) << disk.id;
    EXPECT_TRUE(disk.isManaged);

    const auto puts = Sent("PUT", "/disks/data1-123");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_NE(puts[0].url.find("?api-version=2018-04-01"), std::string::npos);
    const azemu::Json body = Body(puts[0]);
    EXPECT_EQ(body.at("sku"), azemu::Json({{"name", "Premium_LRS"}}));
    EXPECT_EQ(body.at("properties").at("creationData"),
              azemu::Json({{"sourceResourceId", SnapshotPath("snapA")}, {"createOption", "Copy"}}));
    EXPECT_FALSE(body.contains("zones"));
    EXPECT_EQ(
        body.at("tags"),
        azemu::Json({{"DiskCreatedByHarrowind", "Harrowind created the disk from snapshot snapA"},
                     {"DiskRevertOperationByHarrowind",
                      "Harrowind created the disk from revert restore job 7 original disk "
                      "name [data1]"}}));
    // The provisioning poll reads the same URL.
    EXPECT_FALSE(Sent("GET", "/disks/data1-123").empty());
}

TEST_F(DiskSnapshotTest, DiskFromSnapshotOutsideARevertCarriesOneTagAndTheZones) {
    azemu::Json scenario = DefaultScenario();
    scenario["vm"]["zones"] = {"2"};
    StartEmulator(scenario);
    InitAndClearLog(0);
    AzureDiskSnapShotInfo snapshot;
    ASSERT_TRUE(api_->VerifyAzureSnapshot(SnapshotPath("snapA"), snapshot).IsSuccess());
    AzureDiskInfo disk;
    ASSERT_TRUE(
        api_->CreateAzureDiskFromSnapshot(instance_, "snapA_CLONE", snapshot, disk).IsSuccess());
    const auto puts = Sent("PUT", "/disks/snapA_CLONE");
    ASSERT_EQ(puts.size(), 1u);
    const azemu::Json body = Body(puts[0]);
    EXPECT_EQ(body.at("zones"), azemu::Json::array({"2"}));
    EXPECT_EQ(body.at("tags").size(), 1u);
    EXPECT_TRUE(body.at("tags").contains("DiskCreatedByHarrowind"));
}

TEST_F(DiskSnapshotTest, DiskListStopsAtTheFirstFailure) {
    InitAndClearLog();
    AzureDiskSnapShotInfo snapshot;
    ASSERT_TRUE(api_->VerifyAzureSnapshot(SnapshotPath("snapA"), snapshot).IsSuccess());
    std::vector<AzureDiskSnapShotInfo> snapshots(3, snapshot);
    snapshots[0].diskName = "c1";
    snapshots[1].diskName = "bad/name";
    snapshots[2].diskName = "c3";
    std::vector<AzureDiskInfo> disks;
    EXPECT_TRUE(api_->CreateAzureDiskFromSnapshot(instance_, snapshots, disks).IsError());
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0].name, "c1");
    EXPECT_TRUE(Sent("PUT", "/disks/c3").empty());
}

TEST_F(DiskSnapshotTest, OwnershipFollowsOurTags) {
    azemu::Json scenario = DefaultScenario();
    scenario["disks"] = azemu::Json::parse(R"([
        {"name": "ours", "tags": {"DiskCreatedByHarrowind": "Harrowind created the disk from snapshot s"}},
        {"name": "revertonly", "tags": {"DiskRevertOperationByHarrowind": "x [y]"}},
        {"name": "theirs", "tags": {"owner": "someone"}}
    ])");
    StartEmulator(scenario);
    InitAndClearLog();
    EXPECT_TRUE(api_->IsAzureDiskCreatedByKX("ours", instance_));
    EXPECT_TRUE(record_.LoggedExactly("Resource is created by Harrowind [" +
                                      OurPath("disks", "ours") + "] "));
    EXPECT_FALSE(api_->IsAzureDiskCreatedByKX("revertonly", instance_));
    EXPECT_FALSE(api_->IsAzureDiskCreatedByKX("theirs", instance_));
    EXPECT_TRUE(record_.LoggedExactly("Resource is NOT created by Harrowind [" +
                                      OurPath("disks", "theirs") + "] "));
    EXPECT_FALSE(api_->IsAzureDiskCreatedByKX("missing", instance_));
    EXPECT_TRUE(record_.LoggedExactly("Failed to check if resource is created by Harrowind [" +
                                      OurPath("disks", "missing") + "]"));
    EXPECT_TRUE(api_->IsAzureResourceCreatedByKX(emu_->snapshotId("snapA")));
}

TEST_F(DiskSnapshotTest, VerifyDiskTakesTheOriginalNameFromTheRevertTag) {
    azemu::Json scenario = DefaultScenario();
    scenario["vm"]["dataDisks"][2]["tags"] = {
        {"DiskCreatedByHarrowind", "Harrowind created the disk from snapshot s"},
        {"DiskRevertOperationByHarrowind",
         "Harrowind created the disk from revert restore job 7 original disk name [data1]"}};
    scenario["vm"]["dataDisks"][1]["tags"] = {
        {"DiskRevertOperationByHarrowind",
         "Harrowind created the disk from revert restore job 7 original disk name [other]"}};
    StartEmulator(scenario);
    InitAndClearLog();
    AzureDiskInfo disk;
    ASSERT_TRUE(api_->VerifyAzureDisk(3, instance_, disk).IsSuccess());
    EXPECT_EQ(disk.name, "data3");
    EXPECT_EQ(disk.originalDiskName, "data1");
    EXPECT_TRUE(record_.LoggedExactly("Save original disk name [data1] in snapshot metadata"));
    AzureDiskInfo revertOnly;
    ASSERT_TRUE(api_->VerifyAzureDisk(1, instance_, revertOnly).IsSuccess());
    EXPECT_EQ(revertOnly.originalDiskName, "");
    EXPECT_EQ(api_->VerifyAzureDisk(2, instance_, disk).Message(),
              "Could not find the disk with lunid [2]");
}

TEST_F(DiskSnapshotTest, DeletesAndDeletingAgain) {
    InitAndClearLog();
    ASSERT_TRUE(api_->DeleteAzureSnapshot("snapA", instance_).IsSuccess());
    ASSERT_TRUE(api_->DeleteAzureDisk("spare", instance_).IsSuccess());
    ASSERT_TRUE(api_->DeleteAzureDisk("spare", instance_).IsSuccess());
    ASSERT_TRUE(api_->DeleteAzureDisk(SnapshotPath("snapA")).IsSuccess());
    const auto deletes = Sent("DELETE");
    ASSERT_EQ(deletes.size(), 4u);
    EXPECT_EQ(deletes[0].url, "/subscriptions/" + emu_->subscriptionId() +
                                  "/resourceGroups/KX-RG/providers/Microsoft.Compute/snapshots/"
                                  "snapA?api-version=2018-04-01");
    EXPECT_TRUE(deletes[0].body.empty());
    EXPECT_TRUE(record_.Logged("Deleted  resource ["));
    EXPECT_FALSE(emu_->resource(emu_->diskId("spare")).has_value());
}

TEST_F(DiskSnapshotTest, WaitingForADeletionEndsWhenTheResourceIsGone) {
    InitAndClearLog();
    // Gone already: done at once.
    EXPECT_TRUE(api_->WaitForAzureResourceDeletion(OurPath("disks", "nothing")).IsSuccess());
    // Present and not being deleted: the delete did not take, no point waiting.
    const CUxError present = api_->WaitForAzureResourceDeletion(OurPath("disks", "spare"));
    EXPECT_TRUE(present.IsError());
    EXPECT_NE(present.Message().find("still exists"), std::string::npos) << present.Message();
    EXPECT_EQ(Sent("GET", "/disks/spare").size(), 1u);

    Tune(&azemu::Settings::deleteDelayMs, 200);
    ASSERT_TRUE(api_->DeleteAzureDisk("spare", instance_).IsSuccess());
    ASSERT_TRUE(emu_->resource(emu_->diskId("spare")).has_value());
    EXPECT_TRUE(api_->WaitForAzureResourceDeletion(OurPath("disks", "spare")).IsSuccess());
    EXPECT_FALSE(emu_->resource(emu_->diskId("spare")).has_value());
}

}  // namespace
}  // namespace apitest
