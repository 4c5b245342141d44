// kxsnap follows device links with the plug-in's own in-root resolver: the
// same answers, and a link that climbs out of the sandbox root is refused
// instead of clamped at the root.
#include <gtest/gtest.h>
#include <unistd.h>

#include "kxsnap/Errors.h"
#include "kxsnap/Targets.h"
#include "support/TestEnv.h"

namespace {

class TargetLinksTest : public ::testing::Test {
protected:
    void SetUp() override {
        kxtest::MakeDirs(dir_ / "sys/block/sdc");
        kxtest::MakeDirs(dir_ / "dev/disk/azure/scsi1");
        kxtest::MakeDirs(dir_ / "proc");
        kxtest::WriteFile(dir_ / "dev/sdc", "");
        kxtest::WriteFile(dir_ / "proc/mounts", "");
    }

    void Link(const std::string& target, const std::string& link) {
        ASSERT_EQ(0, symlink(target.c_str(), (dir_ / link).c_str())) << link;
    }

    kxtest::TempDir dir_;
    kxtest::ScopedEnv root_{"KXSO_ROOT", dir_.path().c_str()};
};

TEST_F(TargetLinksTest, AbsoluteAndChainedLinksStayInsideTheRoot) {
    Link("/dev/sdc", "dev/disk/azure/scsi1/lun0");
    Link("lun0", "dev/disk/azure/scsi1/lun1");
    for (const char* given : {"/dev/disk/azure/scsi1/lun0", "/dev/disk/azure/scsi1/lun1"})
        EXPECT_EQ("/dev/sdc", kxsnap::ResolveTarget(given).sourceDevicePath) << given;
}

TEST_F(TargetLinksTest, LinksLeavingTheRootOrLoopingAreRefused) {
    Link("../../../../../../dev/sdc", "dev/disk/azure/scsi1/lun2");
    Link("lun4", "dev/disk/azure/scsi1/lun3");
    Link("lun3", "dev/disk/azure/scsi1/lun4");
    for (const char* given : {"/dev/disk/azure/scsi1/lun2", "/dev/disk/azure/scsi1/lun3"}) {
        try {
            kxsnap::ResolveTarget(given);
            ADD_FAILURE() << given << " was accepted";
        } catch (const kxsnap::UsageError& error) {
            EXPECT_NE(std::string::npos, std::string(error.what()).find("not a block device"))
                << error.what();
        }
    }
}

}  // namespace
