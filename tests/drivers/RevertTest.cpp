// Revert, per device and bulk, through the real exports.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"
#include "platform/FXString.h"

namespace drivertest {
namespace {

class RevertTest : public DriverTest {
protected:
    std::unique_ptr<kxtest::TestHost> BackedUpHost(const std::vector<std::string>& devices) {
        backup_ = Backup(devices);
        emu_->clearRequestLog();
        return SnapshotHost(*backup_, 21);
    }
    // The field of a metadata text.
    static std::string Field(const std::string& text, const std::string& key) {
        const size_t start = text.find(key + ":");
        if (start == std::string::npos)
            return "";
        const size_t from = start + key.size() + 1;
        return text.substr(from, text.find(';', from) - from);
    }
    void ExpectReverted(kxtest::TestHost& host, size_t index, const std::string& newDisk) {
        EXPECT_EQ(Status(host, index), 22) << index;
        const int lun = AttachedLun(newDisk);
        ASSERT_GE(lun, 0) << newDisk;
        EXPECT_EQ(host.Record(index).data().revertedDevicePath, DeviceAtLun(lun));
        const std::string before = SnapMetadata(*backup_, index);
        const std::string after = SnapMetadata(host, index);
        EXPECT_TRUE(FXString::EqualsNoCase(FXString::Trim(Field(after, "sourceDiskURL"), "/"),
                                           FXString::Trim(emu_->diskId(newDisk), "/")))
            << after;
        for (const char* key : {"snapURL", "sourceDiskName", "sourceDiskSku"})
            EXPECT_EQ(Field(after, key), Field(before, key)) << key;
    }
    // The name of the attached disk that starts with `prefix`.
    std::string AttachedDiskStartingWith(const std::string& prefix) const {
        for (const azemu::AttachedDisk& disk : emu_->dataDisks()) {
            if (disk.name.rfind(prefix, 0) == 0)
                return disk.name;
        }
        return "";
    }
    std::unique_ptr<kxtest::TestHost> backup_;
};

// The scenarios that hold for a bulk revert and for one device at a time.
class RevertModeTest : public RevertTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        RevertTest::SetUp();
        UseSettings(ModeSettings());
    }
    bool Bulk() const { return GetParam(); }
    std::string ModeSettings() const { return Bulk() ? "" : kPerDevice; }
};

TEST_P(RevertModeTest, WithoutTheDeleteSettingSourceDisksAreOnlyDetached) {
    auto host = BackedUpHost({"/dev/sdc", "/dev/sdd"});
    ASSERT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 0);
    EXPECT_FALSE(host->Logged("User ENABLED the setting"));
    for (size_t i = 0; i < 2; ++i) {
        const std::string source = "data" + std::to_string(i);
        EXPECT_EQ(AttachedLun(source), -1);
        EXPECT_TRUE(DiskExists(source));
        const std::string newDisk = AttachedDiskStartingWith(source + "-");
        ASSERT_FALSE(newDisk.empty());
        ExpectReverted(*host, i, newDisk);
    }
    EXPECT_TRUE(host->Logged("Successfully discovered all the reverted devices"));
    if (!Bulk()) {
        EXPECT_TRUE(host->Logged("Detached source disk [data1] from lunid [1]"));
    }
    // The new disks are tagged as made by a revert of this job.
    const auto disk = emu_->resource(emu_->diskId(AttachedDiskStartingWith("data0-")));
    EXPECT_NE(disk->at("tags")
                  .at("DiskRevertOperationByHarrowind")
                  .get<std::string>()
                  .find("job 21 original disk name [data0]"),
              std::string::npos);
}

TEST_P(RevertModeTest, WithTheDeleteSettingSourceDisksAreReplacedUnderTheirOwnName) {
    UseSettings(kDeleteSource + ModeSettings());
    auto host = BackedUpHost({"/dev/sde", "/dev/sdf"});
    ASSERT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 0);
    EXPECT_TRUE(
        host->Logged("User ENABLED the setting "
                     "[Ferrolink/bAzureDeleteOriginalDiskOnRevert] to delete the "
                     "source disks"));
    ExpectReverted(*host, 0, "data2");
    ExpectReverted(*host, 1, "data3");
    // The disk at the old name is the new one, made from the snapshot.
    const auto disk = emu_->resource(emu_->diskId("data3"));
    EXPECT_NE(disk->at("properties")
                  .at("creationData")
                  .at("sourceResourceId")
                  .get<std::string>()
                  .find("snap-sdf"),
              std::string::npos);
    if (!Bulk()) {
        EXPECT_TRUE(host->Logged("Deleted source disk [data2] from lunid [2]"));
    }
}

TEST_F(RevertTest, ReusingTheNameWaitsUntilAzureHasDeletedTheSourceDisk) {
    UseSettings(kDeleteSource);
    auto host = BackedUpHost({"/dev/sdc"});
    Tune(&azemu::Settings::deleteDelayMs, 300);
    ASSERT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 0)
        << ErrorText(*host, 0);
    // The create came only after a read of the source disk answered 404.
    const auto log = emu_->requestLog();
    uint64_t goneAt = 0;
    uint64_t createdAt = 0;
    for (const auto& request : log) {
        if (request.method == "GET" && request.status == 404 &&
            FXString::FindString(request.url, "/disks/data0?", true) != std::string::npos) {
            goneAt = request.seq;
        }
        if (request.method == "PUT" &&
            FXString::FindString(request.url, "/disks/data0?", true) != std::string::npos) {
            createdAt = request.seq;
        }
    }
    EXPECT_NE(goneAt, 0u);
    EXPECT_GT(createdAt, goneAt);
    ExpectReverted(*host, 0, "data0");
}

