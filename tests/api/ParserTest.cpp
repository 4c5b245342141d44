// The record parsers, fed with Microsoft's published example documents and
// with documents that are broken in the ways a faulty answer can be.
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "KxSnapAzureAPI.h"

namespace {

std::string ExampleText(const std::string& file) {
    std::ifstream in(std::string(KXSO_AZURE_EXAMPLES_DIR) + "/" + file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The HTTP body of an x-ms-examples response.
std::string ExampleBody(const std::string& file, const std::string& status = "200") {
    const KxJson::Value example = KxJson::Unserialize(ExampleText(file));
    return KxJson::Serialize(example.at("responses").at(status).at("body"));
}

class ParserTest : public ::testing::Test {
protected:
    KxSnapAzureAPI api_;
};

TEST_F(ParserTest, VirtualMachineExampleGivesDataDisksThenOsDisk) {
    AzureInstanceInfo instance;
    const std::string body = ExampleBody("compute-2019-07-01-VirtualMachines_Get.json");
    ASSERT_TRUE(api_.ParseVMInfoFromJSONReponse(body, instance).IsSuccess());
    EXPECT_EQ(instance.name, "myVM");
    EXPECT_EQ(instance.location, "West US");
    EXPECT_EQ(instance.type, "Microsoft.Compute/virtualMachines");
    EXPECT_EQ(instance.vmId, "0f47b100-583c-48e3-a4c0-aefc2c9bbcc1");
    EXPECT_EQ(instance.osType, "Windows");
    EXPECT_EQ(instance.vmInfoJson, body);
    ASSERT_EQ(instance.disks.size(), 3u);
    EXPECT_EQ(instance.disks[0].name, "myDataDisk0");
    EXPECT_EQ(instance.disks[0].lun, 0);
    EXPECT_EQ(instance.disks[0].storageAccountType, "Premium_LRS");
    EXPECT_EQ(instance.disks[1].lun, 1);
    EXPECT_EQ(instance.disks[1].createOption, "Attach");
    EXPECT_EQ(instance.disks[2].name, "myOsDisk");
    EXPECT_EQ(instance.disks[2].lun, -1);  // the OS disk has no LUN
    EXPECT_TRUE(instance.disks[2].isManaged);
    EXPECT_TRUE(instance.zones.empty());
    EXPECT_TRUE(instance.tags.empty());
    const KxJson::Value properties = KxJson::Unserialize(instance.propertiesJson);
    EXPECT_TRUE(properties.contains("storageProfile"));
}

TEST_F(ParserTest, UnmanagedDisksKeepTheirVhdUriAndConvertWithoutManagedDisk) {
    const KxJson::Value example = KxJson::Unserialize(ExampleText(
        "compute-2019-03-01-VirtualMachines_CreateOrUpdate-UnmanagedVhdOsAndDataDisks.json"));
    AzureInstanceInfo instance;
    ASSERT_TRUE(api_.ParseVMInfoFromJSONReponse(
                        KxJson::Serialize(example.at("responses").at("200").at("body")), instance)
                    .IsSuccess());
    ASSERT_EQ(instance.disks.size(), 3u);
    const AzureDiskInfo& data0 = instance.disks[0];
    EXPECT_FALSE(data0.isManaged);
    EXPECT_NE(data0.id.find("myDisk0.vhd"), std::string::npos);
    EXPECT_EQ(data0.diskSizeGB, 1023u);
    KxJson::Value entry;
    ASSERT_TRUE(api_.ConvertDiskInfoToJsonObj(data0, entry).IsSuccess());
    EXPECT_FALSE(entry.contains("managedDisk"));
    EXPECT_EQ(entry.at("lun"), 0);
    EXPECT_EQ(entry.at("diskSizeGB"), 1023);
}

TEST_F(ParserTest, InstanceMetadataExampleUpperCasesTheResourceGroup) {
    AzureInstanceInfo instance;
    ASSERT_TRUE(api_.ParseVMMetaDataFromJSONReponse(
                        ExampleText("imds-2019-06-01-instance-compute.json"), instance)
                    .IsSuccess());
    EXPECT_EQ(instance.name, "dbhost07");
    EXPECT_EQ(instance.location, "northeurope");
    EXPECT_EQ(instance.resourceGroupName, "BACKUP-RG");
    EXPECT_EQ(instance.osType, "Linux");
    EXPECT_EQ(instance.subscriptionId, "6e3c1a52-94d7-4b0f-8a21-3f5d7c9e0b14");
}

TEST_F(ParserTest, DiskExampleWithSku) {
    AzureDiskInfo disk;
    ASSERT_TRUE(
        api_.ParseDiskInfoFromJsonResponse(ExampleBody("compute-2018-04-01-Disks_Get.json"), disk)
            .IsSuccess());
    EXPECT_EQ(disk.name, "myManagedDisk");
    EXPECT_EQ(disk.storageAccountType, "Standard_LRS");
    EXPECT_EQ(disk.diskSizeGB, 10u);
    EXPECT_EQ(disk.provisioningState, "Succeeded");
    EXPECT_EQ(disk.createOption, "Empty");
    EXPECT_EQ(disk.timeCreated, "2016-12-28T04:41:35.079872+00:00");
    EXPECT_EQ(disk.diskState, "");
}

TEST_F(ParserTest, SnapshotExampleWithoutSkuIsStandardLrs) {
    AzureDiskSnapShotInfo snapshot;
    snapshot.storageAccountType = "Premium_LRS";
    ASSERT_TRUE(api_.ParseSnapShotInfoFromJSONReponse(
                        ExampleBody("compute-2019-03-01-Snapshots_Get.json"), snapshot)
                    .IsSuccess());
    EXPECT_EQ(snapshot.name, "mySnapshot");
    EXPECT_EQ(snapshot.storageAccountType, "Standard_LRS");
    EXPECT_EQ(snapshot.diskSizeGB, 100u);
}

TEST_F(ParserTest, OperationStatusDocumentIsNotADisk) {
    AzureDiskInfo disk;
    const CUxError err = api_.ParseDiskInfoFromJsonResponse(
        ExampleBody("compute-2019-11-01-Snapshots_CreateOrUpdate-CopyFromDisk.json"), disk);
    EXPECT_EQ(err.Code(), 1);
}

TEST_F(ParserTest, TokenExamples) {
    AzureAccessTokenInfo token;
    ASSERT_TRUE(api_.ParseAccessTokenFromJSONReponse(
                        ExampleText("imds-identity-token-200-2018-02-01.json"), token)
                    .IsSuccess());
    EXPECT_EQ(token.access_token, "eyJ0eXAiOiJKV1QiLCJhbGciOiJub25lIn0.test-token");
    EXPECT_EQ(token.expires_in, "86399");
    EXPECT_EQ(token.expires_on, "1767312000");
    EXPECT_EQ(token.resource, "https://management.azure.com/");
    EXPECT_EQ(token.token_type, "Bearer");
    AzureAccessTokenInfo other;
    ASSERT_TRUE(api_.ParseAccessTokenFromJSONReponse(
                        ExampleBody("imds-api-2019-08-15-GetIdentityToken.json"), other)
                    .IsSuccess());
    EXPECT_EQ(other.access_token, "dummytoken");
    EXPECT_EQ(other.token_type, "");
}

TEST_F(ParserTest, ResourceTagsKeepOnlyOurNonEmptyTags) {
    AzureResourceInfo resource;
    ASSERT_TRUE(api_.ParseResourceInfoFromJSONReponse(
                        R"({"id":"/x","properties":{},"tags":{"DiskCreatedByHarrowind":"",
                        "SnapShotCreatedByHarrowind":"made","other":"x",
                        "diskcreatedbyharrowind":"y"}})",
                        resource)
                    .IsSuccess());
    ASSERT_EQ(resource.tags.size(), 1u);
    EXPECT_EQ(resource.tags.at("SnapShotCreatedByHarrowind"), "made");

