// Whole-VM PUTs: attach and detach through storageProfile.dataDisks, the asynchronous
// operation that carries them out, and the rules Compute enforces.
#include <regex>

#include "TestSupport.h"

namespace azemu::test {
namespace {

class VirtualMachineTest : public EmulatorTest {
protected:
    std::string root() const { return emu_->root(); }

    Json dataDisksOf(const Json& vm) { return vm["properties"]["storageProfile"]["dataDisks"]; }

    // The update body the plug-in sends: the properties it read, the location, nothing else.
    Json updateWith(const Json& vm, const Json& dataDisks) {
        Json props = vm["properties"];
        props["storageProfile"]["dataDisks"] = dataDisks;
        return {{"properties", props}, {"location", vm["location"]}};
    }

    Json attachEntry(int lun, const std::string& disk) {
        return {
            {"name", disk},
            {"lun", lun},
            {"caching", "None"},
            {"managedDisk", {{"id", emu_->diskId(disk)}, {"storageAccountType", "Premium_LRS"}}},
            {"createOption", "Attach"},
            {"diskSizeGB", 64}};
    }

    void setAsyncDelay(int ms) {
        Settings s = emu_->settings();
        s.asyncOperationDelayMs = ms;
        emu_->setSettings(s);
    }

    Reply attachRaw(const Json& entry) {
        Json vm = getVm();
        Json disks = dataDisksOf(vm);
        disks.push_back(entry);
        return putVm(updateWith(vm, disks));
    }
};

TEST_F(VirtualMachineTest, DocumentCarriesWhatThePluginReads) {
    Json vm = getVm();
    EXPECT_EQ(vm["name"], "testvm");
    EXPECT_EQ(vm["id"], emu_->vmResourceId());
    EXPECT_EQ(vm["type"], "Microsoft.Compute/virtualMachines");
    EXPECT_EQ(vm["location"], "westeurope");
    EXPECT_EQ(vm["zones"], Json::array({"2"}));
    const Json& p = vm["properties"];
    EXPECT_EQ(p["vmId"], "11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(p["provisioningState"], "Succeeded");
    EXPECT_TRUE(p["hardwareProfile"]["vmSize"].is_string());
    EXPECT_EQ(p["storageProfile"]["osDisk"]["osType"], "Linux");
    EXPECT_EQ(p["storageProfile"]["osDisk"]["managedDisk"]["id"], emu_->diskId("testvm_OsDisk_1"));
    Json disks = p["storageProfile"]["dataDisks"];
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[1]["lun"], 1);
    EXPECT_EQ(disks[1]["name"], "data1");
    EXPECT_EQ(disks[1]["caching"], "ReadOnly");
    EXPECT_EQ(disks[1]["diskSizeGB"], 200);
    EXPECT_EQ(disks[1]["managedDisk"]["id"], emu_->diskId("data1"));
    EXPECT_EQ(disks[1]["managedDisk"]["storageAccountType"], "StandardSSD_LRS");
}

TEST_F(VirtualMachineTest, AttachThroughWholeVmPut) {
    Reply r = attachRaw(attachEntry(2, "spare"));
    ASSERT_EQ(r.status, 200) << r.body;
    std::string url = r.header("Azure-AsyncOperation");
    std::regex form("https://127\\.0\\.0\\.1:[0-9]+/subscriptions/" + emu_->subscriptionId() +
                    "/providers/Microsoft\\.Compute/locations/westeurope/operations/"
                    "[0-9a-f-]{36}\\?api-version=2018-04-01");
    EXPECT_TRUE(std::regex_match(url, form)) << url;
    EXPECT_EQ(url.rfind(emu_->armUrl(), 0), 0u);
    EXPECT_EQ(r.json()["properties"]["provisioningState"], "Updating");

    Json status = waitForOperation(url);
    EXPECT_EQ(status["status"], "Succeeded");
    EXPECT_TRUE(status["startTime"].is_string());
    EXPECT_FALSE(status.contains("error"));

    Json disks = dataDisksOf(getVm());
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_EQ(disks[2]["lun"], 2);
    EXPECT_EQ(disks[2]["name"], "spare");
    EXPECT_EQ(disks[2]["managedDisk"]["id"], emu_->diskId("spare"));
    Json spare = arm("GET", diskPath("spare"), "", "2019-03-01").json();
    EXPECT_EQ(spare["managedBy"], emu_->vmResourceId());
    EXPECT_EQ(spare["properties"]["diskState"], "Attached");

    // The kernel's view: a new sdX with the LUN's udev link.
    EXPECT_EQ(readLink(root() + "/dev/disk/azure/scsi1/lun2"), "../../../sde");
    EXPECT_TRUE(exists(root() + "/sys/block/sde/device/scsi_device/3:0:0:2"));
    EXPECT_TRUE(exists(root() + "/dev/sde"));
}

TEST_F(VirtualMachineTest, DetachByLeavingTheEntryOut) {
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
}

TEST_F(VirtualMachineTest, ToBeDetachedIsADetach) {
    Json vm = getVm();
    Json disks = dataDisksOf(vm);
    disks[0]["toBeDetached"] = true;
    Reply r = putVm(updateWith(vm, disks));
    ASSERT_EQ(r.status, 200) << r.body;
    waitForOperation(r.header("Azure-AsyncOperation"));
    Json after = dataDisksOf(getVm());
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0]["lun"], 1);
    EXPECT_FALSE(exists(root() + "/dev/disk/azure/scsi1/lun0"));
}

