// The host semantics the plug-in relies on across jobs.
#include <gtest/gtest.h>

#include "support/TestHost.h"

namespace {

using kxsnap::RecordData;
using kxtest::TestHost;

TEST(HostRecordTest, SetSnapFlagsOnlyTurnsBitsOn) {
    TestHost host;
    RecordData data;
    data.snapFlags = KXSO::SNAP_FLAG_CLOUD_SNAP;
    auto& record = host.Add(data);
    EXPECT_EQ(0, record.setSnapFlags(KXSO::SNAP_FLAG_AZURE_DISK_SNAP));
    EXPECT_EQ(KXSO::SNAP_FLAG_CLOUD_SNAP | KXSO::SNAP_FLAG_AZURE_DISK_SNAP, record.getSnapFlags());
    EXPECT_TRUE(record.isSnapFlagSet(KXSO::SNAP_FLAG_CLOUD_SNAP));
    EXPECT_FALSE(record.isSnapFlagSet(0x4));
}

TEST(HostRecordTest, MetadataFallsBackToTransientValuesOfTheJob) {
    TestHost host;
    RecordData data;
    data.transientMetadata[102] = "3";
    data.transientMetadata[6] = "transient";
    auto& record = host.Add(data);
    std::string value;
    EXPECT_TRUE(record.getSnapMetadata(102, value));
    EXPECT_EQ("3", value);
    EXPECT_TRUE(record.getSnapMetadataString(6, value));
    EXPECT_EQ("transient", value);
    record.setSnapMetadata(6, "stored");
    EXPECT_TRUE(record.getSnapMetadata(6, value));
    EXPECT_EQ("stored", value);
    EXPECT_FALSE(record.getSnapMetadata(160, value));
    EXPECT_EQ("stored", value);  // a miss leaves the output alone
}

TEST(HostRecordTest, RecordsFiledUnderOneArrayShareItsId) {
    TestHost host;
    auto& first = host.Add();
    auto& second = host.Add();
    auto& other = host.Add();
    EXPECT_EQ(0, first.getArrayId());
    KXSO::ArrayInfo* info = nullptr;
    EXPECT_TRUE(first.getArrayInfo(&info));  // no array yet: failure
    first.setArrayName("Azure-Default-MSI");
    second.setArrayName("Azure-Default-MSI");
    other.setArrayName("AzureNetAppFiles-Default-MI");
    EXPECT_NE(0, first.getArrayId());
    EXPECT_EQ(first.getArrayId(), second.getArrayId());
    EXPECT_NE(first.getArrayId(), other.getArrayId());
    ASSERT_FALSE(first.getArrayInfo(&info));
    std::string name;
    EXPECT_TRUE(info->getArrayName(name));
    EXPECT_EQ("Azure-Default-MSI", name);
    first.releaseArrayInfo(info);
}

TEST(HostRecordTest, SnapUuidIsStableAndUsesTheSeparator) {
    TestHost host;
    auto& record = host.Add();
    uint64_t reserved = 99;
    std::string first, again, plain;
    ASSERT_TRUE(record.generateSnapUuid("-", &reserved, first));
    EXPECT_EQ(0u, reserved);
    ASSERT_TRUE(record.generateSnapUuid("-", nullptr, again));
    EXPECT_EQ(first, again);
    EXPECT_EQ(36u, first.size());
    ASSERT_TRUE(record.generateSnapUuid("", nullptr, plain));
    EXPECT_EQ(32u, plain.size());

    RecordData given;
    given.snapUuid = "0f8fad5b-d9cb-469f-a165-70867728950e";
    auto& known = host.Add(given);
    ASSERT_TRUE(known.generateSnapUuid("-", nullptr, first));
    EXPECT_EQ(*given.snapUuid, first);
}

TEST(HostRecordTest, RefusedOperationsFailAndChangeNothing) {
    TestHost host;
    RecordData data;
    data.sourceDevicePath = "/dev/sdc";
    data.refuse = {"setStatus",        "setSnapFlags", "getSourceDevicePath", "setSnapMetadata",
                   "generateSnapUuid", "setArrayName", "getConfigValue"};
    data.config["SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY"] = 3;
    auto& record = host.Add(data);
    EXPECT_NE(0, record.setStatus(5));
    EXPECT_NE(0, record.setSnapFlags(0x8000000));
    EXPECT_NE(0, record.setSnapMetadata(6, "x"));
    EXPECT_NE(0, record.setArrayName("a"));
    std::string text;
    EXPECT_FALSE(record.getSourceDevicePath(text));
    EXPECT_FALSE(record.generateSnapUuid("-", nullptr, text));
    int value = -1;
    EXPECT_NE(0, record.getConfigValue("SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY", &value));
    EXPECT_EQ(-1, value);
    EXPECT_EQ(0, record.data().status);
    EXPECT_EQ(0u, record.data().snapFlags);
    EXPECT_TRUE(record.data().metadata.empty());
    EXPECT_TRUE(record.data().statusHistory.empty());
    EXPECT_EQ(0, record.getArrayId());
}

TEST(HostRecordTest, LogLinesAreFormattedAndKeepTheirRecord) {
    TestHost host;
    host.Add();
    auto& second = host.Add();
    std::string longText(5000, 'x');
    second.logMessage(1, "TAG", "device [%s] lun [%d]", longText.c_str(), 3);
    ASSERT_EQ(1u, host.Log().size());
    EXPECT_EQ(1, host.Log()[0].record);
    EXPECT_EQ("device [" + longText + "] lun [3]", host.Log()[0].text);
}

}  // namespace
