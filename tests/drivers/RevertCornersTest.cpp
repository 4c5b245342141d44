// Revert where an earlier step's outcome must not cost a disk: every record
// is checked before any source disk goes, a disk an interrupted revert left
// attached is replaced like the source disk.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

class RevertCornersTest : public DriverTest {
protected:
    int AttachedCountStartingWith(const std::string& prefix) const {
        int count = 0;
        for (const azemu::AttachedDisk& disk : emu_->dataDisks())
            count += disk.name.rfind(prefix, 0) == 0 ? 1 : 0;
        return count;
    }
};

// Per device, the source disks used to be detached one by one and each
// record's new name checked only then: the second record's bad name left the
// first record's source disk detached (or deleted) with no error on it.
TEST_F(RevertCornersTest, ALaterRecordsBadNameDetachesNothing) {
    for (const char* extra : {"", kDeleteSource}) {
        StartEmulator(FourDiskScenario());
        UseSettings(std::string(kPerDevice) + extra);
        auto backup = Backup({"/dev/sdc", "/dev/sdd", "/dev/sde"});
        auto host = SnapshotHost(*backup, 31);
        // "<source name>-<time>" is 86 characters; with the delete setting the new
        // disk takes the source disk's own name, here 85 characters.
        host->Record(1).data().metadata[6] =
            *extra ? Metadata("snap-sdd", std::string(85, 'n'), "data1", "Premium_LRS")
                   : Metadata("snap-sdd", "data1", std::string(75, 'n'), "Premium_LRS");
        emu_->clearRequestLog();
        EXPECT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 1) << extra;
        EXPECT_EQ(ErrorCode(*host, 1), 60005);
        EXPECT_EQ(ErrorText(*host, 1).rfind("Failed to generate new disk name. [", 0), 0u)
            << ErrorText(*host, 1);
        EXPECT_EQ(AttachedLun("data0"), 0) << extra;
        EXPECT_TRUE(DiskExists("data0")) << extra;
        EXPECT_TRUE(Sent("PUT").empty()) << extra;
        EXPECT_TRUE(Sent("DELETE").empty()) << extra;
        EXPECT_EQ(Status(*host, 0), 23);
        EXPECT_EQ(ErrorCode(*host, 0), 0);
    }
}

// The state an interrupted revert leaves: the source disk data0 detached, the
// disk made from snapshot snapX attached (LUN 0) while the metadata still
// names data0. Beside it a disk that a revert made from another snapshot, and
// a detached disk made like the leftover: neither is the record's.
azemu::Json InterruptedRevertScenario(bool sourceStillExists) {
    const char* reverted =
        "Harrowind created the disk from revert restore job 21 original disk name [data0]";
    azemu::Json scenario = azemu::Json::parse(R"({
        "resourceGroup": "kx-rg",
        "location": "westeurope",
        "vm": {"name": "kxvm", "dataDisks": [
            {"lun": 0, "name": "data0-1700000000", "sku": "Premium_LRS"},
            {"lun": 1, "name": "data1", "sku": "Premium_LRS"},
            {"lun": 2, "name": "data0-1600000000", "sku": "Premium_LRS"}
        ]},
        "disks": [{"name": "data0-1500000000", "sku": "Premium_LRS"}],
        "snapshots": [{"name": "snapX", "sourceDisk": "data1"}]
    })");
    auto tag = [&](const char* snapshot) {
        return azemu::Json{{"DiskCreatedByHarrowind",
                            std::string("Harrowind created the disk from snapshot ") + snapshot},
                           {"DiskRevertOperationByHarrowind", reverted}};
    };
    scenario["vm"]["dataDisks"][0]["tags"] = tag("snapX");
    scenario["vm"]["dataDisks"][2]["tags"] = tag("otherSnap");
    scenario["disks"][0]["tags"] = tag("snapX");
    if (sourceStillExists) {
        scenario["disks"].push_back({{"name", "data0"}, {"sku", "Premium_LRS"}});
    }
    return scenario;
}

struct InterruptedCase {
    const char* name;
    bool perDevice;
    bool deleteSource;
};

class InterruptedRevertTest : public RevertCornersTest,
                              public ::testing::WithParamInterface<InterruptedCase> {};

TEST_P(InterruptedRevertTest, TheLeftoverIsReplacedLikeTheSourceDisk) {
    const InterruptedCase& c = GetParam();
    // With the delete setting the new disk takes the name data0 again, which
    // only a deleted source disk leaves free.
    StartEmulator(InterruptedRevertScenario(!c.deleteSource));
    UseSettings(std::string(c.perDevice ? kPerDevice : "") + (c.deleteSource ? kDeleteSource : ""));
    auto host = std::make_unique<kxtest::TestHost>(22);
    host->Add(SnapshotRecord("snapX", Metadata("snapX", "data0", "data0", "Premium_LRS")));
    ASSERT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 0)
        << ErrorText(*host, 0);
    EXPECT_EQ(Status(*host, 0), 22);
    EXPECT_EQ(AttachedLun("data0-1700000000"), -1);
    EXPECT_EQ(DiskExists("data0-1700000000"), !c.deleteSource);
    EXPECT_TRUE(host->Logged("left by an interrupted revert of"));
    // One disk for the record; the other revert's disk and the detached one stay as they were.
    EXPECT_EQ(AttachedCountStartingWith("data0"), 2);
    EXPECT_EQ(AttachedLun("data0-1600000000"), 2);
    EXPECT_TRUE(DiskExists("data0-1500000000"));
    EXPECT_EQ(AttachedLun("data0-1500000000"), -1);
    EXPECT_EQ(emu_->dataDisks().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Modes, InterruptedRevertTest,
                         ::testing::Values(InterruptedCase{"Bulk", false, false},
                                           InterruptedCase{"PerDevice", true, false},
                                           InterruptedCase{"BulkDeleting", false, true},
                                           InterruptedCase{"PerDeviceDeleting", true, true}),
                         [](const ::testing::TestParamInfo<InterruptedCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace drivertest