TEST_F(VirtualMachineTest, ChangeTakesEffectOnlyWhenTheOperationCompletes) {
    setAsyncDelay(250);
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

TEST_F(VirtualMachineTest, LunsMustBeInRangeAndUnique) {
    for (int lun : {64, -1, 100}) {
        Reply r = attachRaw(attachEntry(lun, "spare"));
        EXPECT_EQ(r.status, 400) << lun;
        EXPECT_EQ(r.json()["error"]["code"], "InvalidParameter") << lun;
    }
    Reply dup = attachRaw(attachEntry(1, "spare"));
    EXPECT_EQ(dup.status, 400);
    EXPECT_EQ(dup.json()["error"]["code"], "InvalidParameter");
    EXPECT_EQ(attachRaw(attachEntry(63, "spare")).status, 200);
    EXPECT_EQ(dataDisksOf(getVm()).size(), 3u);
}

TEST_F(VirtualMachineTest, ADiskIsAttachedToOneVmAtATime) {
    Reply r = attachRaw(attachEntry(2, "otherdisk"));
    EXPECT_EQ(r.status, 409) << r.body;
    EXPECT_EQ(r.json()["error"]["code"], "OperationNotAllowed");

    Json sameTwice = dataDisksOf(getVm());
    sameTwice.push_back(attachEntry(2, "spare"));
    sameTwice.push_back(attachEntry(3, "spare"));
    EXPECT_EQ(putVm(updateWith(getVm(), sameTwice)).status, 400);
}

// As in Azure, a disk an update is still attaching can be deleted; the
// update then fails and the VM keeps the disks it had.
TEST_F(VirtualMachineTest, ADiskBeingAttachedCanBeDeletedAndTheAttachThenFails) {
    setAsyncDelay(500);
    ASSERT_EQ(attachRaw(attachEntry(2, "spare")).status, 200);
    Reply del = arm("DELETE", diskPath("spare"));
    EXPECT_EQ(del.status, 200);
    emu_->completePending();
    EXPECT_EQ(arm("GET", diskPath("spare")).status, 404);
    EXPECT_EQ(getVm()["properties"]["provisioningState"], "Failed");
    EXPECT_EQ(dataDisksOf(getVm()).size(), 2u);
}

TEST_F(VirtualMachineTest, MissingDisksAndWrongZonesAreRefused) {
    Reply missing = attachRaw(attachEntry(2, "ghost"));
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.json()["error"]["code"], "NotFound");

    Reply regional = attachRaw(attachEntry(2, "regional"));
    EXPECT_EQ(regional.status, 400) << regional.body;

    Json noId = {{"lun", 2}, {"createOption", "Attach"}};
    EXPECT_EQ(attachRaw(noId).status, 400);
}

TEST_F(VirtualMachineTest, TheSizesDiskLimitHolds) {
    Json scenario = baseScenario();
    scenario["vm"]["maxDataDisks"] = 2;
    restart(scenario);
    Reply r = attachRaw(attachEntry(2, "spare"));
    EXPECT_EQ(r.status, 409);
    EXPECT_EQ(r.json()["error"]["code"], "OperationNotAllowed");
}

TEST_F(VirtualMachineTest, ReadOnlyMembersSentBackAreAccepted) {
    Json vm = getVm();  // id, name, type, vmId, provisioningState, diskSizeGB ... all sent back
    vm["properties"]["storageProfile"]["dataDisks"].push_back(attachEntry(2, "spare"));
    Reply r = putVm(vm);
    ASSERT_EQ(r.status, 200) << r.body;
    waitForOperation(r.header("Azure-AsyncOperation"));
    EXPECT_EQ(dataDisksOf(getVm()).size(), 3u);
}

TEST_F(VirtualMachineTest, MembersLeftOutAreKept) {
    Json body = {{"location", "westeurope"},
                 {"properties",
                  {{"storageProfile", {{"dataDisks", Json::array({attachEntry(5, "spare")})}}}}}};
    Reply r = putVm(body);
    ASSERT_EQ(r.status, 200) << r.body;
    waitForOperation(r.header("Azure-AsyncOperation"));
    Json vm = getVm();
    EXPECT_EQ(vm["tags"]["owner"], "tests");
    EXPECT_EQ(vm["zones"], Json::array({"2"}));
    EXPECT_TRUE(vm["properties"].contains("osProfile"));
    EXPECT_EQ(vm["properties"]["storageProfile"]["osDisk"]["name"], "testvm_OsDisk_1");
    ASSERT_EQ(dataDisksOf(vm).size(), 1u);  // the list sent is the new list
    EXPECT_EQ(dataDisksOf(vm)[0]["lun"], 5);

    Json onlyLocation = {{"location", "West Europe"}};
    Reply untouched = putVm(onlyLocation);
    ASSERT_EQ(untouched.status, 200) << untouched.body;
    waitForOperation(untouched.header("Azure-AsyncOperation"));
    EXPECT_EQ(dataDisksOf(getVm()).size(), 1u);
}

