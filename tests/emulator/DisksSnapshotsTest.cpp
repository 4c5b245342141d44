// Snapshots and disks: creation by copy, provisioning, the rules Compute enforces, deletion.
#include <thread>

#include "TestSupport.h"

namespace azemu::test {
namespace {

class DisksSnapshotsTest : public EmulatorTest {
protected:
    Json getSnapshot(const std::string& name, const std::string& api = "2018-04-01") {
        Reply r = arm("GET", snapshotPath(name), "", api);
        EXPECT_EQ(r.status, 200) << r.body;
        return r.json();
    }
    Reply createDiskFrom(const std::string& name, const std::string& snapshot,
                         const Json& extra = Json::object()) {
        Json body = {{"name", name},
                     {"location", "westeurope"},
                     {"sku", {{"name", "Premium_LRS"}}},
                     {"properties",
                      {{"creationData",
                        {{"createOption", "Copy"},
                         {"sourceResourceId", emu_->snapshotId(snapshot).substr(1)}}}}},
                     {"tags", {{"DiskCreatedByTest", "from " + snapshot}}}};
        body.update(extra);
        return arm("PUT", diskPath(name), body.dump());
    }
};

TEST_F(DisksSnapshotsTest, FullSnapshotOfADisk) {
    Reply r = createSnapshot("s1", "data1");
    ASSERT_EQ(r.status, 202) << r.body;
    EXPECT_EQ(r.json()["properties"]["provisioningState"], "Updating");
    EXPECT_EQ(r.header("Azure-AsyncOperation").rfind(emu_->armUrl(), 0), 0u);

    Json s = getSnapshot("s1");
    EXPECT_EQ(s["name"], "s1");
    // A new resource's id spells the group as the creating request did.
    EXPECT_EQ(s["id"], "/" + snapshotPath("s1"));
    EXPECT_EQ(s["type"], "Microsoft.Compute/snapshots");
    EXPECT_EQ(s["location"], "westeurope");
    EXPECT_EQ(s["sku"]["name"], "Standard_LRS");
    EXPECT_EQ(s["properties"]["provisioningState"], "Succeeded");
    EXPECT_EQ(s["properties"]["creationData"]["createOption"], "Copy");
    // Normalised to the source's own id, whatever form the request used.
    EXPECT_EQ(s["properties"]["creationData"]["sourceResourceId"], emu_->diskId("data1"));
    EXPECT_EQ(s["properties"]["diskSizeGB"], 200);
    EXPECT_TRUE(s["properties"]["timeCreated"].is_string());
    EXPECT_EQ(s["tags"]["SnapShotCreatedByTest"], "job 7");
    EXPECT_FALSE(s["properties"].contains("incremental"));  // not in 2018-04-01 documents
}

TEST_F(DisksSnapshotsTest, IncrementalSnapshotsNeedApiVersion20190301) {
    Json body = {{"location", "westeurope"},
                 {"properties",
                  {{"incremental", true},
                   {"creationData",
                    {{"createOption", "Copy"}, {"sourceResourceId", emu_->diskId("data0")}}}}}};
    Reply old = arm("PUT", snapshotPath("inc"), body.dump(), "2018-04-01");
    EXPECT_EQ(old.status, 400) << old.body;
    EXPECT_EQ(old.json()["error"]["code"], "InvalidParameter");
    EXPECT_EQ(arm("GET", snapshotPath("inc")).status, 404);

    Reply ok = arm("PUT", snapshotPath("inc"), body.dump(), "2019-03-01");
    ASSERT_EQ(ok.status, 202) << ok.body;
    Json s = getSnapshot("inc", "2019-03-01");
    EXPECT_EQ(s["properties"]["incremental"], true);
    EXPECT_EQ(s["properties"]["diskState"], "Unattached");
}

TEST_F(DisksSnapshotsTest, IncrementalSnapshotsCanBeRefusedSoTheFullFallbackRuns) {
    Settings s = emu_->settings();
    s.incrementalSnapshots = false;
    emu_->setSettings(s);
    EXPECT_EQ(createSnapshot("inc", "data0", true).status, 400);
    EXPECT_EQ(createSnapshot("full", "data0", false).status, 202);
}

TEST_F(DisksSnapshotsTest, ProvisioningStateMovesOnAfterTheConfiguredDelay) {
    Settings s = emu_->settings();
    s.provisioningDelayMs = 200;
    emu_->setSettings(s);
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(createSnapshot("slow", "data0").status, 202);
    EXPECT_EQ(getSnapshot("slow")["properties"]["provisioningState"], "Updating");
    EXPECT_TRUE(waitUntil(
        [&] { return getSnapshot("slow")["properties"]["provisioningState"] == "Succeeded"; }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
}

TEST_F(DisksSnapshotsTest, SourceUriIsAcceptedAsTheSource) {
    Json body = {
        {"location", "westeurope"},
        {"properties",
         {{"creationData", {{"createOption", "Copy"}, {"sourceUri", emu_->diskId("data0")}}}}}};
    ASSERT_EQ(arm("PUT", snapshotPath("viauri"), body.dump(), "2019-11-01").status, 202);
    EXPECT_EQ(getSnapshot("viauri")["properties"]["creationData"]["sourceResourceId"],
              emu_->diskId("data0"));
}

TEST_F(DisksSnapshotsTest, BadSourcesAndMissingMembersAreRefused) {
    Reply missing = createSnapshot("s", "nosuchdisk");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.json()["error"]["code"], "NotFound");

    Json notAnId = {{"location", "westeurope"},
                    {"properties",
                     {{"creationData", {{"createOption", "Copy"}, {"sourceResourceId", "x/y"}}}}}};
    EXPECT_EQ(arm("PUT", snapshotPath("s"), notAnId.dump()).status, 400);

    Json noLocation = {
        {"properties",
         {{"creationData",
           {{"createOption", "Copy"}, {"sourceResourceId", emu_->diskId("data0")}}}}}};
    Reply r = arm("PUT", snapshotPath("s"), noLocation.dump());
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.json()["error"]["code"], "LocationRequired");

    Reply noCreation = arm("PUT", snapshotPath("s"), R"({"location":"westeurope"})");
    EXPECT_EQ(noCreation.status, 400);
    EXPECT_EQ(noCreation.json()["error"]["code"], "InvalidParameter");

    Reply badName = createSnapshot(std::string(81, 'a'), "data0");
    EXPECT_EQ(badName.status, 400);
    EXPECT_EQ(badName.json()["error"]["code"], "InvalidResourceName");
    EXPECT_EQ(createSnapshot(std::string(80, 'a'), "data0").status, 202);
}

TEST_F(DisksSnapshotsTest, SameNameWithAnotherSourceConflictsSameSourceUpdates) {
    ASSERT_EQ(createSnapshot("s1", "data0").status, 202);
    Reply other = createSnapshot("s1", "data1");
    EXPECT_EQ(other.status, 409);
    EXPECT_EQ(other.json()["error"]["code"], "PropertyChangeNotAllowed");
    EXPECT_EQ(getSnapshot("s1")["properties"]["creationData"]["sourceResourceId"],
              emu_->diskId("data0"));

    Json retag = {{"location", "westeurope"},
                  {"properties",
                   {{"creationData",
                     {{"createOption", "Copy"}, {"sourceResourceId", emu_->diskId("data0")}}}}},
                  {"tags", {{"second", "run"}}}};
    Reply again = arm("PUT", snapshotPath("s1"), retag.dump());
    EXPECT_EQ(again.status, 200) << again.body;
    EXPECT_EQ(getSnapshot("s1")["tags"], Json({{"second", "run"}}));
}

TEST_F(DisksSnapshotsTest, DiskFromSnapshotKeepsZonesSkuAndTags) {
    Reply r = createDiskFrom("restored", "data0-snap", {{"zones", {"2"}}});
    ASSERT_EQ(r.status, 202) << r.body;
    Json d = arm("GET", diskPath("restored")).json();
    EXPECT_EQ(d["sku"]["name"], "Premium_LRS");
    EXPECT_EQ(d["zones"], Json::array({"2"}));
    EXPECT_EQ(d["properties"]["creationData"]["sourceResourceId"], emu_->snapshotId("data0-snap"));
    EXPECT_EQ(d["properties"]["diskSizeGB"], 100);
    EXPECT_EQ(d["tags"]["DiskCreatedByTest"], "from data0-snap");
    EXPECT_FALSE(d.contains("managedBy"));
}

TEST_F(DisksSnapshotsTest, AnAttachedDiskCannotBeDeleted) {
    Reply r = arm("DELETE", diskPath("data0"));
    EXPECT_EQ(r.status, 409);
    EXPECT_EQ(r.json()["error"]["code"], "OperationNotAllowed");
    EXPECT_EQ(arm("GET", diskPath("data0")).status, 200);
}

TEST_F(DisksSnapshotsTest, DeletesCompleteAtOnceSoTheNameCanBeReused) {
    ASSERT_EQ(createSnapshot("s1", "data0").status, 202);
    EXPECT_EQ(arm("DELETE", snapshotPath("s1")).status, 200);
    EXPECT_EQ(arm("GET", snapshotPath("s1")).json()["error"]["code"], "ResourceNotFound");
    ASSERT_EQ(createSnapshot("s1", "data1").status, 202);
    EXPECT_EQ(getSnapshot("s1")["properties"]["creationData"]["sourceResourceId"],
              emu_->diskId("data1"));

    EXPECT_EQ(arm("DELETE", diskPath("spare")).status, 200);
    EXPECT_EQ(createDiskFrom("spare", "s1").status, 202);
}

TEST_F(DisksSnapshotsTest, DeleteOfAMissingResourceAnswersAsConfigured) {
    EXPECT_EQ(arm("DELETE", snapshotPath("never")).status, 204);
    Settings s = emu_->settings();
    s.deleteMissingStatus = 404;
    emu_->setSettings(s);
    Reply r = arm("DELETE", snapshotPath("never"));
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.json()["error"]["code"], "ResourceNotFound");
}

TEST_F(DisksSnapshotsTest, SlowDeletesAreAsynchronous) {
    Settings s = emu_->settings();
    s.deleteDelayMs = 150;
    emu_->setSettings(s);
    Reply r = arm("DELETE", snapshotPath("data0-snap"));
    ASSERT_EQ(r.status, 202);
    EXPECT_FALSE(r.header("Azure-AsyncOperation").empty());
    EXPECT_EQ(getSnapshot("data0-snap")["properties"]["provisioningState"], "Deleting");
    EXPECT_EQ(waitForOperation(r.header("Azure-AsyncOperation"))["status"], "Succeeded");
    EXPECT_EQ(arm("GET", snapshotPath("data0-snap")).status, 404);
}

TEST_F(DisksSnapshotsTest, PatchReplacesTags) {
    Reply r = arm("PATCH", snapshotPath("data0-snap"), R"({"tags":{"a":"b"}})");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(getSnapshot("data0-snap")["tags"], Json({{"a", "b"}}));
}

TEST_F(DisksSnapshotsTest, SnapshotOperationStatusCarriesTheResource) {
    Reply r = createSnapshot("s1", "data0", true);
    Json status = waitForOperation(r.header("Azure-AsyncOperation"));
    EXPECT_EQ(status["status"], "Succeeded");
    EXPECT_EQ(status["properties"]["output"]["name"], "s1");
}

}  // namespace
}  // namespace azemu::test
