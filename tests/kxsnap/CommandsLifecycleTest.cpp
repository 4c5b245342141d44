// Whole lifecycles through separate kxsnap processes sharing one catalogue
// file: backup in one process, mount, unmount, revert, delete and reconcile in
// later ones, checked against the emulator's state.
#include <set>

#include <curl/curl.h>

#include "CommandsTestSupport.h"
#include "kxsnap/DemoScenarios.h"

namespace kxsnaptest {
namespace {

using nlohmann::json;

TEST_F(KxsnapCommandsTest, ManagedDiskLifecycleAcrossProcesses) {
    StartEmulator(kxsnap::ManagedDiskScenario());
    json backup = Json("backup /dev/sdc /dev/sdd /dev/sde /dev/disk/azure/scsi1/lun3");
    ASSERT_EQ(0, backup["result"]);
    ASSERT_EQ(1u, backup["jobs"].size());
    EXPECT_GT(backup["jobs"][0]["job"].get<int>(), 0);
    std::vector<std::string> names = Names(backup);
    ASSERT_EQ(4u, names.size());
    for (const auto& snapshot : backup["jobs"][0]["snapshots"]) {
        EXPECT_EQ("ready", snapshot["state"]);
        EXPECT_GT(snapshot["id"].get<int>(), 0);
        EXPECT_NE(std::string::npos, snapshot["azure"]["snapshotId"].get<std::string>().find(
                                         "/snapshots/" + snapshot["name"].get<std::string>()));
        EXPECT_LE(snapshot["name"].get<std::string>().size(), 80u);
        EXPECT_TRUE(emu_->resource(emu_->snapshotId(snapshot["name"])).has_value())
            << snapshot["name"];
    }
    EXPECT_EQ("/dev/sdf", backup["jobs"][0]["snapshots"][3]["sourceDevice"]);

    json mount = Json("mount " + names[0] + " " + names[1]);
    ASSERT_EQ(0, mount["result"]) << mount.dump(1);
    std::vector<std::string> devices;
    for (const auto& snapshot : mount["jobs"][0]["snapshots"]) {
        EXPECT_EQ("mounted", snapshot["state"]);
        devices.push_back(snapshot["device"]);
        EXPECT_TRUE(DevicePresent(*emu_, devices.back())) << devices.back();
    }
    EXPECT_EQ("mounted", Entry(Json("list"), names[1])["state"]);

    Outcome unmount = Kxsnap("unmount --yes " + names[0] + " " + names[1]);
    EXPECT_EQ(0, unmount.status) << unmount.err;
    EXPECT_TRUE(Contains(unmount.out, names[0] + ": unmounted"));
    for (const auto& device : devices)
        EXPECT_FALSE(DevicePresent(*emu_, device)) << device;

    std::string before = Entry(Json("list"), names[2])["azure"]["sourceId"];
    Outcome revert = Kxsnap("revert --yes " + names[2]);
    EXPECT_EQ(0, revert.status) << revert.err;
    EXPECT_TRUE(Contains(revert.err, "kxdemo-logs")) << "says what it replaces";
    EXPECT_TRUE(Contains(revert.out, names[2] + ": reverted"));
    json reverted = Entry(Json("list"), names[2]);
    EXPECT_FALSE(reverted["revertedDevice"].get<std::string>().empty());
    EXPECT_NE(before, reverted["azure"]["sourceId"]) << "names the new source disk";

    json removed = Json("delete " + Joined(names));
    EXPECT_EQ(0, removed["result"]);
    EXPECT_TRUE(ListedNames().empty());
    for (const auto& name : names)
        EXPECT_FALSE(emu_->resource(emu_->snapshotId(name)).has_value()) << name;
}

// Deletes a NetApp Files snapshot the way another tool would, behind kxsnap's back.
void DeleteInAzure(const azemu::Emulator& emu, const std::string& resourceId) {
    std::string url = emu.armUrl() + resourceId.substr(1) + "?api-version=2019-11-01";
    std::string header = "Authorization: Bearer " + const_cast<azemu::Emulator&>(emu).issueToken();
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, header.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "DELETE");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_CAINFO, emu.caFile().c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    EXPECT_EQ(CURLE_OK, curl_easy_perform(curl));
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    EXPECT_LT(status, 300) << url;
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}

TEST_F(KxsnapCommandsTest, NetAppFilesLifecycleAcrossProcesses) {
    StartEmulator(kxsnap::NetAppScenario());
    AddMount(kxsnap::NetAppMounts());
    const std::string& fast = kFastNetApp;

    json backup = Json(fast + "backup /mnt/sales 10.20.1.4:/builds");
    ASSERT_EQ(0, backup["result"]) << backup.dump(1);
    std::vector<std::string> names = Names(backup);
    ASSERT_EQ(2u, names.size());
    EXPECT_EQ("netapp", backup["jobs"][0]["kind"]);

    json mount = Json(fast + "mount " + Joined(names));
    ASSERT_EQ(0, mount["result"]) << mount.dump(1);
    for (const auto& snapshot : mount["jobs"][0]["snapshots"]) {
        std::string path = snapshot["device"];
        EXPECT_TRUE(Contains(path, ":/KXClone-")) << path;
    }
    size_t withClones = emu_->netAppVolumes().size();
    EXPECT_EQ(0, Json(fast + "unmount --yes " + Joined(names))["result"]);
    EXPECT_EQ(withClones - 2, emu_->netAppVolumes().size()) << "the clones are deleted";

    EXPECT_TRUE(emu_->setVolumeContent("sales", "written after the backup"));
    EXPECT_EQ(0, Kxsnap(fast + "revert --yes " + names[0]).status);
    for (const auto& volume : emu_->netAppVolumes()) {
        if (volume.creationToken == "sales") {
            EXPECT_NE("written after the backup", volume.content);
        }
    }

    DeleteInAzure(*emu_, Entry(Json("list"), names[1])["azure"]["snapshotId"]);
    json reconcile = Json(fast + "reconcile");
    EXPECT_EQ(0, reconcile["result"]) << reconcile.dump(1);
    json list = Json("list");
    EXPECT_EQ("gone", Entry(list, names[1])["state"]);
    EXPECT_EQ("ready", Entry(list, names[0])["state"]);

    EXPECT_EQ(0, Json(fast + "delete " + Joined(names))["result"]);
    EXPECT_TRUE(ListedNames().empty());
}

// A VM with the four managed disks that also mounts the two NetApp Files volumes.
std::string MixedScenario() {
    json scenario = json::parse(kxsnap::NetAppScenario());
    scenario["vm"]["dataDisks"] = json::parse(kxsnap::ManagedDiskScenario())["vm"]["dataDisks"];
    return scenario.dump();
}

TEST_F(KxsnapCommandsTest, MixedTargetsBecomeOneJobPerPluginPath) {
    StartEmulator(MixedScenario());
    AddMount(kxsnap::NetAppMounts());
    json backup = Json(kFastNetApp + "backup /dev/sdc /mnt/sales /dev/sdd");
    ASSERT_EQ(0, backup["result"]) << backup.dump(1);
    ASSERT_EQ(2u, backup["jobs"].size());
    EXPECT_EQ("disk", backup["jobs"][0]["kind"]);
    EXPECT_EQ(2u, backup["jobs"][0]["snapshots"].size());
    EXPECT_EQ("netapp", backup["jobs"][1]["kind"]);
    EXPECT_NE(backup["jobs"][0]["job"], backup["jobs"][1]["job"]);
    std::set<std::string> uuids;
    for (const auto& entry : Json("list"))
        uuids.insert(entry["uuid"].get<std::string>());
    EXPECT_EQ(3u, uuids.size()) << "every snapshot has its own UUID";

    // Reconcile asks only the NetApp Files path: the managed-disk path has none.
    Outcome reconcile = Kxsnap(kFastNetApp + "reconcile");
    EXPECT_EQ(0, reconcile.status) << reconcile.err;
    EXPECT_TRUE(Contains(reconcile.out, "2 managed-disk snapshot(s) skipped"));
}

}  // namespace
}  // namespace kxsnaptest
