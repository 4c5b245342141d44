// The drivers' test bench: the emulator in-process with a VM of four data
// disks (LUNs 0-3, devices sdc-sdf), the plug-in pointed at it, settings that
// keep every wait short, and host records to hand to the real exports.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/EmulatorBench.h"
#include "support/TestHost.h"

namespace drivertest {

using kxtest::kFastSettings;
constexpr const char* kPerDevice = "bAzureEngineDisableHttpBulkRequest=true\n";
constexpr const char* kDeleteSource = "bAzureDeleteOriginalDiskOnRevert=true\n";

// kxsosnapazure's exported operations, by name, for tables of cases.
using Export = KXSO::ResultCode (*)(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*);

azemu::Json FourDiskScenario();

class DriverTest : public kxtest::EmulatorBench {
protected:
    void SetUp() override;

    void StartEmulator(const azemu::Json& scenario);
    // The fast settings plus `extra` lines of section Ferrolink.
    void UseSettings(const std::string& extra = "");

    // A host whose records are the source devices given ("/dev/sdc"...),
    // each with the snapshot name "snap-sdX".
    std::unique_ptr<kxtest::TestHost> DeviceHost(const std::vector<std::string>& devices,
                                                 long long jobId = 11);
    // Prepare, snapshot and post-snapshot on those devices; each must succeed.
    std::unique_ptr<kxtest::TestHost> Backup(const std::vector<std::string>& devices);
    // A later job's host: one record per backed-up record, with its snapshot
    // name and metadata.
    std::unique_ptr<kxtest::TestHost> SnapshotHost(kxtest::TestHost& backup, long long jobId = 12);
    // A record naming a snapshot through the metadata text given.
    static kxsnap::RecordData SnapshotRecord(const std::string& snapName,
                                             const std::string& metadata);

    // Metadata text as the snapshot driver writes it.
    std::string Metadata(const std::string& snapshot, const std::string& sourceDisk,
                         const std::string& sourceName = "", const std::string& sku = "") const;

    bool DiskExists(const std::string& name) const;
    bool SnapshotExists(const std::string& name) const;
    // LUN of the attached data disk of that name, -1 when not attached.
    int AttachedLun(const std::string& name) const;
    // Name of the block device at a data-disk LUN, "" when none.
    std::string DeviceAtLun(int lun) const;
};

// Record field helpers.
int Status(kxtest::TestHost& host, size_t index);
int ErrorCode(kxtest::TestHost& host, size_t index);
std::string ErrorText(kxtest::TestHost& host, size_t index);
std::string SnapMetadata(kxtest::TestHost& host, size_t index);

}  // namespace drivertest