    AzureResourceInfo untagged;
    ASSERT_TRUE(api_.ParseResourceInfoFromJSONReponse(
                        R"({"properties":{},"tags":{"DiskCreatedByHarrowind":""}})", untagged)
                    .IsSuccess());
    EXPECT_TRUE(untagged.tags.empty());
    EXPECT_EQ(api_.ParseResourceInfoFromJSONReponse(R"({"tags":{}})", untagged).Message(),
              "Failed to find properties section in vminfo json reponse");
}

struct BrokenVm {
    const char* json;
    const char* message;
};

TEST_F(ParserTest, BrokenVmDocumentsGiveCodeOneAndTheirMessage) {
    const BrokenVm cases[] = {
        {"<html>busy</html>", "Exception while parsing vminfo json response"},
        {"[1,2]", "Exception while parsing vminfo json response"},
        {R"({"name":"vm"})", "Failed to find properties section in vminfo json reponse"},
        {R"({"properties":"text"})", "Failed to find properties section in vminfo json reponse"},
        {R"({"properties":{}})", "Failed to find storageprofile section in vminfo json reponse"},
        {R"({"properties":{"storageProfile":{"dataDisks":[]}}})",
         "Failed to find osDisk section in vminfo json reponse"},
        {R"({"properties":{"storageProfile":{"osDisk":{}}}})",
         "Failed to find dataDisks section in vminfo json reponse"},
        {R"({"properties":{"storageProfile":{"osDisk":{},"dataDisks":{"lun":0}}}})",
         "Failed to find dataDisks section in vminfo json reponse"},
        {R"({"properties":{"storageProfile":{"osDisk":{},"dataDisks":[7]}}})",
         "Failed to parse disks section in vminfo json reponse"},
        // The right keys with the wrong types: a disk named 7 is no disk we know.
        {R"({"properties":{"storageProfile":{"osDisk":{},"dataDisks":[{"lun":1,"name":7}]}}})",
         "Failed to parse disks section in vminfo json reponse"},
        {R"({"properties":{"storageProfile":{"osDisk":{},"dataDisks":[{"lun":1,"name":"d",)"
         R"("managedDisk":{"id":true}}]}}})",
         "Failed to parse disks section in vminfo json reponse"},
        {R"({"name":["vm"],"properties":{"storageProfile":{"osDisk":{},"dataDisks":[]}}})",
         "Exception while parsing vminfo json response"},
    };
    for (const BrokenVm& broken : cases) {
        AzureInstanceInfo instance;
        const CUxError err = api_.ParseVMInfoFromJSONReponse(broken.json, instance);
        EXPECT_EQ(err.Code(), 1) << broken.json;
        EXPECT_EQ(err.Message(), broken.message) << broken.json;
    }
}

