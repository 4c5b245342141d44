// The snapshot metadata text, its parser, the naming rules (names that reach
// a resource URL are refused when they would address a different resource)
// and the LUN allocation over a VM's disk list.
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KxSnapAzureAPI.h"
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
    for (const char* text :
         {"", ";;;", "snapurl:a;", "SourceDiskURL:a;", "snapURL;", "snapURL:https://x;"}) {
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

TEST(ResourceName, PlainNamesPassSeparatorsEscapesBlanksAndDotsAreRefused) {
    for (const std::string name : {"snap-1", "s1_3_CLONE", "data.disk_1", "a..b"})
        EXPECT_TRUE(ValidateAzureResourceName(name).IsSuccess()) << name;
    const std::string refused[] = {"",     "a/b",  "a?b", "a#b", "a%2Fb", "a b",
                                   "a\tb", "a\nb", "..",  ".",   "a\\b",  std::string("a\0b", 3),
                                   "a\x7f"};
    for (const std::string& name : refused) {
        const CUxError err = ValidateAzureResourceName(name);
        EXPECT_EQ(err.Code(), 774) << name;
        EXPECT_NE(err.Message().find("Invalid Azure resource name"), std::string::npos);
    }
}

TEST(ResourcePath, SegmentsAreCheckedOneByOne) {
    for (const std::string path :
         {"/subscriptions/s/resourceGroups/RG/providers/Microsoft.Compute/disks/d1",
          "subscriptions/s/resourceGroups/RG/providers/Microsoft.Compute/snapshots/s"}) {
        EXPECT_TRUE(ValidateAzureResourcePath(path).IsSuccess()) << path;
    }
    for (const std::string path : {"", "/", "subscriptions/s/../other", "disks/d1?x=1", "disks/d 1",
                                   "disks/d1#frag", "disks/%2e%2e"}) {
        EXPECT_EQ(ValidateAzureResourcePath(path).Code(), 774) << path;
    }
}

// The first gap from the LUN asked for; the OS disk's entry (-1) blocks none,
// and with all 64 taken the output is left alone.
TEST(LunAllocation, TheFirstFreeLunFromTheOneAskedFor) {
    struct Case {
        std::vector<int> taken;
        int from;
        int lun;  // -2: none free
    };
    std::vector<int> all;
    for (int lun = 0; lun <= 63; ++lun)
        all.push_back(lun);
    const std::vector<int> allButLast(all.begin(), all.end() - 1);
    const Case cases[] = {{{0, 1, 3, -1}, 0, 2}, {{0, 1, 3, -1}, 3, 4}, {{-1}, 0, 0},
                          {allButLast, 0, 63},   {all, 0, -2},          {{}, 64, -2}};
    KxSnapAzureAPI api;
    for (const Case& c : cases) {
        std::vector<AzureDiskInfo> disks(c.taken.size());
        for (size_t i = 0; i < disks.size(); ++i)
            disks[i].lun = c.taken[i];
        int lun = -2;
        EXPECT_EQ(c.lun != -2, api.FindFirstFreeLUNIdForVM(disks, lun, c.from)) << c.from;
        EXPECT_EQ(c.lun, lun) << c.taken.size() << " taken, from " << c.from;
    }
}

}  // namespace
