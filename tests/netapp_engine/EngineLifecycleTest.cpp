// A whole NetApp Files job through the real exports against the emulator:
// prepare of two mounted exports, snapshot, post-snapshot, then later jobs
// that map, unmap, revert, reconcile and delete. The emulator's state after
// each step shows what Azure was really left with.
#include <algorithm>
#include <string>
#include <vector>

#include "NetAppEngineFixture.h"
#include "kxso/kxso_exports.h"

namespace enginetest {
namespace {

bool Contains(const std::vector<int>& history, int status) {
    return std::find(history.begin(), history.end(), status) != history.end();
}

class EngineLifecycleTest : public NetAppEngineTest {
protected:
    std::string FileSystemId(const std::string& volume) const {
        return Resource(VolumeId(volume))["properties"]["fileSystemId"].get<std::string>();
    }
    std::string SnapshotGuid(const std::string& volume, const std::string& snapshot) const {
        return Resource(SnapshotId(volume, snapshot))["properties"]["snapshotId"]
            .get<std::string>();
    }
};

TEST_F(EngineLifecycleTest, PrepareSnapshotAndPostSnapshotLeaveCompleteRecords) {
    auto host = ExportHost();
    ASSERT_EQ(0, Run(kxso_prepareDevices, *host));
    const char* volumes[] = {"vol1", "vol2"};
    for (int i = 0; i < 2; ++i) {
        const kxsnap::RecordData& record = host->Record(i).data();
        const std::string prefix =
            emu_->subscriptionId() + "|kx-anf-rg|kxacct|pool1|" + volumes[i] + "|";
        EXPECT_EQ(1, record.status);
        EXPECT_EQ(prefix + "|", record.metadata.at(6));
        EXPECT_EQ("westeurope|", record.metadata.at(154));
        EXPECT_EQ(FileSystemId(volumes[i]) + "||", record.metadata.at(161));
        EXPECT_EQ(VolumeId(volumes[i]) + "|", record.transientMetadata.at(102));
        EXPECT_EQ("AzureNetAppFiles-Default-MI", record.arrayName.value_or(""));
        EXPECT_EQ(0, record.errorCode) << record.errorText;
    }
    EXPECT_TRUE(Sent("PUT").empty());

    ASSERT_EQ(0, Run(kxso_snapDevices, *host));
    const std::string uuids[] = {kSnapUuid1, kSnapUuid2};
    for (int i = 0; i < 2; ++i) {
        const kxsnap::RecordData& record = host->Record(i).data();
        EXPECT_EQ(5, record.status);
        EXPECT_NE(0u, record.snapFlags & 0x8000000ULL);
        // The snapshot is addressed through the volume's own id.
        EXPECT_EQ(1u,
                  Sent("PUT", VolumeId(volumes[i]).substr(1) + "/snapshots/" + uuids[i]).size());
        EXPECT_EQ(1u, record.transientMetadata.count(155));
    }

    ASSERT_EQ(0, Run(kxso_postSnapDevices, *host));
    for (int i = 0; i < 2; ++i) {
        const kxsnap::RecordData& record = host->Record(i).data();
        EXPECT_EQ(
            emu_->subscriptionId() + "|kx-anf-rg|kxacct|pool1|" + volumes[i] + "|" + uuids[i] + "|",
            record.metadata.at(6));
        EXPECT_EQ(FileSystemId(volumes[i]) + "|" + SnapshotGuid(volumes[i], uuids[i]) + "|",
                  record.metadata.at(161));
        EXPECT_EQ(5, record.status);
    }
    EXPECT_TRUE(host->Logged("Post snap operation completed for [2] volume(s)."));
}

TEST_F(EngineLifecycleTest, MapUnmapRevertReconcileAndDeleteInLaterJobs) {
    auto backup = Backup();
    // The applications go on writing after the snapshot.
    ASSERT_TRUE(emu_->setVolumeContent("vol1", "vol1:v2"));
    ASSERT_TRUE(emu_->setVolumeContent("vol2", "vol2:v2"));
    auto host = LaterJob(*backup);
    const std::string uuids[] = {kSnapUuid1, kSnapUuid2};
    const char* volumes[] = {"vol1", "vol2"};

    // Map: one clone per snapshot, holding the snapshot's content.
    ASSERT_EQ(0, Run(kxso_mapSnaps, *host));
    std::vector<azemu::NetAppVolumeView> state = emu_->netAppVolumes();
    for (int i = 0; i < 2; ++i) {
        const std::string cloneName = "KXClone-" + uuids[i];
        const std::optional<azemu::NetAppVolumeView> clone = Volume(cloneName);
        ASSERT_TRUE(clone.has_value()) << cloneName;
        EXPECT_EQ(std::string(volumes[i]) + ":v1", clone->content);
        EXPECT_EQ("harrowind", clone->tags.value("data-protection-vendor-kx", ""));
        EXPECT_EQ("quillfast", clone->tags.value("data-protection-feature-kx", ""));
        EXPECT_EQ(SnapshotId(volumes[i], uuids[i]), clone->clonedFrom);
        const kxsnap::RecordData& record = host->Record(i).data();
        EXPECT_EQ(12, record.status);
        EXPECT_EQ(clone->mountTargetIp + ":/" + cloneName, record.mappedDevicePath);
        EXPECT_EQ(0, record.errorCode) << record.errorText;
    }
    EXPECT_EQ(4u, state.size());
    // The export rule lets this machine, and only it, mount the clone.
    ASSERT_EQ(2u, Sent("PUT", "volumes/KXClone-").size());
    // vol1's clone: the two are requested side by side, in either order.
    std::vector<azemu::RequestRecord> creates = Sent("PUT", "volumes/KXClone-" + uuids[0]);
    ASSERT_EQ(1u, creates.size());
    const azemu::Json body = azemu::Json::parse(creates[0].body);
    EXPECT_EQ("10.20.0.4", body["properties"]["exportPolicy"]["rules"][0]["allowedClients"]);
    EXPECT_EQ("1099511627776", body["properties"]["usageThreshold"]);

    // Unmap: the clones are gone and the host no longer sees an export path.
    ASSERT_EQ(0, Run(kxso_unmapSnaps, *host));
    state = emu_->netAppVolumes();
    EXPECT_EQ(2u, state.size());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(14, host->Record(i).data().status);
        EXPECT_EQ("", host->Record(i).data().mappedDevicePath);
    }

