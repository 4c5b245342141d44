// Whole-VM PUTs: attach and detach through storageProfile.dataDisks, the asynchronous
// operation that carries them out, and the rules Compute enforces.
#include "TestSupport.h"

namespace azemu::test {
namespace {

class VirtualMachineTest : public EmulatorTest {
protected:
    std::string root() const { return emu_->root(); }

    // PUTs `body` and waits for its operation to end.
    void putAndWait(const Json& body) {
        Reply r = putVm(body);
        ASSERT_EQ(r.status, 200) << r.body;
        waitForOperation(r.header("Azure-AsyncOperation"));
    }
};

TEST_F(VirtualMachineTest, DetachByLeavingTheEntryOutOrMarkingItToBeDetached) {
    ASSERT_EQ(detachLun(1).status, 200);
    Json disks = dataDisksOf(getVm());
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0]["lun"], 0);
    EXPECT_FALSE(arm("GET", diskPath("data1")).json().contains("managedBy"));
    EXPECT_FALSE(exists(root() + "/dev/disk/azure/scsi1/lun1"));
    EXPECT_FALSE(exists(root() + "/sys/block/sdd"));
    EXPECT_FALSE(exists(root() + "/dev/sdd"));
    EXPECT_TRUE(exists(root() + "/sys/block/sdc"));
    EXPECT_EQ(arm("DELETE", diskPath("data1")).status, 200);

    Json vm = getVm();
    disks = dataDisksOf(vm);
    disks[0]["toBeDetached"] = true;
    putAndWait(updateWith(vm, disks));
    EXPECT_TRUE(dataDisksOf(getVm()).empty());
    EXPECT_FALSE(exists(root() + "/dev/disk/azure/scsi1/lun0"));
}

TEST_F(VirtualMachineTest, ChangeTakesEffectOnlyWhenTheOperationCompletes) {
    tune(&Settings::asyncOperationDelayMs, 250);
    Reply r = attachRaw(attachEntry(2, "spare"));
    ASSERT_EQ(r.status, 200);
    Reply first = armGetUrl(r.header("Azure-AsyncOperation"));
    EXPECT_EQ(first.json()["status"], "InProgress");
    EXPECT_EQ(dataDisksOf(getVm()).size(), 2u);
    EXPECT_EQ(getVm()["properties"]["provisioningState"], "Updating");
    EXPECT_FALSE(exists(root() + "/dev/disk/azure/scsi1/lun2"));

    EXPECT_EQ(waitForOperation(r.header("Azure-AsyncOperation"))["status"], "Succeeded");
    EXPECT_EQ(dataDisksOf(getVm()).size(), 3u);
    EXPECT_EQ(getVm()["properties"]["provisioningState"], "Succeeded");
    EXPECT_TRUE(exists(root() + "/dev/disk/azure/scsi1/lun2"));
}

TEST_F(VirtualMachineTest, AttachesComputeRefusesLeaveTheVmAsItWas) {
    for (int lun : {64, -1, 100, 1}) {  // out of range, or taken
        expectError(attachRaw(attachEntry(lun, "spare")), 400, "InvalidParameter");
    }
    expectError(attachRaw(attachEntry(2, "otherdisk")), 409, "OperationNotAllowed");
    expectError(attachRaw(attachEntry(2, "ghost")), 404, "NotFound");
    expectError(attachRaw(attachEntry(2, "regional")), 400);  // another zone
    expectError(attachRaw({{"lun", 2}, {"createOption", "Attach"}}), 400);
    Json vhd = {{"lun", 6}, {"createOption", "Attach"}, {"vhd", {{"uri", "https://x/y.vhd"}}}};
    expectError(attachRaw(vhd), 409);
    Json sameTwice = dataDisksOf(getVm());
    sameTwice.push_back(attachEntry(2, "spare"));
    sameTwice.push_back(attachEntry(3, "spare"));
    expectError(putVm(updateWith(getVm(), sameTwice)), 400);
    Json vm = getVm();
    expectError(putVm({{"properties", vm["properties"]}}), 400, "LocationRequired");
    expectError(putVm({{"location", "eastus"}, {"properties", vm["properties"]}}), 409);
    EXPECT_EQ(dataDisksOf(getVm()).size(), 2u);

    EXPECT_EQ(attachRaw(attachEntry(63, "spare")).status, 200);
    EXPECT_EQ(dataDisksOf(getVm()).size(), 3u);
}