TEST_F(ParserTest, BrokenDiskAndTokenDocuments) {
    AzureDiskInfo disk;
    EXPECT_EQ(api_.ParseDiskInfoFromJsonResponse("not json", disk).Message(),
              "Exception while parsing diskInfo json response");
    EXPECT_EQ(api_.ParseDiskInfoFromJsonResponse(R"({"sku":{"name":"x"}})", disk).Message(),
              "Failed to find properties section in diskInfo json reponse");
    EXPECT_EQ(api_.ParseDiskInfoFromJsonResponse(R"({"properties":{}})", disk).Message(),
              "Failed to find creation section in disk/properties json reponse");
    AzureAccessTokenInfo token;
    // Token services send the times as text or as numbers; the token itself is text.
    ASSERT_TRUE(
        api_.ParseAccessTokenFromJSONReponse(
                R"({"access_token":"t","expires_in":3599,"expires_on":"1700000000"})", token)
            .IsSuccess());
    EXPECT_EQ(token.expires_in, "3599");
    EXPECT_EQ(token.expires_on, "1700000000");
    EXPECT_EQ(api_.ParseAccessTokenFromJSONReponse(R"({"access_token":7})", token).Message(),
              "Exception while parsing access token form json response");
    const CUxError err = api_.ParseAccessTokenFromJSONReponse("{\"access_token\":", token);
    EXPECT_EQ(err.Code(), 1);
    EXPECT_EQ(err.Message(), "Exception while parsing access token form json response");
    AzureInstanceInfo instance;
    EXPECT_EQ(api_.ParseVMMetaDataFromJSONReponse("", instance).Message(),
              "Exception while parsing instance metadata json response");
}

}  // namespace