    // Revert: both volumes hold their snapshot's content again.
    ASSERT_EQ(0, Run(kxso_revertSnaps, *host));
    for (int i = 0; i < 2; ++i) {
        const std::optional<azemu::NetAppVolumeView> volume = Volume(volumes[i]);
        ASSERT_TRUE(volume.has_value());
        EXPECT_EQ(std::string(volumes[i]) + ":v1", volume->content);
        EXPECT_EQ(SnapshotId(volumes[i], uuids[i]), volume->revertedTo);
        EXPECT_EQ(22, host->Record(i).data().status);
    }
    ASSERT_EQ(1u, Sent("POST", "volumes/vol1/revert").size());
    EXPECT_EQ(SnapshotId("vol1", uuids[0]),
              azemu::Json::parse(Sent("POST", "volumes/vol1/revert")[0].body)["snapshotId"]);

    // Reconcile: the snapshot someone else deleted is reported, the other left alone.
    DeleteBehindOurBack("vol2", uuids[1]);
    ASSERT_EQ(0, Run(kxso_reconcileSnaps, *host));
    EXPECT_EQ(22, host->Record(0).data().status);
    EXPECT_EQ(24, host->Record(1).data().status);
    EXPECT_TRUE(host->Logged(
        "Snapshot Recon stats: Total-[2] Externally Deleted-[1] Skipped-[0] Failed-[0]"));

    // Delete: the remaining snapshot goes, the missing one counts as deleted.
    ASSERT_EQ(0, Run(kxso_deleteSnaps, *host));
    EXPECT_EQ(20, host->Record(0).data().status);
    EXPECT_EQ(20, host->Record(1).data().status);
    EXPECT_TRUE(host->Logged("Snapshot delete stats -- total [2] deleted [2] failed [0]"));
    state = emu_->netAppVolumes();
    ASSERT_EQ(2u, state.size());
    for (const azemu::NetAppVolumeView& volume : state) {
        EXPECT_TRUE(volume.snapshots.empty()) << volume.creationToken;
        EXPECT_TRUE(volume.clonedFrom.empty());
    }
    EXPECT_TRUE(Contains(host->Record(0).data().statusHistory, 21));
}

}  // namespace
}  // namespace enginetest
