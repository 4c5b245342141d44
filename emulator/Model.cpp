#include "Model.h"

#include "ArmPath.h"
#include "Util.h"

namespace azemu {

namespace {

template <typename Map>
auto* findIn(Map& m, const std::string& id) {
    auto it = m.find(idKey(id));
    return it == m.end() ? nullptr : &it->second;
}

}  // namespace

DiskRecord* findDisk(AzureState& s, const std::string& id) {
    return findIn(s.disks, id);
}
const DiskRecord* findDisk(const AzureState& s, const std::string& id) {
    return findIn(s.disks, id);
}
VmRecord* findVm(AzureState& s, const std::string& id) {
    return findIn(s.vms, id);
}
const VmRecord* findVm(const AzureState& s, const std::string& id) {
    return findIn(s.vms, id);
}

VmRecord* localVm(AzureState& s) {
    for (auto& [key, vm] : s.vms) {
        if (vm.local)
            return &vm;
    }
    return nullptr;
}

const VmRecord* localVm(const AzureState& s) {
    for (const auto& [key, vm] : s.vms) {
        if (vm.local)
            return &vm;
    }
    return nullptr;
}

bool hasResourceGroup(const AzureState& s, const std::string& name) {
    for (const auto& rg : s.resourceGroups) {
        if (iequals(rg, name))
            return true;
    }
    return false;
}

bool isBelow(const std::string& childId, const std::string& parentId) {
    std::string child = idKey(childId);
    std::string parent = idKey(parentId);
    return child.size() > parent.size() + 1 && child.compare(0, parent.size(), parent) == 0 &&
           child[parent.size()] == '/';
}

}  // namespace azemu
