// The NetApp Files job through the kxsnap program and the built plug-in, as
// an operator runs it: one job file, then its output with new operations as
// the next job, against the emulator.
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include "NetAppEngineFixture.h"

namespace enginetest {
namespace {

using nlohmann::json;

class KxsnapJobTest : public NetAppEngineTest {
protected:
    // Runs `kxsnap run` on `job`; the exit status and the printed output.
    json RunKxsnap(const json& job, int& exitStatus) {
        const std::string path = dir_ / ("job" + std::to_string(++jobs_) + ".json");
        kxtest::WriteFile(path, job.dump(2));
        const std::string command = std::string(KXSO_BUILD_DIR) + "/kxsnap run " + path +
                                    " --plugin " + KXSO_BUILD_DIR + "/libkxsosnapazure.so";
        std::string output;
        FILE* program = popen(command.c_str(), "r");
        if (program == nullptr) {
            ADD_FAILURE() << "cannot start " << command;
            return json();
        }
        char buffer[4096];
        size_t read = 0;
        while ((read = fread(buffer, 1, sizeof buffer, program)) > 0) {
            output.append(buffer, read);
        }
        const int status = pclose(program);
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        json parsed = json::parse(output, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << output;
        return parsed;
    }
    // The previous output as the next job.
    static json Next(json output, const std::vector<std::string>& operations) {
        output["operations"] = operations;
        return output;
    }
    static std::string Volume(const std::vector<azemu::NetAppVolumeView>& volumes,
                              const std::string& creationToken, std::string& mountTargetIp) {
        for (const azemu::NetAppVolumeView& volume : volumes) {
            if (volume.creationToken == creationToken) {
                mountTargetIp = volume.mountTargetIp;
                return volume.content;
            }
        }
        return "";
    }

    int jobs_ = 0;
};

TEST_F(KxsnapJobTest, TheWholeNetAppFilesJobRunsThroughKxsnap) {
    const json first = json::parse(
        kxtest::ReadFile(std::string(KXSO_NETAPP_JOBS_DIR) + "/netapp-backup-and-map.json"));
    const std::string uuids[] = {kSnapUuid1, kSnapUuid2};
    const char* volumes[] = {"vol1", "vol2"};
    int exitStatus = -1;

    json output = RunKxsnap(first, exitStatus);
    ASSERT_EQ(0, exitStatus) << output.dump(2);
    for (const json& result : output["results"]) {
        EXPECT_EQ(0, result["result"]) << result["operation"];
    }
    ASSERT_TRUE(emu_->setVolumeContent("vol1", "vol1:v2"));
    std::vector<azemu::NetAppVolumeView> state = emu_->netAppVolumes();
    for (int i = 0; i < 2; ++i) {
        const json& record = output["records"][i];
        EXPECT_EQ(12, record["status"]);
        std::string ip;
        EXPECT_EQ(std::string(volumes[i]) + ":v1", Volume(state, "KXClone-" + uuids[i], ip));
        EXPECT_EQ(ip + ":/KXClone-" + uuids[i], record["mappedDevicePath"]);
        EXPECT_EQ(
            emu_->subscriptionId() + "|kx-anf-rg|kxacct|pool1|" + volumes[i] + "|" + uuids[i] + "|",
            record["metadata"]["6"]);
        EXPECT_EQ("100|101", record["metadata"]["160"]);
    }

    output = RunKxsnap(Next(output, {"kxso_unmapSnaps", "kxso_revertSnaps"}), exitStatus);
    ASSERT_EQ(0, exitStatus) << output.dump(2);
    state = emu_->netAppVolumes();
    EXPECT_EQ(2u, state.size());
    std::string ip;
    EXPECT_EQ("vol1:v1", Volume(state, "vol1", ip));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(22, output["records"][i]["status"]);
        EXPECT_EQ("", output["records"][i]["mappedDevicePath"]);
    }

    DeleteBehindOurBack("vol1", uuids[0]);
    output = RunKxsnap(Next(output, {"kxso_reconcileSnaps"}), exitStatus);
    ASSERT_EQ(0, exitStatus) << output.dump(2);
    EXPECT_EQ(24, output["records"][0]["status"]);
    EXPECT_EQ(22, output["records"][1]["status"]);

    output = RunKxsnap(Next(output, {"kxso_deleteSnaps"}), exitStatus);
    ASSERT_EQ(0, exitStatus) << output.dump(2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(20, output["records"][i]["status"]);
    }
    for (const azemu::NetAppVolumeView& volume : emu_->netAppVolumes()) {
        EXPECT_TRUE(volume.snapshots.empty()) << volume.creationToken;
    }
}

}  // namespace
}  // namespace enginetest