TEST_P(RevertModeTest, SnapshotWhoseSourceDiskIsNotAttachedIsRevertedAllTheSame) {
    auto host = std::make_unique<kxtest::TestHost>(22);
    host->Add(SnapshotRecord("spareSnap", Metadata("spareSnap", "spare", "spare", "Standard_LRS")));
    ASSERT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 0);
    EXPECT_TRUE(host->Logged("Unable to find the sourcedisk [" +
                             FXString::TrimLeft(emu_->diskId("spare"), "/") +
                             "] attached to the VM. Proceed to create disk from snapshot"));
    if (Bulk()) {
        EXPECT_TRUE(host->Logged(
            "No source disks found on the VM. Proceed to create new disks from snapshots"));
    }
    EXPECT_EQ(Status(*host, 0), 22);
    EXPECT_FALSE(AttachedDiskStartingWith("spare-").empty());
    EXPECT_EQ(emu_->dataDisks().size(), 5u);
    EXPECT_TRUE(DiskExists("spare"));
}

TEST_P(RevertModeTest, NameOverEightyCharactersFailsBeforeAnythingIsDetached) {
    auto host = std::make_unique<kxtest::TestHost>(23);
    const std::string longName(75, 'n');
    host->Add(SnapshotRecord("spareSnap", Metadata("spareSnap", "data0", longName)));
    emu_->clearRequestLog();
    EXPECT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(ErrorCode(*host, 0), 60005);
    EXPECT_EQ(ErrorText(*host, 0).rfind("Failed to generate new disk name.", 0), 0u)
        << ErrorText(*host, 0);
    EXPECT_NE(ErrorText(*host, 0).find("Azure disk name exceeds 80 characters limit"),
              std::string::npos);
    EXPECT_TRUE(Sent("PUT").empty());
    EXPECT_EQ(AttachedLun("data0"), 0);
}

TEST_F(RevertTest, BadMetadataStopsTheRevertBeforeAnyChange) {
    auto host = BackedUpHost({"/dev/sdc", "/dev/sdd"});
    host->Record(1).data().metadata.clear();
    EXPECT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(ErrorText(*host, 1), "Failed to fetch Azure snapshot URL from metadata");
    EXPECT_TRUE(Sent("PUT").empty());

    host->Record(1).data().metadata[6] =
        "snapURL:" + emu_->diskId("data1") + ";sourceDiskURL:;sourceDiskName:;sourceDiskSku:;";
    EXPECT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 1);
    EXPECT_EQ(ErrorText(*host, 1), "Failed to parse Azure snapshot URL from metadata.");
    EXPECT_TRUE(Sent("PUT").empty());
    EXPECT_EQ(AttachedLun("data0"), 0);
}

// When no new device shows up, each record says which LUN it missed and
// names its new disk (the last one's reason comes before the call's own
// message), and the metadata names the new disk.
TEST_P(RevertModeTest, NewDiskWithoutDeviceIsStillNamedByTheMetadata) {
    auto host = BackedUpHost({"/dev/sdc", "/dev/sdd"});
    Tune(&azemu::Settings::deviceDelayMs, 600000);
    EXPECT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 1);
    const std::string newDisk = AttachedDiskStartingWith("data0-");
    ASSERT_FALSE(newDisk.empty());
    EXPECT_EQ(Status(*host, 0), 23);
    EXPECT_EQ(ErrorCode(*host, 0), 60005);
    EXPECT_EQ(host->Record(0).data().revertedDevicePath, "");
    EXPECT_NE(ErrorText(*host, 0).find(" [" + newDisk + "]"), std::string::npos)
        << ErrorText(*host, 0);
    // The VM's disk is now the new one: a later revert must not look for data0.
    EXPECT_NE(FXString::FindString(SnapMetadata(*host, 0), "/disks/" + newDisk + ";", true),
              std::string::npos)
        << SnapMetadata(*host, 0);
    if (Bulk()) {
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(ErrorText(*host, i).rfind("Failed to get disk name for lunid[", 0), 0u)
                << ErrorText(*host, i);
        }
        const std::string last = ErrorText(*host, 1);
        const std::string callFailure = "] Failed to find newly mapped device names [data1-";
        EXPECT_NE(last.find(callFailure), std::string::npos) << last;
        EXPECT_EQ(last.back(), ']') << last;
    }
}

TEST_P(RevertModeTest, HostRefusingTheRevertedStatusFailsTheRecordAndNamesTheNewDisk) {
    auto host = BackedUpHost({"/dev/sdc", "/dev/sdd"});
    host->Record(0).data().refuse = {"setStatus"};
    EXPECT_EQ(kxso_revertSnaps(host->devices(), host->count(), host->util()), 1);
    const std::string newDisk = AttachedDiskStartingWith("data0-");
    ASSERT_FALSE(newDisk.empty());
    EXPECT_EQ(ErrorCode(*host, 0), 60005);
    EXPECT_NE(ErrorText(*host, 0).find("refused to store status [22]"), std::string::npos)
        << ErrorText(*host, 0);
    EXPECT_NE(ErrorText(*host, 0).find("/disks/" + newDisk + "]"), std::string::npos)
        << ErrorText(*host, 0);
    // The metadata names the new disk all the same, for a later revert.
    EXPECT_NE(FXString::FindString(SnapMetadata(*host, 0), "/disks/" + newDisk + ";", true),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Modes, RevertModeTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Bulk" : "PerDevice";
                         });

}  // namespace
}  // namespace drivertest
