// The snapshot metadata text, its parser and the naming rules.
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "KxSnapAzureUtils.h"
#include "support/TestEnv.h"
#include "support/TestHost.h"

namespace {

AzureSnapMetadata SampleMetadata() {
    AzureSnapMetadata metadata;
    metadata.snapURL =
        "subscriptions/s1/resourceGroups/RG/providers/Microsoft.Compute/snapshots/snapA";
    metadata.sourceDiskURL =
        "/subscriptions/s1/resourceGroups/RG/providers/Microsoft.Compute/disks/data1";
    metadata.sourceDiskName = "data1";
    metadata.sourceDiskSku = "Premium_LRS";
    return metadata;
}

TEST(SnapMetadataText, FormatsTheFourFieldsInTheirFixedOrderAndRoundTrips) {
    std::string text = "left over";
    FormatAzureSnapMetaData(SampleMetadata(), text);
    EXPECT_EQ(text,
              "snapURL:subscriptions/s1/resourceGroups/RG/providers/Microsoft.Compute/snapshots/"
              "snapA;sourceDiskURL:/subscriptions/s1/resourceGroups/RG/providers/"
              "Microsoft.Compute/disks/data1;sourceDiskName:data1;sourceDiskSku:Premium_LRS;");
    FormatAzureSnapMetaData(AzureSnapMetadata(), text);
    EXPECT_EQ(text, "snapURL:;sourceDiskURL:;sourceDiskName:;sourceDiskSku:;");

    AzureSnapMetadata original = SampleMetadata();
    original.sourceDiskSku.clear();
    FormatAzureSnapMetaData(original, text);
    AzureSnapMetadata parsed;
    ASSERT_TRUE(ParseAzureSnapMetaData(text, parsed));
    EXPECT_EQ(parsed.snapURL, original.snapURL);
    EXPECT_EQ(parsed.sourceDiskURL, original.sourceDiskURL);
    EXPECT_EQ(parsed.sourceDiskName, original.sourceDiskName);
    EXPECT_EQ(parsed.sourceDiskSku, "");
}

TEST(SnapMetadataText, ParsesTextStoredByEarlierJobs) {
    // A text as stored years ago: keys in another order, one repeated, empty tokens.
    AzureSnapMetadata parsed;
    ASSERT_TRUE(ParseAzureSnapMetaData(
        ";;sourceDiskSku:Standard_LRS;snapURL:old;;sourceDiskName:d;snapURL:new;", parsed));
    EXPECT_EQ(parsed.snapURL, "new");
    EXPECT_EQ(parsed.sourceDiskSku, "Standard_LRS");
    EXPECT_EQ(parsed.sourceDiskName, "d");
    EXPECT_EQ(parsed.sourceDiskURL, "");
}

TEST(SnapMetadataText, RefusesEmptyTextUnknownKeysAndTokensWithoutOneColon) {
    for (const char* text : {"", ";;;", "snapurl:a;", "SourceDiskURL:a;", "snapURL;",
                             "snapURL:https://x;"}) {
        AzureSnapMetadata parsed;
        EXPECT_FALSE(ParseAzureSnapMetaData(text, parsed)) << text;
    }
    // Fields assigned before the failure keep their values.
    AzureSnapMetadata parsed;
    EXPECT_FALSE(ParseAzureSnapMetaData("snapURL:a;bogus:b;sourceDiskName:c;", parsed));
    EXPECT_EQ(parsed.snapURL, "a");
    EXPECT_EQ(parsed.sourceDiskName, "");
}

TEST(DiskNameCheck, EightyCharactersPassEightyOneFail) {
    EXPECT_TRUE(ValidateAzureDiskName(std::string(80, 'd')).IsSuccess());
    const CUxError tooLong = ValidateAzureDiskName(std::string(81, 'd'));
    EXPECT_EQ(tooLong.Code(), 774);
    EXPECT_EQ(tooLong.Message(), "Azure disk name exceeds 80 characters limit");
    const CUxError empty = ValidateAzureDiskName("");
    EXPECT_EQ(empty.Code(), 774);
    EXPECT_EQ(empty.Message(), "Azure disk name is empty");
}

unsigned long Now() {
    return static_cast<unsigned long>(std::time(nullptr));
}

// "<prefix><seconds>" with the seconds within the test's time window.
void ExpectNameWithTime(const std::string& name, const std::string& prefix, unsigned long before) {
    ASSERT_EQ(name.compare(0, prefix.size(), prefix), 0) << name;
    const unsigned long seconds = std::stoul(name.substr(prefix.size()));
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, Now());
}

