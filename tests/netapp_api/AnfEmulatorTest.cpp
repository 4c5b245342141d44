// The resource operations against the emulator's NetApp Files side, over real
// libcurl and TLS: one snapshot's whole life (discovery, create, follow, read,
// clone, revert, delete) checked against what the emulator holds afterwards;
// then its injected faults. The status codes of every answer are in the
// scripted-server tests beside this one.
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AnfApiTestSupport.h"
#include "AzureEmulator.h"
#include "support/EmulatorEnv.h"

namespace anftest {
namespace {

constexpr const char* kDataShare = "oradata";
constexpr const char* kDataAddress = "10.20.1.4";

azemu::Json SampleScenario() {
    std::ifstream in(std::string(KXSO_SOURCE_DIR) + "/emulator/scenarios/sample-anf.json");
    std::stringstream text;
    text << in.rdbuf();
    return azemu::Json::parse(text.str());
}

class AnfEmulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        emu_ = std::make_unique<azemu::Emulator>(SampleScenario(), dir_ / "root");
        emu_->start();
        env_ = kxtest::PointPluginAtEmulator(*emu_, dir_ / "kxso.log");
        host_.Add(cloudtest::AnfRecord(1, kDataShare, kDataAddress));
        api_ = std::make_unique<TestableAPI>(&host_.Record(0));
        api_->SetRetries(20, 0);
        ASSERT_EQ(0, api_->rest_connectToArray(instance_));
        ASSERT_EQ(0, api_->rest_getInstanceDetails(instance_,
                                                   ANF_API_CONST::ANF_GET_INSTANCE_FLAG_EXTENDED));
    }
    void TearDown() override {
        api_.reset();
        emu_->stop();
    }

    std::vector<AzureNetApp::AzureEntity> AccessibleGroups() {
        std::vector<std::string> subscriptions;
        EXPECT_EQ(0, api_->rest_listSubscriptions(subscriptions));
        std::vector<AzureNetApp::AzureEntity> groups;
        for (const std::string& subscription : subscriptions) {
            std::vector<std::string> names;
            EXPECT_EQ(0, api_->rest_listResourceGroups(subscription, names));
            for (const std::string& name : names) {
                groups.push_back({subscription, name});
            }
        }
        return groups;
    }
    std::shared_ptr<AzureNetApp::KxSnapANFSnapObj> Device(int64_t snapNum, const std::string& share,
                                                          const std::string& address) {
        auto device = std::make_shared<AzureNetApp::KxSnapANFSnapObj>(&host_.Record(0));
        device->snapNum = snapNum;
        device->devInfo.sharePath = share;
        device->devInfo.arrayName = address;
        return device;
    }
    // The data volume's device, resolved by discovery.
    std::shared_ptr<AzureNetApp::KxSnapANFSnapObj> DiscoveredDataDevice() {
        AzureNetApp::SnapObjMap devices{{1, Device(1, kDataShare, kDataAddress)}};
        std::vector<AzureNetApp::AzureEntity> groups = AccessibleGroups();
        EXPECT_EQ(0, api_->discoverArrayVolumeDetails(devices, groups));
        return devices[1];
    }
    const azemu::NetAppVolumeView* Volume(const std::string& creationToken) {
        volumes_ = emu_->netAppVolumes();
        for (const azemu::NetAppVolumeView& volume : volumes_) {
            if (volume.creationToken == creationToken) {
                return &volume;
            }
        }
        return nullptr;
    }
    // Follows a status link to its end.
    int Follow(const std::string& link, int opKind, AzureNetApp::AzureAsyncOpInfo& op) {
        op.asyncOpUrl = link;
        return api_->monitorSnapOpProgress(op, opKind);
    }

    kxtest::TempDir dir_;
    std::unique_ptr<azemu::Emulator> emu_;
    std::vector<std::unique_ptr<kxtest::ScopedEnv>> env_;
    kxtest::ScopedSettings settings_{"[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n"};
    kxtest::TestHost host_;
    std::unique_ptr<TestableAPI> api_;
    AzureNetApp::AzureInstanceInfo instance_;
    std::vector<azemu::NetAppVolumeView> volumes_;
};

