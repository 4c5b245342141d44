// The NetApp Files engine's test bench: the emulator in-process with a VM
// that mounts two exports of one capacity pool, the plug-in pointed at it,
// and host records to hand to the real exports, one job after another.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/EmulatorBench.h"
#include "support/TestHost.h"

namespace enginetest {

// The mount target both exports were mounted from.
constexpr const char* kServerAddress = "10.20.0.9";
// The snapshot UUIDs the host hands out for the two records: the snapshot names.
constexpr const char* kSnapUuid1 = "4d1c9a2e-5b3f-4a6d-9e8c-7f0a1b2c3d41";
constexpr const char* kSnapUuid2 = "4d1c9a2e-5b3f-4a6d-9e8c-7f0a1b2c3d42";

// kxsosnapazure's exported operations.
using Export = KXSO::ResultCode (*)(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*);

// "{idatype:NFS,type:nfs,lunuuid:\/SHARE,targethostname:ADDRESS}"
std::string SourceDeviceName(const std::string& share, const std::string& address);
// The VM "kxanfvm" (10.20.0.4) and account "kxacct", pool "pool1" holding
// volumes "vol1" and "vol2" exported at 10.20.0.9 with contents "vol1:v1"
// and "vol2:v1".
azemu::Json TwoVolumeScenario();

class NetAppEngineTest : public kxtest::EmulatorBench {
protected:
    void SetUp() override;

    // A job of two mounted exports (vol1, vol2), snapshot ids 1 and 2.
    std::unique_ptr<kxtest::TestHost> ExportHost();
    // Runs `operation` as the host does: errors of the previous operation cleared first.
    static int Run(Export operation, kxtest::TestHost& host);
    // Prepare, snapshot and post-snapshot; each must succeed.
    std::unique_ptr<kxtest::TestHost> Backup();
    // A later job's host: the backed-up records with their stored metadata
    // (the transient records of the backup job are gone).
    static std::unique_ptr<kxtest::TestHost> LaterJob(kxtest::TestHost& backup);

    // Resource ids as the emulator spells them.
    std::string PoolId() const;
    std::string VolumeId(const std::string& volume) const;
    std::string SnapshotId(const std::string& volume, const std::string& snapshot) const;
    // The resource document, or null JSON when it does not exist.
    azemu::Json Resource(const std::string& id) const;
    // The NetApp Files volume of that creation token, if there is one.
    std::optional<azemu::NetAppVolumeView> Volume(const std::string& creationToken) const;
    bool AnyCloneExists() const;
    // Deletes a snapshot the way someone else would: a request of its own.
    void DeleteBehindOurBack(const std::string& volume, const std::string& snapshot);
};

}  // namespace enginetest
