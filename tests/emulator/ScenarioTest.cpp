// The scenario a test or a person hands the emulator: mistakes are named.
#include "TestSupport.h"

namespace azemu::test {
namespace {

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
