#include "kxsnap/PluginLoader.h"

#include <climits>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

namespace kxsnap {

namespace {
const char* const kDeviceOperations[] = {"kxso_prepareDevices",     "kxso_unprepareDevices",
                                         "kxso_snapDevices",        "kxso_postSnapDevices",
                                         "kxso_mapSnaps",           "kxso_isMapped",
                                         "kxso_unmapSnaps",         "kxso_deleteSnaps",
                                         "kxso_revertSnaps",        "kxso_reconcileSnaps",
                                         "kxso_prepareRemoteSnaps", "kxso_createRemoteSnaps",
                                         "kxso_deleteRemoteSnaps",  nullptr};

// The build tree's name of the plug-in, beside kxsnap.
constexpr const char* kPluginFile = "libkxsosnapazure.so";

// An installation's: the SONAME, in the plug-in's private folder. The build
// fills in both (relative to kxsnap's own folder, as the install lays them out).
#ifndef KXSO_PLUGIN_SONAME
#define KXSO_PLUGIN_SONAME "libkxsosnapazure.so.1"
#endif
#ifndef KXSO_PLUGINDIR_FROM_BINDIR
#define KXSO_PLUGINDIR_FROM_BINDIR "../lib/kxsosnapazure"
#endif
#ifndef KXSO_HELPERDIR_FROM_BINDIR
#define KXSO_HELPERDIR_FROM_BINDIR "../libexec/kxsosnapazure"
#endif

std::string DirectoryOfExecutable() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    path[length] = '\0';
    std::string full(path);
    size_t slash = full.rfind('/');
    return slash == std::string::npos ? "." : full.substr(0, slash);
}
}  // namespace

bool IsDeviceOperation(const std::string& name) {
    for (const char* const* op = kDeviceOperations; *op; ++op) {
        if (name == *op)
            return true;
    }
    return false;
}

const char* const* DeviceOperationNames() {
    return kDeviceOperations;
}

Plugin::~Plugin() {
    if (handle_)
        dlclose(handle_);
}

bool Plugin::Load(const std::string& path, std::string& error) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        error = "cannot load the plug-in " + path + ": " + (reason ? reason : "unknown error");
        return false;
    }
    path_ = path;
    for (const char* const* name = kDeviceOperations; *name; ++name) {
        void* symbol = dlsym(handle_, *name);
        if (!symbol) {
            error = "the plug-in " + path + " does not export " + *name;
            return false;
        }
        operations_[*name] = reinterpret_cast<DeviceOperation>(symbol);
    }
    version_ = reinterpret_cast<VersionOperation>(dlsym(handle_, "kxso_version"));
    isSupported_ = reinterpret_cast<SupportOperation>(dlsym(handle_, "kxso_isSupported"));
    if (!version_ || !isSupported_) {
        error = "the plug-in " + path + " does not export kxso_version and kxso_isSupported";
        return false;
    }
    return true;
}

DeviceOperation Plugin::Operation(const std::string& name) const {
    auto found = operations_.find(name);
    return found == operations_.end() ? nullptr : found->second;
}

std::string ProgramDirectory() {
    return DirectoryOfExecutable();
}

std::string DefaultPluginPath() {
    std::string beside = DirectoryOfExecutable() + "/" + kPluginFile;
    if (access(beside.c_str(), R_OK) == 0)
        return beside;
    std::string installed =
        DirectoryOfExecutable() + "/" KXSO_PLUGINDIR_FROM_BINDIR "/" KXSO_PLUGIN_SONAME;
    if (access(installed.c_str(), R_OK) == 0)
        return installed;
    return beside;
}

std::string InstalledHelperDirectory() {
    return DirectoryOfExecutable() + "/" KXSO_HELPERDIR_FROM_BINDIR;
}

}  // namespace kxsnap
