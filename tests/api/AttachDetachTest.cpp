// Attach, detach, map and unmap: one PUT of the whole VM per change, the
// re-read after it, and the clean-up on failure.
#include <algorithm>
#include <string>
#include <vector>

#include "EmulatorFixture.h"

namespace apitest {
namespace {

using AttachDetachTest = EmulatorTest;

std::vector<int> LunsOf(const azemu::Json& vmUpdateBody) {
    std::vector<int> luns;
    for (const auto& entry : vmUpdateBody.at("properties").at("storageProfile").at("dataDisks"))
        luns.push_back(entry.at("lun").get<int>());
    std::sort(luns.begin(), luns.end());
    return luns;
}

AzureDiskInfo SpareDisk(const azemu::Emulator& emu, const std::string& name) {
    AzureDiskInfo disk;
    disk.name = name;
    disk.id = emu.diskId(name);
    disk.storageAccountType = "Standard_LRS";
    disk.diskSizeGB = 64;
    return disk;
}

TEST_F(AttachDetachTest, SingleAttachTakesTheFirstGapAndRereadsTheVm) {
    InitAndClearLog();
    AzureDiskInfo disk = SpareDisk(*emu_, "spare");
    int lun = -1;
    const CUxError err = api_->AttachAzureDiskToVM(disk, instance_, lun);
    ASSERT_TRUE(err.IsSuccess()) << err.AsString();
    EXPECT_EQ(lun, 2);
    EXPECT_EQ(disk.lun, 2);

    const auto puts = Sent("PUT", "/virtualMachines/kxvm");
    ASSERT_EQ(puts.size(), 1u);
    // The VM's own id, which begins with '/', follows the endpoint as it is.
    EXPECT_EQ(puts[0].url, "/" + emu_->vmResourceId() + "?api-version=2018-04-01");
    const azemu::Json body = Body(puts[0]);
    EXPECT_EQ(body.at("location"), "westeurope");
    EXPECT_EQ(LunsOf(body), (std::vector<int>{0, 1, 2, 3}));
    azemu::Json added;
    for (const auto& entry : body.at("properties").at("storageProfile").at("dataDisks")) {
        if (entry.at("lun") == 2)
            added = entry;
    }
    EXPECT_EQ(added, azemu::Json(
                         {{"name", "spare"},
                          {"lun", 2},
                          {"caching", "None"},
                          {"managedDisk",
                           {{"id", emu_->diskId("spare")}, {"storageAccountType", "Standard_LRS"}}},
                          {"createOption", "Attach"},
                          {"diskSizeGB", 64}}));
    EXPECT_TRUE(body.at("properties").contains("osProfile"));  // sent back unchanged
    // The VM is read again after the operation ended.
    const auto log = emu_->requestLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.back().method, "GET");
    EXPECT_NE(log.back().url.find("/virtualMachines/kxvm?api-version=2018-04-01"),
              std::string::npos);
    ASSERT_EQ(instance_.disks.size(), 5u);
    EXPECT_EQ(emu_->dataDisks().size(), 4u);
}

TEST_F(AttachDetachTest, ListAttachSendsOnePutWithIncreasingLuns) {
    azemu::Json scenario = DefaultScenario();
    scenario["disks"].push_back({{"name", "spare2"}});
    StartEmulator(scenario);
    InitAndClearLog();
    const std::vector<AzureDiskInfo> disks = {SpareDisk(*emu_, "spare"),
                                              SpareDisk(*emu_, "spare2")};
    ASSERT_TRUE(api_->AttachAzureDiskToVM(disks, instance_).IsSuccess());
    const auto puts = Sent("PUT", "/virtualMachines/kxvm");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(LunsOf(Body(puts[0])), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(disks[0].lun, 0);  // the input list is not changed
    bool found2 = false;
    bool found4 = false;
    for (const AzureDiskInfo& disk : instance_.disks) {
        found2 = found2 || (disk.name == "spare" && disk.lun == 2);
        found4 = found4 || (disk.name == "spare2" && disk.lun == 4);
    }
    EXPECT_TRUE(found2);
    EXPECT_TRUE(found4);
}

TEST_F(AttachDetachTest, NoFreeLunSendsNothing) {
    azemu::Json scenario = DefaultScenario();
    scenario["vm"]["dataDisks"] = azemu::Json::array();
    for (int lun = 0; lun <= 63; ++lun) {
        scenario["vm"]["dataDisks"].push_back(
            {{"lun", lun}, {"name", "data" + std::to_string(lun)}});
    }
    StartEmulator(scenario);
    InitAndClearLog();
    AzureDiskInfo disk = SpareDisk(*emu_, "spare");
    int lun = -7;
    const CUxError err = api_->AttachAzureDiskToVM(disk, instance_, lun);
    EXPECT_EQ(err.Code(), 1);
    EXPECT_EQ(err.Message(), "Failed to find free lun id to attach the snapshot disk");
    EXPECT_EQ(lun, -7);
    EXPECT_EQ(api_->AttachAzureDiskToVM({disk}, instance_).Message(),
              "Failed to find free lun id to attach the snapshot disk");
    EXPECT_TRUE(emu_->requestLog().empty());
}

TEST_F(AttachDetachTest, MissingSectionsFailBeforeSending) {
    InitAndClearLog();
    AzureInstanceInfo broken = instance_;
    broken.propertiesJson = R"({"hardwareProfile":{}})";
    AzureDiskInfo disk = SpareDisk(*emu_, "spare");
    int lun = 0;
    EXPECT_EQ(api_->AttachAzureDiskToVM(disk, broken, lun).Message(),
              "Failed to find storageprofile section in vminfo porperties section");
    broken.propertiesJson = R"({"storageProfile":{"osDisk":{}}})";
    EXPECT_EQ(api_->DetachAzureDisk(0, false, broken).Message(),
              "Failed to find dataDisks section in storageProfile section");
    broken.propertiesJson = "not json";
    EXPECT_EQ(api_->DetachAzureDisk(0, false, broken).Code(), 1);
    EXPECT_TRUE(emu_->requestLog().empty());
}

TEST_F(AttachDetachTest, DetachRemovesTheEntryButWithTheCheckKeepsDisksThatAreNotOurs) {
    InitAndClearLog();
    ASSERT_TRUE(api_->DetachAzureDisk(std::vector<int>{0}, true, instance_).IsSuccess());
    EXPECT_TRUE(
        record_.Logged("Checking if disk mapped at lunid [0] is created by Harrowind ... "));
    ASSERT_TRUE(api_->DetachAzureDisk(1, false, instance_).IsSuccess());
    const auto puts = Sent("PUT", "/virtualMachines/kxvm");
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(LunsOf(Body(puts[0])), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(LunsOf(Body(puts[1])), (std::vector<int>{0, 3}));
    EXPECT_EQ(instance_.disks.size(), 3u);
    EXPECT_TRUE(record_.LoggedExactly("Remove disk entry at index [1]"));
}

// A detach whose update fails leaves the disk on a VM that ended Failed: it is
// applied once more on the VM as it now is, and only then reported; the
// instance shows the VM as it settled.
TEST_F(AttachDetachTest, AFailedDetachIsAppliedOnceMoreThenReported) {
    InitAndClearLog();
    InjectFault("PUT", "/virtualMachines/kxvm", azemu::FaultAction::AsyncFail, -1);
    const AzureInstanceInfo before = instance_;
    const CUxError err = api_->DetachAzureDisk(1, false, instance_);
    EXPECT_EQ(err.Message(), "Operation failed for the resource");
    EXPECT_EQ(Sent("PUT", "/virtualMachines/kxvm").size(), 2u);
    EXPECT_EQ(instance_.disks.size(), before.disks.size());
    EXPECT_NE(instance_.propertiesJson.find("\"provisioningState\":\"Failed\""), std::string::npos);

    emu_->clearFaults();
    InjectFault("PUT", "/virtualMachines/kxvm", azemu::FaultAction::AsyncFail, 1);
    ASSERT_TRUE(api_->DetachAzureDisk(1, false, instance_).IsSuccess());
    EXPECT_EQ(instance_.disks.size(), before.disks.size() - 1);
}

AzureDiskSnapShotInfo VerifiedSnapshot(KxSnapAzureAPI& api, const azemu::Emulator& emu,
                                       const std::string& diskName) {
    AzureDiskSnapShotInfo snapshot;
    const std::string path = emu.snapshotId("snapA").substr(1);
    EXPECT_TRUE(api.VerifyAzureSnapshot(path, snapshot).IsSuccess());
    snapshot.diskName = diskName;
    return snapshot;
}

TEST_F(AttachDetachTest, MapCreatesAttachesFindsAnAlreadyMappedDiskAndCleanupRemovesIt) {
    InitAndClearLog();
    const AzureDiskSnapShotInfo snapshot = VerifiedSnapshot(*api_, *emu_, "snapA_CLONE");
    int lun = -1;
    const CUxError err = api_->MapAzureDiskToVM(snapshot, instance_, lun);
    ASSERT_TRUE(err.IsSuccess()) << err.AsString();
    EXPECT_EQ(lun, 2);
    EXPECT_EQ(Sent("PUT", "/disks/snapA_CLONE").size(), 1u);
    EXPECT_TRUE(record_.Logged("Created disk [snapA_CLONE] for snapshot [snapA]"));

    emu_->clearRequestLog();
    int again = -1;
    ASSERT_TRUE(api_->MapAzureDiskToVM(snapshot, instance_, again).IsSuccess());
    EXPECT_EQ(again, 2);
    EXPECT_TRUE(Sent("PUT").empty());
    EXPECT_TRUE(record_.Logged("Found the snapshot disk mapped at [2] ["));

    // A list is attached with one PUT.
    emu_->clearRequestLog();
    const std::vector<AzureDiskSnapShotInfo> snapshots = {
        VerifiedSnapshot(*api_, *emu_, "m1_CLONE"), VerifiedSnapshot(*api_, *emu_, "m2_CLONE")};
    ASSERT_TRUE(api_->MapAzureDiskToVM(snapshots, instance_).IsSuccess());
    EXPECT_EQ(Sent("PUT", "/virtualMachines/kxvm").size(), 1u);
    EXPECT_TRUE(api_->IsAzureSnapshotMappedToVM(snapshots[1], lun, instance_));
    EXPECT_EQ(lun, 5);

    // The clean-up of our mapped disk detaches and deletes it.
    emu_->clearRequestLog();
    ASSERT_TRUE(api_->CleanupAzureSnapshotDisk(snapshot, instance_).IsSuccess());
    EXPECT_EQ(Sent("PUT", "/virtualMachines/kxvm").size(), 1u);
    EXPECT_EQ(Sent("DELETE", "/disks/snapA_CLONE").size(), 1u);
    EXPECT_FALSE(api_->IsAzureSnapshotMappedToVM(snapshot, lun, instance_));
    EXPECT_TRUE(record_.Logged("Cleanup snapshot disk [snapA_CLONE] ..."));
}

TEST_F(AttachDetachTest, UnmapByLunDetachesThenDeletes) {
    InitAndClearLog();
    ASSERT_TRUE(api_->UnMapAzureDiskFromVM(3, true, false, instance_).IsSuccess());
    const auto log = emu_->requestLog();
    const auto puts = Sent("PUT", "/virtualMachines/kxvm");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(LunsOf(Body(puts[0])), (std::vector<int>{0, 1}));
    const auto deletes = Sent("DELETE", "/disks/data3");
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_GT(deletes[0].seq, puts[0].seq);
    EXPECT_TRUE(record_.Logged("Saved disk url ["));
}

TEST_F(AttachDetachTest, UnmapByNameMatchesWithoutCaseAndDeletesOnlyWhatTheCheckAllows) {
    InitAndClearLog();
    ASSERT_TRUE(
        api_->UnMapAzureDiskFromVM(std::string("spare"), true, true, instance_).IsSuccess());
    EXPECT_TRUE(record_.Logged("Disk [spare] is not attached to the vm"));
    EXPECT_TRUE(record_.Logged("Checking if disk[spare] is created by Harrowind"));
    EXPECT_TRUE(Sent("DELETE").empty());
    EXPECT_TRUE(Sent("PUT").empty());
    EXPECT_TRUE(record_.Logged("Found no disks to detach from the VM [1]"));

    ASSERT_TRUE(
        api_->UnMapAzureDiskFromVM(std::string("spare"), true, false, instance_).IsSuccess());
    EXPECT_EQ(Sent("DELETE", "/disks/spare").size(), 1u);

    // Names match without regard to case.
    emu_->clearRequestLog();
    ASSERT_TRUE(
        api_->UnMapAzureDiskFromVM(std::vector<std::string>{"DATA1"}, false, false, instance_)
            .IsSuccess());
    EXPECT_TRUE(record_.Logged("Found the disk to unmap [DATA1] at lunid [1] "));
    const auto puts = Sent("PUT", "/virtualMachines/kxvm");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(LunsOf(Body(puts[0])), (std::vector<int>{0, 3}));
    EXPECT_TRUE(Sent("DELETE").empty());
}

TEST_F(AttachDetachTest, CleanupNeverDeletesACustomerDiskOfTheSameName) {
    azemu::Json scenario = DefaultScenario();
    scenario["vm"]["dataDisks"][1]["name"] = "snapA_CLONE";  // untagged, attached at LUN 1
    StartEmulator(scenario);
    InitAndClearLog();
    AzureDiskSnapShotInfo snapshot;
    snapshot.diskName = "snapA_CLONE";
    ASSERT_TRUE(api_->CleanupAzureSnapshotDisk(snapshot, instance_).IsSuccess());
    EXPECT_TRUE(Sent("DELETE").empty());
    const auto puts = Sent("PUT", "/virtualMachines/kxvm");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(LunsOf(Body(puts[0])), (std::vector<int>{0, 1, 3}));
}

}  // namespace
}  // namespace apitest
