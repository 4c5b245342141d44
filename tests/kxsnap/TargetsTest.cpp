// Backup targets as a person names them, read from a sandbox device tree and
// /proc/mounts under KXSO_ROOT. Device links are followed with the plug-in's
// own in-root resolver: a link that climbs out of the root is refused, not
// clamped at the root.
#include <gtest/gtest.h>
#include <unistd.h>

#include "kxsnap/Errors.h"
#include "kxsnap/Targets.h"
#include "support/TestEnv.h"

namespace {

using kxsnap::ResolveTarget;
using kxsnap::SnapKind;

class TargetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        kxtest::MakeDirs(dir_ / "sys/block/sdc");
        kxtest::MakeDirs(dir_ / "dev/disk/azure/scsi1");
        kxtest::MakeDirs(dir_ / "proc");
        kxtest::WriteFile(dir_ / "dev/sdc", "");
        kxtest::WriteFile(dir_ / "dev/sdc1", "");
        Link("../../../sdc", "lun1");
        Link("/dev/sdc", "lun0");  // absolute: looked up under the root
        Link("lun0", "lun5");
        Link("../../../../../../dev/sdc", "lun2");
        Link("lun4", "lun3");
        Link("lun3", "lun4");
        kxtest::WriteFile(dir_ / "proc/mounts",
                          "/dev/sdc1 /data ext4 rw 0 0\n"
                          "10.0.1.4:/sales /mnt/sales nfs4 rw,vers=4.1 0 0\n"
                          "10.0.1.4:/team/builds /mnt/my\\040builds nfs rw 0 0\n"
                          "files.example.com:/home /home nfs4 rw 0 0\n");
    }

    void Link(const std::string& target, const std::string& lun) {
        const std::string link = dir_ / ("dev/disk/azure/scsi1/" + lun);
        ASSERT_EQ(0, symlink(target.c_str(), link.c_str())) << link;
    }

    kxtest::TempDir dir_;
    kxtest::ScopedEnv root_{"KXSO_ROOT", dir_.path().c_str()};
};

TEST_F(TargetsTest, BlockDevicesAndTheirLinksGiveThePlainDevice) {
    for (const char* given : {"/dev/sdc", "/dev/disk/azure/scsi1/lun1",
                              "/dev/disk/azure/scsi1/lun0", "/dev/disk/azure/scsi1/lun5"}) {
        auto target = ResolveTarget(given);
        EXPECT_EQ(SnapKind::kManagedDisk, target.kind);
        EXPECT_EQ("/dev/sdc", target.sourceDevicePath) << given;
        EXPECT_EQ("sdc", target.label);
    }
}

TEST_F(TargetsTest, NfsExportsGiveTheNetAppFilesSourceName) {
    auto byMount = ResolveTarget("/mnt/sales/");
    EXPECT_EQ(SnapKind::kNetAppFiles, byMount.kind);
    EXPECT_EQ("{idatype:NFS,type:nfs4,lunuuid:\\/sales,targethostname:10.0.1.4}",
              byMount.sourceDevicePath);
    auto byExport = ResolveTarget("10.0.1.4:/team/builds");
    EXPECT_EQ("{idatype:NFS,type:nfs,lunuuid:\\/team/builds,targethostname:10.0.1.4}",
              byExport.sourceDevicePath);
    EXPECT_EQ("builds", byExport.label);
    EXPECT_EQ(byExport.sourceDevicePath, ResolveTarget("/mnt/my builds").sourceDevicePath);
}

TEST_F(TargetsTest, EverythingElseIsRefusedWithOneLine) {
    struct Case {
        const char* given;
        const char* reason;
    };
    for (const Case& bad :
         {Case{"/dev/sdz", "device not found"}, Case{"/dev/sdc1", "not a block device"},
          Case{"/data", "not an NFS export"}, Case{"/home", "not an Azure NetApp Files export"},
          Case{"10.0.1.9:/other", "not mounted here"},
          Case{"/dev/disk/azure/scsi1/lun2", "not a block device"},
          Case{"/dev/disk/azure/scsi1/lun3", "not a block device"}}) {
        try {
            ResolveTarget(bad.given);
            ADD_FAILURE() << bad.given << " was accepted";
        } catch (const kxsnap::UsageError& error) {
            EXPECT_NE(std::string::npos, std::string(error.what()).find(bad.reason))
                << bad.given << ": " << error.what();
        }
    }
}

TEST(SnapshotNameTest, IsAValidAzureNameOfAtMostEightyCharacters) {
    std::string name =
        kxsnap::SnapshotName(std::string(100, 'v') + " /x", "0f8fad5b-d9cb-469f-a165-70867728950e");
    EXPECT_LE(name.size(), 80u);
    EXPECT_EQ(0u, name.rfind("kxsnap-", 0));
    EXPECT_EQ("0f8fad5b", name.substr(name.size() - 8));
    EXPECT_EQ(std::string::npos,
              name.find_first_not_of(
                  "abcdefghijklmnopqrstuvwxyz0123456789-_.ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
}

}  // namespace
