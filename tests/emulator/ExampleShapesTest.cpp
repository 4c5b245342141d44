// The emulator's documents against the published examples: every member an example shows
// (apart from features the emulator does not model) is there, with the same JSON type, and so
// is every member the plug-in reads.
#include <set>

#include "ExampleShapes.h"

namespace azemu::test {
namespace {

class ExampleShapesTest : public EmulatorTest {};

TEST_F(ExampleShapesTest, VirtualMachineMatchesTheGetExample) {
    Json example = exampleBody("compute-2019-07-01-VirtualMachines_Get.json");
    ASSERT_EQ(attach(2, "spare").status, 200);
    Json vm = arm("GET", vmPath(), "", "2019-07-01").json();
    // Features of the example VM the emulated one does not have.
    std::set<std::string> notModelled = {"resources",
                                         "properties.availabilitySet",
                                         "properties.proximityPlacementGroup",
                                         "properties.diagnosticsProfile",
                                         "properties.osProfile.windowsConfiguration",
                                         "properties.storageProfile.imageReference.exactVersion"};
    EXPECT_EQ(differences(example, vm, notModelled), std::vector<std::string>{});
    expectMembers(
        vm, {"name", "id", "location", "zones", "properties.vmId", "properties.provisioningState",
             "properties.hardwareProfile.vmSize", "properties.storageProfile.osDisk.osType",
             "properties.storageProfile.osDisk.managedDisk.id",
             "properties.storageProfile.osDisk.managedDisk.storageAccountType",
             "properties.storageProfile.dataDisks.lun", "properties.storageProfile.dataDisks.name",
             "properties.storageProfile.dataDisks.createOption",
             "properties.storageProfile.dataDisks.caching",
             "properties.storageProfile.dataDisks.diskSizeGB",
             "properties.storageProfile.dataDisks.managedDisk.id",
             "properties.storageProfile.dataDisks.managedDisk.storageAccountType"});
}

TEST_F(ExampleShapesTest, DiskMatchesTheGetExamples) {
    std::set<std::string> notModelled = {"properties.encryptionSettings",
                                         "properties.encryptionSettingsCollection"};
    // The examples show an OS disk, attached to a VM.
    Json attached = arm("GET", diskPath("testvm_OsDisk_1")).json();
    EXPECT_EQ(differences(exampleBody("compute-2018-04-01-Disks_Get.json"), attached, notModelled),
              std::vector<std::string>{});
    Json newer = arm("GET", diskPath("testvm_OsDisk_1"), "", "2019-07-01").json();
    EXPECT_EQ(differences(exampleBody("compute-2019-07-01-Disks_Get.json"), newer, notModelled),
              std::vector<std::string>{});
    expectMembers(attached,
                  {"id", "name", "type", "location", "managedBy", "sku.name", "tags", "zones",
                   "properties.creationData.createOption", "properties.diskSizeGB",
                   "properties.timeCreated", "properties.provisioningState"});
    notModelled.insert("properties.osType");  // a data disk has none
    EXPECT_EQ(differences(exampleBody("compute-2018-04-01-Disks_Get.json"),
                          arm("GET", diskPath("data0")).json(), notModelled),
              std::vector<std::string>{});
}

TEST_F(ExampleShapesTest, SnapshotMatchesTheGetAndCreateExamples) {
    ASSERT_EQ(createSnapshot("shape", "data0", true).status, 202);
    Json snap = arm("GET", snapshotPath("shape")).json();
    EXPECT_EQ(differences(exampleBody("compute-2018-04-01-Snapshots_Get.json"), snap,
                          {"properties.encryptionSettings", "properties.osType"}),
              std::vector<std::string>{});
    expectMembers(snap, {"sku.name", "properties.creationData.sourceResourceId",
                         "properties.provisioningState", "properties.diskSizeGB",
                         "properties.timeCreated", "tags", "id", "name", "type", "location"});

    // The 202 the create example shows, and the operation document with the finished snapshot.
    Json copy = {
        {"location", "westeurope"},
        {"properties",
         {{"creationData", {{"createOption", "Copy"}, {"sourceUri", emu_->diskId("data1")}}}}}};
    Reply created = arm("PUT", snapshotPath("copy"), copy.dump(), "2019-11-01");
    ASSERT_EQ(created.status, 202);
    Json example = loadExample("compute-2019-11-01-Snapshots_CreateOrUpdate-CopyFromDisk.json");
    EXPECT_EQ(differences(example["responses"]["202"]["body"], created.json(),
                          {"properties.isArmResource"}),
              std::vector<std::string>{});
    Json status = waitForOperation(created.header("Azure-AsyncOperation"));
    EXPECT_EQ(differences(example["responses"]["200"]["body"], status,
                          {"properties.output.properties.osType"}),
              std::vector<std::string>{});
}

TEST_F(ExampleShapesTest, DiskCreatedFromASnapshotMatchesTheCreateExample) {
    Json example = loadExample("compute-2019-03-01-Disks_CreateOrUpdate-CopyFromSnapshot.json");
    Json request = example["parameters"]["disk"];
    request["location"] = "westeurope";
    request["properties"]["creationData"]["sourceResourceId"] =
        emu_->snapshotId("data0-snap").substr(1);  // the example's form: no leading slash
    Reply r = arm("PUT", diskPath("myDisk"), request.dump(), "2019-03-01");
    ASSERT_EQ(r.status, 202) << r.body;
    EXPECT_EQ(differences(example["responses"]["202"]["body"], r.json()),
              std::vector<std::string>{});
}

TEST_F(ExampleShapesTest, OperationStatusMatchesTheExamples) {
    emu_->injectFault(FaultSpec::fromJson({{"action", "asyncNeverEnd"}, {"method", "PUT"}}));
    Json vm = getVm();
    Reply r = putVm({{"location", vm["location"]}, {"properties", vm["properties"]}});
    Json running = armGetUrl(r.header("Azure-AsyncOperation")).json();
    EXPECT_EQ(differences(loadExample("async-status-InProgress.json"), running),
              std::vector<std::string>{});

    emu_->injectFault(FaultSpec::fromJson({{"action", "asyncFail"}, {"method", "PUT"}}));
    Reply failed = putVm({{"location", vm["location"]}, {"properties", vm["properties"]}});
    Json status = waitForOperation(failed.header("Azure-AsyncOperation"));
    expectMembers(status, {"status", "error.code", "error.message", "startTime", "endTime"});
}

TEST_F(ExampleShapesTest, ErrorsHaveTheResourceManagerShape) {
    Json example = loadExample("arm-error-response.json");
    Json ours = arm("GET", diskPath("ghost")).json();
    EXPECT_EQ(differences(example, ours, {"error.target", "error.details", "error.additionalInfo"}),
              std::vector<std::string>{});
}

TEST_F(ExampleShapesTest, MetadataMatchesTheExamples) {
    Json compute2018 = imds("metadata/instance/compute?api-version=2018-02-01").json();
    EXPECT_EQ(differences(exampleBody("imds-api-2018-02-01-getInstanceMetadata.json")["compute"],
                          compute2018),
              std::vector<std::string>{});

    Json instance = imds("metadata/instance?api-version=2019-08-15").json();
    EXPECT_EQ(differences(exampleBody("imds-api-2019-08-15-GetInstanceMetadata.json"), instance,
                          {"compute.plan", "compute.publicKeys",
                           "compute.storageProfile.osDisk.diffDiskSettings"}),
              std::vector<std::string>{});
    Json docs = loadExample("imds-2019-06-01-instance.json");
    EXPECT_EQ(differences(docs, instance,
                          {"compute.customData", "compute.plan", "compute.publicKeys",
                           "compute.storageProfile.osDisk.diffDiskSettings"}),
              std::vector<std::string>{});
    expectMembers(instance, {"network.interface.ipv4.ipAddress.privateIpAddress"});

    Json token =
        imds("metadata/identity/oauth2/token?api-version=2018-02-01&resource=" + emu_->armUrl())
            .json();
    EXPECT_EQ(differences(loadExample("imds-identity-token-200-2018-02-01.json"), token),
              std::vector<std::string>{});
    EXPECT_EQ(differences(exampleBody("imds-api-2019-08-15-GetIdentityToken.json"), token),
              std::vector<std::string>{});
    Json error = imds("metadata/identity/oauth2/token?api-version=2018-02-01", false).json();
    EXPECT_EQ(differences(exampleBody("imds-api-2018-02-01-getIdentityToken.json", "400"), error),
              std::vector<std::string>{});
}

}  // namespace
}  // namespace azemu::test