TEST_F(AnfEmulatorTest, ASnapshotsWholeLifeLeavesTheEmulatorAsExpected) {
    std::shared_ptr<AzureNetApp::KxSnapANFSnapObj> device = DiscoveredDataDevice();
    ASSERT_FALSE(device->snapshotInfo.fileSystemId.empty());
    AzureNetApp::KxSnapANFSnapObj& snapObj = *device;
    snapObj.snapName = "kx-snap-1";

    // Create, then follow the link the post-snapshot phase would find.
    ASSERT_EQ(0, api_->rest_createSnap(snapObj));
    const std::string link = host_.Record(0).data().transientMetadata[155];
    ASSERT_FALSE(link.empty());
    AzureNetApp::AzureAsyncOpInfo op;
    ASSERT_EQ(0, Follow(link, ANF_API_CONST::ANF_OP_CREATE_SNAP, op));
    AzureNetApp::AzureNetAppSnapshotInfo found;
    ASSERT_EQ(0, api_->rest_getSnapshotInfoFromURL(op.resourceName, found));
    EXPECT_EQ("kx-snap-1", found.snapshotName);
    ASSERT_EQ(1u, Volume(kDataShare)->snapshots.size());
    EXPECT_EQ(Volume(kDataShare)->snapshots[0].snapshotId, found.snapshotId);
    snapObj.snapshotInfo.snapshotId = found.snapshotId;
    EXPECT_TRUE(emu_->setVolumeContent(kDataShare, "oradata-v2"));

    // Clone it, as map does: the source's quota, subnet and protocols first.
    AzureNetApp::AzureNetAppVolumeInfo source = snapObj.snapshotInfo;
    ASSERT_EQ(0, api_->rest_getVolumeInfo(source, true));
    EXPECT_EQ("1099511627776", source.usageThreshold);
    snapObj.cloneVolumeInfo = source;
    snapObj.cloneVolumeInfo.volumeName = "KXClone-kx-snap-1";
    snapObj.cloneVolumeInfo.sharePath = "KXClone-kx-snap-1";
    const int cloned = api_->rest_createClone(snapObj, instance_);
    ASSERT_TRUE(cloned == 0 || cloned == 26) << cloned;
    if (cloned == 26) {
        ASSERT_EQ(0, Follow(snapObj.asyncOpLink, ANF_API_CONST::ANF_OP_CREATE_CLONE, op));
    }
    AzureNetApp::AzureNetAppVolumeInfo clone = snapObj.cloneVolumeInfo;
    ASSERT_EQ(0, api_->rest_getCloneInfo(clone));
    ASSERT_EQ(1u, clone.mountTargets.size());
    EXPECT_NE(kDataAddress, clone.mountTargets[0].ipAddress) << "the clone's own address";
    EXPECT_EQ("KXClone-kx-snap-1", clone.sharePath);
    const azemu::NetAppVolumeView* cloneView = Volume("KXClone-kx-snap-1");
    ASSERT_NE(nullptr, cloneView);
    EXPECT_EQ(clone.mountTargets[0].ipAddress, cloneView->mountTargetIp);
    EXPECT_EQ("oradata-v1", cloneView->content);
    EXPECT_EQ(found.snapRawPath, cloneView->clonedFrom);
    EXPECT_EQ("harrowind", cloneView->tags.value("data-protection-vendor-kx", ""));
    EXPECT_EQ("quillfast", cloneView->tags.value("data-protection-feature-kx", ""));

    // Revert the source volume to the snapshot.
    snapObj.snapshotInfo.snapRawPath = found.snapRawPath;
    const int reverted = api_->rest_revertVolume(snapObj, instance_);
    ASSERT_TRUE(reverted == 0 || reverted == 26) << reverted;
    if (reverted == 26) {
        ASSERT_EQ(0, Follow(snapObj.asyncOpLink, ANF_API_CONST::ANF_OP_REVERT_VOL, op));
    }
    EXPECT_EQ("oradata-v1", Volume(kDataShare)->content);
    EXPECT_EQ(found.snapRawPath, Volume(kDataShare)->revertedTo);

    // Unmap and delete: both gone, and gone is what a second delete finds.
    ASSERT_EQ(0, api_->rest_deleteClone(clone));
    EXPECT_EQ(nullptr, Volume("KXClone-kx-snap-1"));
    AzureNetApp::AzureNetAppVolumeInfo again = snapObj.cloneVolumeInfo;
    EXPECT_EQ(18, api_->rest_getCloneInfo(again));
    ASSERT_EQ(0, api_->rest_deleteSnaps(snapObj));
    EXPECT_TRUE(Volume(kDataShare)->snapshots.empty());
    EXPECT_EQ(18, api_->rest_getSnapshotInfo(snapObj, found));
    EXPECT_EQ(0, api_->rest_deleteSnaps(snapObj));
}

TEST_F(AnfEmulatorTest, InjectedFaultsGiveTheirCodes) {
    std::shared_ptr<AzureNetApp::KxSnapANFSnapObj> device = DiscoveredDataDevice();
    AzureNetApp::KxSnapANFSnapObj& snapObj = *device;
    snapObj.snapName = "kx-snap-3";

    // A snapshot answered 201 without a link was made at once.
    azemu::FaultSpec noLink;
    noLink.method = "PUT";
    noLink.path = "/snapshots/kx-snap-3$";
    noLink.action = azemu::FaultAction::NoAsyncHeader;
    emu_->injectFault(noLink);
    host_.Record(0).data().transientMetadata.clear();
    EXPECT_EQ(0, api_->rest_createSnap(snapObj));
    EXPECT_EQ(0u, host_.Record(0).data().transientMetadata.count(155));
    emu_->completePending();

    // Reads whose answers are broken (every try: the transport may try a
    // dropped request again).
    AzureNetApp::AzureNetAppSnapshotInfo found;
    for (const azemu::FaultAction action :
         {azemu::FaultAction::Truncate, azemu::FaultAction::NonJson, azemu::FaultAction::Drop}) {
        azemu::FaultSpec broken;
        broken.method = "GET";
        broken.path = "/snapshots/kx-snap-3$";
        broken.action = action;
        broken.status = 200;
        broken.times = -1;
        emu_->injectFault(broken);
        EXPECT_EQ(15, api_->rest_getSnapshotInfo(snapObj, found)) << azemu::faultActionName(action);
        emu_->clearFaults();
    }
    ASSERT_EQ(0, api_->rest_getSnapshotInfo(snapObj, found));

    // A delete accepted without a link cannot be followed, so it fails.
    azemu::FaultSpec deleteNoLink;
    deleteNoLink.method = "DELETE";
    deleteNoLink.path = "/snapshots/kx-snap-3$";
    deleteNoLink.action = azemu::FaultAction::NoAsyncHeader;
    emu_->injectFault(deleteNoLink);
    EXPECT_EQ(15, api_->rest_deleteSnaps(snapObj));
    emu_->completePending();
}

}  // namespace
}  // namespace anftest