TEST(RevertedDiskName, SnapshotNameUnderscoreTimeSourceNameHyphenTimeOrTheSourceItself) {
    AzureSnapMetadata metadata;
    metadata.snapURL =
        "subscriptions/s/resourceGroups/R/providers/Microsoft.Compute/snapshots/snapA";
    AzureDiskSnapShotInfo info;
    const unsigned long before = Now();
    GetRevertedDiskName(metadata, false, info);
    ExpectNameWithTime(info.diskName, "snapA_", before);
    EXPECT_EQ(info.originalDiskName, "");

    metadata = SampleMetadata();
    metadata.sourceDiskName = "disk1";
    GetRevertedDiskName(metadata, false, info);
    ExpectNameWithTime(info.diskName, "disk1-", before);
    EXPECT_EQ(info.originalDiskName, "disk1");

    // Reuse takes the last segment of the source disk's URL.
    metadata = SampleMetadata();
    metadata.sourceDiskURL += "/";
    GetRevertedDiskName(metadata, true, info);
    EXPECT_EQ(info.diskName, "data1");
    EXPECT_EQ(info.originalDiskName, "data1");
}

TEST(SnapshotClone, NameWithAndWithoutCloneIndexAndTypeFromTheSku) {
    kxtest::TestHost host;
    kxsnap::HostRecord& record = host.Add(kxtest::DiskRecord("/dev/s1"));
    std::string name = "old";
    GetSnapshotCloneName(&record, name);
    EXPECT_EQ(name, "snap-s1_CLONE");
    record.data().snapOptions = 0x8000;
    record.data().cloneIndex = 3;
    GetSnapshotCloneName(&record, name);
    EXPECT_EQ(name, "snap-s1_3_CLONE");

    AzureSnapMetadata metadata;
    std::string type = "Standard_LRS";
    GetSnapshotCloneType(metadata, type, false);
    EXPECT_EQ(type, "Standard_LRS");
    metadata.sourceDiskSku = "Premium_ZRS";
    GetSnapshotCloneType(metadata, type, false);
    EXPECT_EQ(type, "Premium_ZRS");
}

TEST(ArrayName, DefaultAndSetting) {
    for (const char* ini : {"[Ferrolink]\n", "[Ferrolink]\nsAzureArray=\n"}) {
        kxtest::ScopedSettings settings(ini);
        EXPECT_EQ(GetArrayNameFromReg(), "Azure-Default-MSI");
    }
    kxtest::ScopedSettings settings("[Ferrolink]\nsAzureArray=MyArray\n");
    AzureInstanceInfo instance;
    instance.subscriptionId = "sub-1";
    AzureAccessInfo access;
    std::string arrayName;
    EXPECT_TRUE(GetAzureArrayAccessInfo(instance, access, arrayName));
    EXPECT_EQ(arrayName, "MyArray");
    EXPECT_EQ(access.subscriptionId, "sub-1");
}

TEST(MappedDiskLun, MatchesIdIgnoringCaseAndOuterSlashes) {
    AzureInstanceInfo instance;
    AzureDiskInfo first;
    first.id = "/subscriptions/s/resourceGroups/RG/providers/Microsoft.Compute/disks/d0";
    first.lun = 0;
    AzureDiskInfo second;
    second.id = "/subscriptions/s/resourceGroups/RG/providers/Microsoft.Compute/disks/d4";
    second.lun = 4;
    AzureDiskInfo osDisk;
    osDisk.id = "/subscriptions/s/resourceGroups/RG/providers/Microsoft.Compute/disks/os";
    osDisk.lun = -1;
    instance.disks = {first, second, osDisk};
    int lun = 99;
    std::string detail;
    EXPECT_TRUE(GetLunidForMappedDiskResource(
        instance, "subscriptions/S/resourcegroups/rg/providers/microsoft.compute/disks/D4/", lun,
        detail));
    EXPECT_EQ(lun, 4);
    EXPECT_FALSE(GetLunidForMappedDiskResource(instance, "disks/none", lun, detail));
    EXPECT_EQ(lun, -1);
    // The OS disk is found but carries no LUN.
    EXPECT_FALSE(GetLunidForMappedDiskResource(instance, osDisk.id, lun, detail));
}

}  // namespace