// As in Azure, a disk an update is still attaching can be deleted; the
// update then fails and the VM keeps the disks it had.
TEST_F(VirtualMachineTest, ADiskBeingAttachedCanBeDeletedAndTheAttachThenFails) {
    tune(&Settings::asyncOperationDelayMs, 500);
    ASSERT_EQ(attachRaw(attachEntry(2, "spare")).status, 200);
    Reply del = arm("DELETE", diskPath("spare"));
    EXPECT_EQ(del.status, 200);
    emu_->completePending();
    EXPECT_EQ(arm("GET", diskPath("spare")).status, 404);
    EXPECT_EQ(getVm()["properties"]["provisioningState"], "Failed");
    EXPECT_EQ(dataDisksOf(getVm()).size(), 2u);
}

TEST_F(VirtualMachineTest, TheSizesDiskLimitHolds) {
    Json scenario = baseScenario();
    scenario["vm"]["maxDataDisks"] = 2;
    restart(scenario);
    expectError(attachRaw(attachEntry(2, "spare")), 409, "OperationNotAllowed");
}

TEST_F(VirtualMachineTest, ADiskStillBeingMadeCannotBeAttached) {
    tune(&Settings::provisioningDelayMs, 5000);
    Json body = {
        {"location", "westeurope"},
        {"zones", {"2"}},
        {"sku", {{"name", "Premium_LRS"}}},
        {"properties",
         {{"creationData",
           {{"createOption", "Copy"}, {"sourceResourceId", emu_->snapshotId("data0-snap")}}}}}};
    ASSERT_EQ(arm("PUT", diskPath("fresh"), body.dump()).status, 202);
    EXPECT_EQ(attachRaw(attachEntry(3, "fresh")).status, 409);
    emu_->completePending();
    EXPECT_EQ(attachRaw(attachEntry(3, "fresh")).status, 200);
}

TEST_F(VirtualMachineTest, ReadOnlyMembersSentBackAreAcceptedAndMembersLeftOutKept) {
    Json vm = getVm();  // id, name, type, vmId, provisioningState, diskSizeGB ... all sent back
    vm["properties"]["storageProfile"]["dataDisks"].push_back(attachEntry(2, "spare"));
    putAndWait(vm);
    EXPECT_EQ(dataDisksOf(getVm()).size(), 3u);

    putAndWait({{"location", "westeurope"},
                {"properties",
                 {{"storageProfile", {{"dataDisks", Json::array({attachEntry(5, "spare")})}}}}}});
    vm = getVm();
    EXPECT_EQ(vm["tags"]["owner"], "tests");
    EXPECT_EQ(vm["zones"], Json::array({"2"}));
    EXPECT_TRUE(vm["properties"].contains("osProfile"));
    EXPECT_EQ(vm["properties"]["storageProfile"]["osDisk"]["name"], "testvm_OsDisk_1");
    ASSERT_EQ(dataDisksOf(vm).size(), 1u);  // the list sent is the new list
    EXPECT_EQ(dataDisksOf(vm)[0]["lun"], 5);

    putAndWait({{"location", "West Europe"}});
    EXPECT_EQ(dataDisksOf(getVm()).size(), 1u);
}

TEST_F(VirtualMachineTest, ANewerUpdatePreemptsAnOlderOne) {
    tune(&Settings::asyncOperationDelayMs, 300);
    Reply first = attachRaw(attachEntry(2, "spare"));
    ASSERT_EQ(first.status, 200);
    ASSERT_EQ(detachLun(0).status, 200);
    Json firstStatus = armGetUrl(first.header("Azure-AsyncOperation")).json();
    EXPECT_EQ(firstStatus["status"], "Canceled");
    EXPECT_EQ(firstStatus["error"]["code"], "OperationPreempted");
    Json disks = dataDisksOf(getVm());
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0]["lun"], 1);
}

}  // namespace
}  // namespace azemu::test