TEST_F(VirtualMachineTest, LocationIsRequiredAndCannotChange) {
    Json vm = getVm();
    Json noLocation = {{"properties", vm["properties"]}};
    Reply r = putVm(noLocation);
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.json()["error"]["code"], "LocationRequired");
    Json moved = {{"location", "eastus"}, {"properties", vm["properties"]}};
    EXPECT_EQ(putVm(moved).status, 409);
}

TEST_F(VirtualMachineTest, ANewerUpdatePreemptsAnOlderOne) {
    setAsyncDelay(300);
    Reply first = attachRaw(attachEntry(2, "spare"));
    ASSERT_EQ(first.status, 200);
    Reply second = detachLun(0);
    ASSERT_EQ(second.status, 200);
    Json firstStatus = armGetUrl(first.header("Azure-AsyncOperation")).json();
    EXPECT_EQ(firstStatus["status"], "Canceled");
    EXPECT_EQ(firstStatus["error"]["code"], "OperationPreempted");
    Json disks = dataDisksOf(getVm());
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0]["lun"], 1);
}

TEST_F(VirtualMachineTest, ADiskStillProvisioningCannotBeAttached) {
    Settings s = emu_->settings();
    s.provisioningDelayMs = 5000;
    emu_->setSettings(s);
    Json body = {
        {"location", "westeurope"},
        {"zones", {"2"}},
        {"sku", {{"name", "Premium_LRS"}}},
        {"properties",
         {{"creationData",
           {{"createOption", "Copy"}, {"sourceResourceId", emu_->snapshotId("data0-snap")}}}}}};
    ASSERT_EQ(arm("PUT", diskPath("fresh"), body.dump()).status, 202);
    Reply r = attachRaw(attachEntry(2, "fresh"));
    EXPECT_EQ(r.status, 409);
    emu_->completePending();
    EXPECT_EQ(attachRaw(attachEntry(2, "fresh")).status, 200);
}

TEST_F(VirtualMachineTest, UnmanagedDisksRoundTripButCannotBeAdded) {
    Json scenario = baseScenario();
    scenario["vm"]["dataDisks"].push_back(
        {{"lun", 4}, {"vhdUri", "https://acct.blob.example/vhds/old.vhd"}, {"sizeGB", 10}});
    restart(scenario);
    Json vm = getVm();
    Json disks = dataDisksOf(vm);
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_EQ(disks[2]["vhd"]["uri"], "https://acct.blob.example/vhds/old.vhd");
    EXPECT_FALSE(disks[2].contains("managedDisk"));
    EXPECT_TRUE(exists(root() + "/dev/disk/azure/scsi1/lun4"));

    disks.push_back(attachEntry(2, "spare"));
    Reply r = putVm(updateWith(vm, disks));
    ASSERT_EQ(r.status, 200) << r.body;
    waitForOperation(r.header("Azure-AsyncOperation"));

    Json vhd = {{"lun", 6}, {"createOption", "Attach"}, {"vhd", {{"uri", "https://x/y.vhd"}}}};
    EXPECT_EQ(attachRaw(vhd).status, 409);
}

TEST_F(VirtualMachineTest, ANewVmCanBeBuiltAroundAnExistingOsDisk) {
    Json body = {{"location", "westeurope"},
                 {"zones", {"2"}},
                 {"properties",
                  {{"hardwareProfile", {{"vmSize", "Standard_D2s_v3"}}},
                   {"storageProfile",
                    {{"osDisk",
                      {{"createOption", "Attach"},
                       {"osType", "Linux"},
                       {"managedDisk", {{"id", emu_->diskId("spare")}}}}},
                     {"dataDisks", Json::array()}}}}}};
    Reply r =
        arm("PUT", groupPath() + "/providers/Microsoft.Compute/virtualMachines/newvm", body.dump());
    ASSERT_EQ(r.status, 201) << r.body;
    EXPECT_EQ(waitForOperation(r.header("Azure-AsyncOperation"))["status"], "Succeeded");
    Json vm = arm("GET", groupPath() + "/providers/Microsoft.Compute/virtualMachines/newvm").json();
    EXPECT_EQ(vm["properties"]["provisioningState"], "Succeeded");
    EXPECT_EQ(vm["properties"]["hardwareProfile"]["vmSize"], "Standard_D2s_v3");
    EXPECT_EQ(attachRaw(attachEntry(2, "spare")).status, 409);  // now its OS disk
}

}  // namespace
}  // namespace azemu::test
