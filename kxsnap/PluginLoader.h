// Loads the plug-in with dlopen and resolves its exports by their plain names,
// as a snapshot host does.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "kxso/KXSOSnapInfo.h"

namespace kxsnap {

using DeviceOperation = KXSO::ResultCode (*)(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*);
using VersionOperation = void (*)(int16_t*, int16_t*, int16_t*);
using SupportOperation = int (*)(void*, int32_t, void*, void*, int16_t);

// The thirteen exports that take the records of a job.
bool IsDeviceOperation(const std::string& name);
const char* const* DeviceOperationNames();  // null-terminated

class Plugin {
public:
    Plugin() = default;
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Loads the library and resolves every export; false with a reason when
    // the file cannot be loaded or lacks one of them.
    bool Load(const std::string& path, std::string& error);

    DeviceOperation Operation(const std::string& name) const;
    VersionOperation Version() const { return version_; }
    SupportOperation IsSupported() const { return isSupported_; }
    const std::string& Path() const { return path_; }

private:
    void* handle_ = nullptr;
    std::string path_;
    std::map<std::string, DeviceOperation> operations_;
    VersionOperation version_ = nullptr;
    SupportOperation isSupported_ = nullptr;
};

// The folder of the running program.
std::string ProgramDirectory();

// The plug-in beside the running program (build/kxsnap finds
// build/libkxsosnapazure.so), else the one in an installation's private
// folder (bin/kxsnap finds lib/kxsosnapazure/libkxsosnapazure.so.1).
std::string DefaultPluginPath();

// An installation's folder of the demo's helper programs (azure-emulator,
// emulator-bin/udevadm): libexec/kxsosnapazure beside bin/kxsnap.
std::string InstalledHelperDirectory();

}  // namespace kxsnap
