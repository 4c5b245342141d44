// The mount table as /proc/mounts writes it, escapes and all, read through
// the shared reader that kxsnap and the plug-in both use.
#include <gtest/gtest.h>

#include "platform/KxMountTable.h"
#include "support/TestEnv.h"

namespace {

TEST(MountTableTest, DecodesTheKernelsOctalEscapes) {
    kxtest::TempDir dir;
    kxtest::WriteFile(dir / "mounts",
                      "/dev/sdc1 /data ext4 rw,relatime 0 0\n"
                      "10.0.1.4:/team\\040builds /mnt/with\\040space nfs4 rw,vers=4.1 0 0\n"
                      "/dev/sdd1 /mnt/tab\\011and\\134backslash xfs ro 0 0\n");
    std::vector<KxMountTable::Entry> entries;
    ASSERT_TRUE(KxMountTable::Read(dir / "mounts", entries));
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ("/data", entries[0].mountPoint);
    EXPECT_EQ("ext4", entries[0].type);
    EXPECT_EQ("rw,relatime", entries[0].options);
    EXPECT_EQ("10.0.1.4:/team builds", entries[1].device);
    EXPECT_EQ("/mnt/with space", entries[1].mountPoint);
    EXPECT_EQ("nfs4", entries[1].type);
    EXPECT_EQ("/mnt/tab\tand\\backslash", entries[2].mountPoint);
}

TEST(MountTableTest, SkipsBlankAndCommentLinesAndReportsAMissingFile) {
    kxtest::TempDir dir;
    kxtest::WriteFile(dir / "mounts", "\n# a comment\n/dev/sdc1 /data ext4 rw 0 0\n");
    std::vector<KxMountTable::Entry> entries;
    ASSERT_TRUE(KxMountTable::Read(dir / "mounts", entries));
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ("/dev/sdc1", entries[0].device);
    EXPECT_FALSE(KxMountTable::Read(dir / "absent", entries));
    EXPECT_TRUE(entries.empty());
}

}  // namespace
