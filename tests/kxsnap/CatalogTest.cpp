// The catalogue on a real SQLite file: what a later process reads back is
// exactly what an earlier one stored, names resolve or are refused with one
// line, rows leave only when the plug-in deleted them, and a file that is not
// a catalogue is refused and left as it was.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "kxsnap/Catalog.h"
#include "support/TestEnv.h"

namespace {

using kxsnap::Catalog;
using kxsnap::CatalogEntry;

CatalogEntry NewEntry(const std::string& name, const std::string& uuid) {
    CatalogEntry entry;
    entry.name = name;
    entry.uuid = uuid;
    entry.target = "/dev/sdc";
    entry.state = "backing up";
    entry.record.sourceDevicePath = "/dev/sdc";
    entry.record.snapName = name;
    return entry;
}

class CatalogTest : public ::testing::Test {
protected:
    std::string Path() const { return dir_ / "data/kxsnap/catalog.db"; }
    kxtest::TempDir dir_;
};

TEST_F(CatalogTest, ARecordReadsBackByteExactInAnotherConnection) {
    std::string metadata("snapURL:/a;sourceDiskURL:/b|\x01\xff\0end", 32);
    {
        Catalog catalog(Path(), 1000);
        int64_t job = catalog.BeginJob("backup", "/logs/job-{job}.log");
        EXPECT_EQ(1, job);
        std::vector<CatalogEntry> entries{NewEntry("s1", "u1"), NewEntry("s2", "u2")};
        catalog.AddSnapshots(entries);
        EXPECT_EQ(1, entries[0].snapId);
        EXPECT_EQ(2, entries[1].snapId);
        auto& record = entries[1].record;
        record.metadata[6] = metadata;
        record.metadata[161] = "fs|snap|";
        record.transientMetadata[102] = "never stored";
        record.snapFlags = 0xFFFF000008000000ULL;
        record.snapEngineId = 83;
        record.arrayName = "AzureNetAppFiles-Default-MI";
        record.arrayId = 4;
        record.mappedDevicePath = "10.0.0.5:/KXClone-x";
        record.errorCode = 62009;
        record.errorText = "Failed to map";
        record.status = 12;
        record.snapOptions = 0x8000;
        record.cloneIndex = 2;
        entries[1].state = "mounted";
        catalog.FinishJob(job, 0, entries, false);
    }
    Catalog later(Path(), 1000);
    auto entries = later.Resolve({"s2"});
    ASSERT_EQ(1u, entries.size());
    const auto& record = entries[0].record;
    EXPECT_EQ(metadata, record.metadata.at(6));
    EXPECT_EQ("fs|snap|", record.metadata.at(161));
    EXPECT_TRUE(record.transientMetadata.empty());
    EXPECT_EQ(0xFFFF000008000000ULL, record.snapFlags);
    EXPECT_EQ(83, record.snapEngineId);
    EXPECT_EQ(4, record.arrayId);
    EXPECT_EQ("10.0.0.5:/KXClone-x", record.mappedDevicePath);
    EXPECT_EQ(62009, record.errorCode);
    EXPECT_EQ(12, record.status);
    EXPECT_EQ(0x8000u, record.snapOptions);
    EXPECT_EQ(2, record.cloneIndex);
    EXPECT_EQ("u2", *record.snapUuid);
    EXPECT_EQ(2, record.snapId);
    EXPECT_EQ("mounted", entries[0].state);
    EXPECT_EQ(4, later.Arrays().at("AzureNetAppFiles-Default-MI"));
    auto jobs = later.Jobs();
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(0, jobs[0].result);
    EXPECT_EQ("/logs/job-1.log", jobs[0].logPath);
    // Numbers keep counting in a later process.
    EXPECT_EQ(2, later.BeginJob("mount", ""));
}

TEST_F(CatalogTest, NamesResolveByNameIdUuidOrUniquePrefix) {
    Catalog catalog(Path(), 1000);
    std::vector<CatalogEntry> entries{NewEntry("kxsnap-sdc-1", "uuid-a"),
                                      NewEntry("kxsnap-sdd-1", "uuid-b")};
    catalog.AddSnapshots(entries);
    EXPECT_EQ("kxsnap-sdd-1", catalog.Resolve({"2"})[0].name);
    EXPECT_EQ("kxsnap-sdc-1", catalog.Resolve({"uuid-a"})[0].name);
    EXPECT_EQ("kxsnap-sdd-1", catalog.Resolve({"kxsnap-sdd"})[0].name);
    EXPECT_EQ(1u, catalog.Resolve({"kxsnap-sdc-1", "1"}).size()) << "named twice, used once";
    try {
        catalog.Resolve({"kxsnap-sd"});
        FAIL() << "an ambiguous prefix was accepted";
    } catch (const kxsnap::UsageError& error) {
        EXPECT_NE(std::string::npos, std::string(error.what()).find("ambiguous")) << error.what();
    }
    EXPECT_THROW(catalog.Resolve({"nothing"}), kxsnap::UsageError);
    EXPECT_THROW(catalog.Resolve({"3"}), kxsnap::UsageError);
}

TEST_F(CatalogTest, OnlyRecordsThePluginDeletedLeave) {
    Catalog catalog(Path(), 1000);
    std::vector<CatalogEntry> entries{NewEntry("a", "1"), NewEntry("b", "2"), NewEntry("c", "3")};
    catalog.AddSnapshots(entries);
    int64_t job = catalog.BeginJob("delete", "");
    entries[0].record.status = KXSO::SNAP_STATUS_DELETED;
    entries[1].record.status = KXSO::SNAP_STATUS_DELETE_FAILED;
    entries[1].record.errorCode = 60004;
    entries[2].record.status = KXSO::SNAP_STATUS_DELETE_FAILED;
    catalog.FinishJob(job, 2, entries, true);
    auto left = catalog.All();
    ASSERT_EQ(2u, left.size());
    EXPECT_EQ("b", left[0].name);
    EXPECT_EQ(60004, left[0].record.errorCode);
    EXPECT_EQ("c", left[1].name);
}

TEST_F(CatalogTest, AFileThatIsNoCatalogueIsRefusedAndLeftAsItWas) {
    kxtest::MakeDirs(dir_ / "data");
    const std::string garbage = "this is not a database, it is a shopping list\n";
    const std::string other = dir_ / "data/other.db";
    kxtest::WriteFile(dir_ / "data/garbage.db", garbage);
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(other.c_str(), &db));
    sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::string otherBytes = kxtest::ReadFile(other);

    for (const std::string& path : {dir_ / "data/garbage.db", other}) {
        try {
            Catalog catalog(path, 100);
            FAIL() << path << " was accepted";
        } catch (const kxsnap::EnvironmentError& error) {
            std::string message = error.what();
            EXPECT_NE(std::string::npos, message.find("catalogue")) << message;
            EXPECT_EQ(std::string::npos, message.find('\n'));
        }
    }
    EXPECT_EQ(garbage, kxtest::ReadFile(dir_ / "data/garbage.db"));
    EXPECT_EQ(otherBytes, kxtest::ReadFile(other));
}

TEST_F(CatalogTest, DefaultPathFollowsXdgDataHome) {
    {
        kxtest::ScopedEnv xdg("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ("/srv/data/kxsnap/catalog.db", Catalog::DefaultPath());
    }
    kxtest::ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    kxtest::ScopedEnv home("HOME", "/home/ann");
    EXPECT_EQ("/home/ann/.local/share/kxsnap/catalog.db", Catalog::DefaultPath());
}

}  // namespace
