// Snapshots and disks: creation by copy, provisioning, the rules Compute enforces, deletion.
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

TEST_F(DisksSnapshotsTest, IncrementalSnapshotsNeedApiVersion20190301) {
    Json body = {{"location", "westeurope"},
                 {"properties",
                  {{"incremental", true},
                   {"creationData",
                    {{"createOption", "Copy"}, {"sourceResourceId", emu_->diskId("data0")}}}}}};
    expectError(arm("PUT", snapshotPath("inc"), body.dump(), "2018-04-01"), 400,
                "InvalidParameter");
    EXPECT_EQ(arm("GET", snapshotPath("inc")).status, 404);

    Reply ok = arm("PUT", snapshotPath("inc"), body.dump(), "2019-03-01");
    ASSERT_EQ(ok.status, 202) << ok.body;
    Json s = getSnapshot("inc", "2019-03-01");
    EXPECT_EQ(s["properties"]["incremental"], true);
    EXPECT_EQ(s["properties"]["diskState"], "Unattached");

    // Refused by setting, so that the plug-in's fall-back to a full snapshot runs.
    tune(&Settings::incrementalSnapshots, false);
    EXPECT_EQ(createSnapshot("inc2", "data0", true).status, 400);
    EXPECT_EQ(createSnapshot("full", "data0", false).status, 202);
}

TEST_F(DisksSnapshotsTest, BadSourcesAndMissingMembersAreRefused) {
    expectError(createSnapshot("s", "nosuchdisk"), 404, "NotFound");

    Json notAnId = {{"location", "westeurope"},
                    {"properties",
                     {{"creationData", {{"createOption", "Copy"}, {"sourceResourceId", "x/y"}}}}}};
    EXPECT_EQ(arm("PUT", snapshotPath("s"), notAnId.dump()).status, 400);

    Json noLocation = {
        {"properties",
         {{"creationData",
           {{"createOption", "Copy"}, {"sourceResourceId", emu_->diskId("data0")}}}}}};
    expectError(arm("PUT", snapshotPath("s"), noLocation.dump()), 400, "LocationRequired");

    expectError(arm("PUT", snapshotPath("s"), R"({"location":"westeurope"})"), 400,
                "InvalidParameter");

    expectError(createSnapshot(std::string(81, 'a'), "data0"), 400, "InvalidResourceName");
    EXPECT_EQ(createSnapshot(std::string(80, 'a'), "data0").status, 202);
}

TEST_F(DisksSnapshotsTest, SameNameWithAnotherSourceConflictsSameSourceUpdates) {
    ASSERT_EQ(createSnapshot("s1", "data0").status, 202);
    expectError(createSnapshot("s1", "data1"), 409, "PropertyChangeNotAllowed");
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

TEST_F(DisksSnapshotsTest, DeletesCompleteAtOnceSoTheNameCanBeReusedButNotOfAttachedDisks) {
    expectError(arm("DELETE", diskPath("data0")), 409, "OperationNotAllowed");
    EXPECT_EQ(arm("GET", diskPath("data0")).status, 200);

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
    tune(&Settings::deleteMissingStatus, 404);
    expectError(arm("DELETE", snapshotPath("never")), 404, "ResourceNotFound");
}

}  // namespace
}  // namespace azemu::test
