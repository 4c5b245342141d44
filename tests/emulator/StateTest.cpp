// --state: one Azure across emulator runs.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestSupport.h"

namespace fs = std::filesystem;

namespace azemu::test {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class StateTest : public EmulatorTest {};

TEST_F(StateTest, ALaterRunSeesTheSameAzure) {
    std::string stateFile = dir_ / "azure-state.json";
    restart(baseScenario(), stateFile);
    std::string token = imds("metadata/identity/oauth2/token?api-version=2018-02-01&resource=x")
                            .json()["access_token"];
    token_ = token;
    ASSERT_EQ(createSnapshot("kept", "data1", true).status, 202);
    ASSERT_EQ(attach(2, "spare").status, 200);
    ASSERT_EQ(detachLun(0).status, 200);
    std::string caBefore = slurp(emu_->caFile());
    emu_->stop();
    EXPECT_EQ(slurp(stateFile).find(token), std::string::npos);  // digests only

    // A new process: new root, new ports, same state file.
    emu_ = std::make_unique<Emulator>(baseScenario(), dir_ / "root2", stateFile);
    emu_->start();
    token_ = token;
    EXPECT_EQ(
        arm("GET", snapshotPath("kept"), "", "2019-03-01").json()["properties"]["incremental"],
        true);
    Json disks = getVm()["properties"]["storageProfile"]["dataDisks"];
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0]["lun"], 1);
    EXPECT_EQ(disks[1]["lun"], 2);
    // Device names survive: sdc was freed, the spare disk kept sde.
    std::string root2 = dir_ / "root2";
    EXPECT_FALSE(exists(root2 + "/dev/disk/azure/scsi1/lun0"));
    EXPECT_EQ(readLink(root2 + "/dev/disk/azure/scsi1/lun2"), "../../../sde");
    EXPECT_EQ(slurp(emu_->caFile()), caBefore);
}

TEST_F(StateTest, AnUnreadableStateFileIsAnError) {
    std::string stateFile = dir_ / "broken.json";
    std::ofstream(stateFile) << "{broken";
    EXPECT_THROW(Emulator(baseScenario(), dir_ / "root3", stateFile), std::runtime_error);
}

TEST(ScenarioTest, MistakesInTheScenarioAreNamed) {
    TempDir dir;
    auto error = [&](Json scenario) -> std::string {
        try {
            Emulator e(scenario, dir.path());
        } catch (const std::invalid_argument& e) {
            return e.what();
        }
        return "";
    };
    Json s = baseScenario();
    s["vm"]["dataDisks"][1]["lun"] = 0;
    EXPECT_NE(error(s).find("LUN 0 twice"), std::string::npos) << error(s);
    s = baseScenario();
    s["vm"]["dataDisk"] = Json::array();
    EXPECT_NE(error(s).find("vm.dataDisk"), std::string::npos) << error(s);
    s = baseScenario();
    s["snapshots"][0]["sourceDisk"] = "ghost";
    EXPECT_NE(error(s).find("snapshots[0].sourceDisk"), std::string::npos) << error(s);
    s = baseScenario();
    s["disks"][0]["sku"] = "Gold_LRS";
    EXPECT_NE(error(s).find("disks[0].sku"), std::string::npos) << error(s);
    EXPECT_NE(error(Json("{not json")).find("not valid JSON"), std::string::npos);
    EXPECT_EQ(error(Json(baseScenario().dump())), "");  // the text form works too
    EXPECT_EQ(error(Json::object()), "");               // everything has a default
}

}  // namespace
}  // namespace azemu::test
