// The emulated VM's block devices as its kernel and device manager would show them under a
// root directory:
//
//   ROOT/sys/block/sdc -> ../devices/emulated/vmbus3/host3/target3:0:0/3:0:0:1/block/sdc
//   ROOT/sys/block/sdc/device/scsi_device/3:0:0:1/
//   ROOT/sys/block/sdc/device/type                 ("0" disk, "5" optical drive)
//   ROOT/sys/devices/emulated/vmbus3/device_id     (the controller's VMBus id)
//   ROOT/dev/sdc                                   (an empty regular file)
//   ROOT/dev/disk/azure/scsi1/lun1 -> ../../../sdc
//   ROOT/dev/disk/azure/root -> ../../sda, ROOT/dev/disk/azure/resource -> ../../sdb
//
// Entries appear and vanish through renames and unlinks of whole symlinks, so a reader that
// walks the tree at the same time sees a device either completely or not at all.
#pragma once

#include <map>
#include <set>
#include <string>

#include "Model.h"
#include "Scenario.h"

namespace azemu {

class DeviceTree {
public:
    // `controllerIds`: the VMBus device id of each SCSI host's controller.
    // `osLink`: the name of the OS disk's link, "root" (older device rules) or "os".
    explicit DeviceTree(std::string root, std::map<int, std::string> controllerIds = {},
                        std::string osLink = "root");
    const std::string& root() const { return root_; }

    // Clears what an earlier run laid out and creates the empty skeleton. Refuses (throws
    // std::runtime_error) a root that is "/" or holds sys/ or dev/ the emulator did not make.
    void prepare() const;
    void add(const DeviceRecord& device) const;
    void remove(const DeviceRecord& device) const;

private:
    std::string deviceDir(const DeviceRecord& device) const;  // under sys/devices
    void writeControllerId(int host) const;
    const char* partitionLink(const std::string& role) const;
    std::string root_;
    std::map<int, std::string> controllerIds_;
    std::string osLink_;
};

// "sda", ..., "sdz", "sdaa", ...: the names the kernel gives SCSI disks, by index.
std::string scsiDiskName(size_t index);
std::string scsiAddress(int host, int channel, int target, int lun);
// The VMBus ids the Azure device rules know: each SCSI host of the machine's layout.
std::map<int, std::string> controllerIds(const MachineInfo& machine);

// Keeps the state's device list and the tree on disk in step, and names new devices the way
// the kernel does (first free sdX). Not thread-safe: the engine guards it.
class DeviceManager {
public:
    DeviceManager(std::string root, const MachineInfo& machine);
    const std::string& root() const { return tree_.root(); }

    // Lays the tree out afresh from `state.devices`; when that is empty (a fresh scenario),
    // first derives the devices from the local VM's disks.
    void layOut(AzureState& state) const;
    void apply(AzureState& state, const DeviceEvent& event) const;

private:
    std::string firstFreeName(const AzureState& state) const;
    void addDataDisk(AzureState& state, int lun, const std::string& diskId) const;

    DeviceTree tree_;
    const MachineInfo& machine_;
};

}  // namespace azemu
