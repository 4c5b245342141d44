// Which devices a backup may name, on the emulated VM in the layouts of a
// generation 1 and a generation 2 VM, each with its optical drive: the drive's
// SCSI address ends in a number like a data disk's LUN, and once that number
// was taken for one, a backup of /dev/sr0 stored a snapshot of the data disk
// at LUN 0 as if it were the drive's.
#include <string>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

class DeviceTargetsTest : public DriverTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        azemu::Json scenario = FourDiskScenario();
        scenario["vm"]["generation"] = GetParam();
        StartEmulator(scenario);
    }
};

TEST_P(DeviceTargetsTest, OnlyDataDisksAreBackedUpAndAtTheirLuns) {
    for (const char* device : {"/dev/sr0", "/dev/sda", "/dev/sdb"}) {
        auto host = DeviceHost({device});
        EXPECT_EQ(KXSO::RESULT_FAILURE,
                  kxso_prepareDevices(host->devices(), host->count(), host->util()))
            << device;
        EXPECT_EQ(ErrorCode(*host, 0), 62008) << device;
        const std::string prefix =
            std::string("Failed to get LUN id for the disk name [") + device + "]. error [";
        EXPECT_EQ(ErrorText(*host, 0).rfind(prefix, 0), 0u) << ErrorText(*host, 0);
        EXPECT_EQ(std::string(device) == "/dev/sr0",
                  ErrorText(*host, 0).find("is a SCSI device of type 5 (optical drive), not a "
                                           "disk") != std::string::npos)
            << ErrorText(*host, 0);
        EXPECT_EQ(KXSO::RESULT_FAILURE,
                  kxso_snapDevices(host->devices(), host->count(), host->util()))
            << device;
    }
    EXPECT_TRUE(Sent("PUT", "/snapshots/").empty());

    auto host = Backup({"/dev/sdc", "/dev/sdf"});
    EXPECT_EQ(host->Record(0).data().transientMetadata.at(102), "0");
    EXPECT_EQ(host->Record(1).data().transientMetadata.at(102), "3");
}

INSTANTIATE_TEST_SUITE_P(Generations, DeviceTargetsTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Gen" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace drivertest
