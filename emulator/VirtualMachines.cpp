#include "VirtualMachines.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "ApiVersions.h"
#include "ArmErrors.h"
#include "ArmRouter.h"
#include "AsyncOperations.h"
#include "ComputeDisks.h"
#include "Engine.h"
#include "Util.h"

namespace azemu {

namespace {

const char* kVmType = "Microsoft.Compute/virtualMachines";

Json renderDataDisk(const DataDiskEntry& e, const AzureState& state, bool modern) {
    Json j = {{"lun", e.lun},
              {"name", e.name},
              {"createOption", e.createOption},
              {"caching", e.caching},
              {"writeAcceleratorEnabled", e.writeAcceleratorEnabled}};
    if (!e.diskId.empty()) {
        const DiskRecord* d = findDisk(state, e.diskId);
        j["managedDisk"] = {{"storageAccountType", d ? d->sku : "Standard_LRS"},
                            {"id", d ? d->id : e.diskId}};
        j["diskSizeGB"] = d ? d->sizeGB : 0;
    } else {
        j["vhd"] = {{"uri", e.vhdUri}};
        j["diskSizeGB"] = e.sizeGB;
    }
    if (modern) j["toBeDetached"] = false;
    return j;
}

std::optional<int> readInt(const Json& v) {
    if (v.is_number_integer()) return v.get<int>();
    if (v.is_string()) {
        const std::string& s = v.get_ref<const std::string&>();
        if (!s.empty() && s.size() < 6 &&
            std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
            return std::stoi(s);
        }
    }
    return std::nullopt;
}

std::string stringAt(const Json& obj, const char* key) {
    auto it = obj.find(key);
    return it != obj.end() && it->is_string() ? it->get<std::string>() : "";
}

std::string managedDiskId(const Json& entry) {
    auto md = entry.find("managedDisk");
    return md != entry.end() && md->is_object() ? stringAt(*md, "id") : "";
}

// Works out the data disk list a PUT asks for, against the VM as it is installed now, with
// the checks Compute makes before it accepts an update.
class DataDiskPlanner {
public:
    DataDiskPlanner(const AzureState& state, const VmRecord& current, VmRecord& planned,
                    std::vector<DiskRecord>& created)
        : state_(state), current_(current), planned_(planned), created_(created) {}

    std::optional<HttpResponse> plan(const Json& dataDisks) {
        if (!dataDisks.is_array()) return invalidRequestContent("dataDisks must be an array");
        planned_.dataDisks.clear();
        for (const auto& entry : dataDisks) {
            if (auto bad = planEntry(entry)) return bad;
        }
        if (static_cast<int>(planned_.dataDisks.size()) > current_.maxDataDisks) {
            return armError(409, "OperationNotAllowed",
                            "The maximum number of data disks allowed to be attached to a VM of "
                            "this size is " +
                                std::to_string(current_.maxDataDisks) + ".",
                            "dataDisks");
        }
        std::sort(planned_.dataDisks.begin(), planned_.dataDisks.end(),
                  [](const auto& a, const auto& b) { return a.lun < b.lun; });
        return std::nullopt;
    }

private:
    std::optional<HttpResponse> planEntry(const Json& entry) {
        if (!entry.is_object()) return invalidRequestContent("dataDisks entries must be objects");
        if (!entry.contains("lun") || entry["lun"].is_null())
            return missingParameter("dataDisk.lun");
        auto lun = readInt(entry["lun"]);
        if (!lun) return invalidRequestContent("dataDisk.lun must be an integer");
        auto detach = entry.find("toBeDetached");
        if (detach != entry.end() && detach->is_boolean() && detach->get<bool>()) {
            return std::nullopt;  // a detach, just as leaving the entry out
        }
        if (*lun < 0 || *lun > 63) {
            return invalidParameter("The value " + std::to_string(*lun) +
                                        " of parameter 'dataDisk.lun' is out of range. The value "
                                        "must be between 0 and 63, inclusive.",
                                    "dataDisk.lun");
        }
        if (!luns_.insert(*lun).second) {
            return invalidParameter("A disk at LUN " + std::to_string(*lun) + " already exists.",
                                    "dataDisks");
        }
        const DataDiskEntry* existing = currentAt(*lun);
        DataDiskEntry out;
        std::optional<HttpResponse> bad;
        std::string diskId = managedDiskId(entry);
        std::string vhd =
            entry.contains("vhd") && entry["vhd"].is_object() ? stringAt(entry["vhd"], "uri") : "";
        std::string option = stringAt(entry, "createOption");
        if (!diskId.empty()) {
            bad = planManaged(*lun, diskId, option, existing, out);
        } else if (!vhd.empty()) {
            if (!existing || existing->vhdUri != vhd) {
                return armError(409, "OperationNotAllowed",
                                "Addition of a VHD based disk to VM with managed disks is not "
                                "supported.",
                                "dataDisk");
            }
            out = *existing;
        } else if (iequals(option, "Empty")) {
            bad = planEmpty(entry, *lun, out);
        } else {
            return missingParameter("dataDisk.managedDisk.id");
        }
        if (bad) return bad;
        if (entry.contains("caching") && entry["caching"].is_string()) {
            out.caching = entry["caching"].get<std::string>();
        }
        if (entry.contains("writeAcceleratorEnabled") &&
            entry["writeAcceleratorEnabled"].is_boolean()) {
            out.writeAcceleratorEnabled = entry["writeAcceleratorEnabled"].get<bool>();
        }
        planned_.dataDisks.push_back(out);
        return std::nullopt;
    }

    const DataDiskEntry* currentAt(int lun) const {
        for (const auto& e : current_.dataDisks) {
            if (e.lun == lun) return &e;
        }
        return nullptr;
    }

    std::optional<HttpResponse> planManaged(int lun, const std::string& diskId,
                                            const std::string& option,
                                            const DataDiskEntry* existing, DataDiskEntry& out) {
        if (!diskKeys_.insert(idKey(diskId)).second) {
            return invalidParameter("Disk '" + diskId + "' is listed more than once.", "dataDisks");
        }
        if (existing && idKey(existing->diskId) == idKey(diskId)) {
            out = *existing;  // unchanged; read-only members sent back are ignored
            return std::nullopt;
        }
        if (!option.empty() && !iequals(option, "Attach")) {
            return invalidParameter("The data disk at LUN " + std::to_string(lun) +
                                        " names an existing managed disk, so its createOption "
                                        "must be 'Attach'.",
                                    "dataDisk.createOption");
        }
        if (!iequals(resourceTypeOf(diskId), "Microsoft.Compute/disks")) {
            return invalidParameter("'" + diskId + "' is not a managed disk id.",
                                    "dataDisk.managedDisk.id");
        }
        const DiskRecord* disk = findDisk(state_, diskId);
        if (!disk || disk->deleting) {
            return armError(404, "NotFound", "Disk '" + normalizeId(diskId) + "' was not found.");
        }
        if (auto bad = checkAttachable(*disk)) return bad;
        out.lun = lun;
        out.name = disk->name;
        out.createOption = "Attach";
        out.caching = "None";
        out.diskId = disk->id;
        return std::nullopt;
    }

    std::optional<HttpResponse> checkAttachable(const DiskRecord& disk) const {
        if (disk.provisioningState != "Succeeded") {
            return armError(409, "OperationNotAllowed",
                            "Disk '" + disk.name +
                                "' cannot be attached while its "
                                "provisioningState is '" +
                                disk.provisioningState + "'.");
        }
        if (!disk.managedBy.empty() && idKey(disk.managedBy) != idKey(current_.id)) {
            return armError(
                409, "OperationNotAllowed",
                "Disk '" + disk.name + "' is already attached to VM '" + disk.managedBy + "'.");
        }
        std::string other = vmAttachingDisk(state_, disk.id, current_.id);
        if (!other.empty()) {
            return armError(409, "OperationNotAllowed",
                            "Disk '" + disk.name + "' is being attached to VM '" + other + "'.");
        }
        bool zoneRedundant = disk.sku.find("ZRS") != std::string::npos;
        if (!zoneRedundant && disk.zones != current_.zones) {
            return armError(400, "BadRequest",
                            "Disk '" + disk.name +
                                "' cannot be attached to the VM because it is "
                                "not in the same zone as the VM.");
        }
        return std::nullopt;
    }

    std::optional<HttpResponse> planEmpty(const Json& entry, int lun, DataDiskEntry& out) {
        std::string name = stringAt(entry, "name");
        if (name.empty()) return missingParameter("dataDisk.name");
        auto size = entry.contains("diskSizeGB") ? readInt(entry["diskSizeGB"]) : std::nullopt;
        if (!size || *size <= 0) return missingParameter("dataDisk.diskSizeGB");
        std::string skuName = "Standard_LRS";
        if (entry.contains("managedDisk") && entry["managedDisk"].is_object()) {
            std::string wanted = stringAt(entry["managedDisk"], "storageAccountType");
            if (!wanted.empty()) skuName = wanted;
        }
        std::string sku = canonicalSku(skuName, false);
        if (sku.empty()) {
            return invalidParameter("'" + skuName + "' is not a disk SKU.",
                                    "dataDisk.managedDisk.storageAccountType");
        }
        if (!isValidComputeName(name)) {
            return armError(400, "InvalidResourceName", "Resource name " + name + " is invalid.");
        }
        ArmPath vmPath = parseArmPath(current_.id);
        DiskRecord d;
        d.kind = "disks";
        d.id = computeResourceId(vmPath.subscription, vmPath.resourceGroup, "disks", name);
        if (findDisk(state_, d.id)) {
            return armError(409, "Conflict", "A disk named '" + name + "' already exists.");
        }
        d.name = name;
        d.location = current_.location;
        d.sku = sku;
        d.sizeGB = *size;
        d.createOption = "Empty";
        d.zones = current_.zones;
        d.uniqueId = randomUuid();
        d.timeCreated = isoTime(nowMs());
        created_.push_back(d);
        out.lun = lun;
        out.name = name;
        out.createOption = "Empty";
        out.diskId = d.id;
        return std::nullopt;
    }

    const AzureState& state_;
    const VmRecord& current_;
    VmRecord& planned_;
    std::vector<DiskRecord>& created_;
    std::set<int> luns_;
    std::set<std::string> diskKeys_;
};

// Everything of a PUT body apart from the data disks: members left out are kept, read-only
// members sent back are ignored.
std::optional<HttpResponse> planVmProperties(const Json& body, const VmRecord& current,
                                             VmRecord& planned) {
    if (!body.contains("location")) {
        return armError(400, "LocationRequired",
                        "The location property is required for this definition.");
    }
    if (!body["location"].is_string()) return invalidRequestContent("location must be a string");
    std::string location = body["location"].get<std::string>();
    if (normalizeLocation(location) != normalizeLocation(current.location)) {
        return armError(409, "InvalidResourceLocation",
                        "The resource '" + current.name + "' already exists in location '" +
                            current.location +
                            "'. A resource with the same name cannot be "
                            "created in location '" +
                            location + "'.");
    }
    if (body.contains("zones")) {
        if (!body["zones"].is_array()) return invalidRequestContent("zones must be an array");
        std::vector<std::string> zones;
        for (const auto& z : body["zones"]) {
            if (z.is_string()) zones.push_back(z.get<std::string>());
        }
        if (zones != current.zones) {
            return armError(409, "PropertyChangeNotAllowed",
                            "Changing property 'zones' is not allowed.", "zones");
        }
    }
    if (body.contains("tags")) {
        if (!body["tags"].is_object()) return invalidRequestContent("tags must be an object");
        planned.tags = body["tags"];
    }
    Json props = body.value("properties", Json::object());
    if (!props.is_object()) return invalidRequestContent("properties must be an object");
    static const std::set<std::string> readOnly = {"storageProfile", "provisioningState", "vmId",
                                                   "instanceView", "hardwareProfile"};
    for (const auto& item : props.items()) {
        if (!readOnly.count(item.key())) planned.otherProperties[item.key()] = item.value();
    }
    if (props.contains("hardwareProfile") && props["hardwareProfile"].is_object()) {
        std::string size = stringAt(props["hardwareProfile"], "vmSize");
        if (!size.empty()) planned.vmSize = size;
    }
    if (props.contains("storageProfile")) {
        const Json& sp = props["storageProfile"];
        if (!sp.is_object()) return invalidRequestContent("storageProfile must be an object");
        if (sp.contains("osDisk") && sp["osDisk"].is_object()) {
            std::string osId = managedDiskId(sp["osDisk"]);
            if (!osId.empty() && idKey(osId) != idKey(current.osDisk.diskId)) {
                return armError(409, "PropertyChangeNotAllowed",
                                "Changing property 'osDisk.managedDisk.id' is not allowed.",
                                "osDisk.managedDisk.id");
            }
        }
    }
    return std::nullopt;
}

// A new VM: the emulator builds one only around an existing, unattached OS disk.
std::optional<HttpResponse> blankVm(const Engine& engine, const Json& body, const std::string& id,
                                    const std::string& name, VmRecord& vm) {
    const Json props = body.value("properties", Json::object());
    Json osDisk;
    if (props.is_object() && props.contains("storageProfile") &&
        props["storageProfile"].is_object()) {
        osDisk = props["storageProfile"].value("osDisk", Json());
    }
    std::string osId = osDisk.is_object() ? managedDiskId(osDisk) : "";
    const DiskRecord* os = osId.empty() ? nullptr : findDisk(engine.state(), osId);
    if (!os || !os->managedBy.empty() || os->kind != "disks") {
        return invalidParameter(
            "The emulator creates a VM only around an existing, unattached "
            "OS disk: storageProfile.osDisk needs createOption 'Attach' and "
            "managedDisk.id.",
            "osDisk");
    }
    if (!body.contains("location") || !body["location"].is_string()) {
        return armError(400, "LocationRequired",
                        "The location property is required for this definition.");
    }
    vm.id = id;
    vm.name = name;
    vm.location = body["location"].get<std::string>();
    vm.vmId = randomUuid();
    vm.provisioningState = "Creating";
    if (body.contains("zones") && body["zones"].is_array()) {
        for (const auto& z : body["zones"]) {
            if (z.is_string()) vm.zones.push_back(z.get<std::string>());
        }
    }
    vm.osDisk.name = os->name;
    vm.osDisk.diskId = os->id;
    vm.osDisk.osType = os->osType.empty() ? "Linux" : os->osType;
    vm.osDisk.createOption = "Attach";
    return std::nullopt;
}

HttpResponse putVm(Engine& engine, const ArmCall& call, const std::string& name) {
    HttpResponse error;
    auto body = parseBodyObject(call.http, error);
    if (!body) return error;
    AzureState& state = engine.state();
    std::string id = computeResourceId(engine.machine().subscriptionId, call.path.resourceGroup,
                                       "virtualMachines", name);
    VmRecord* installed = findVm(state, id);
    VmRecord fresh;
    if (!installed) {
        if (!isValidComputeName(name)) {
            return armError(400, "InvalidResourceName", "Resource name " + name + " is invalid.");
        }
        if (auto bad = blankVm(engine, *body, id, name, fresh)) return *bad;
    }
    const VmRecord& current = installed ? *installed : fresh;

    VmRecord planned = current;
    if (auto bad = planVmProperties(*body, current, planned)) return *bad;
    std::vector<DiskRecord> created;
    const Json props = body->value("properties", Json::object());
    if (props.contains("storageProfile") && props["storageProfile"].contains("dataDisks")) {
        DataDiskPlanner planner(state, current, planned, created);
        if (auto bad = planner.plan(props["storageProfile"]["dataDisks"])) return *bad;
    }

    // Accepted: from here on the request changes the state.
    int64_t now = nowMs();
    if (!installed) {
        installed = &(state.vms[idKey(id)] = fresh);
        if (DiskRecord* os = findDisk(state, fresh.osDisk.diskId)) os->managedBy = id;
    } else if (!installed->operationId.empty()) {
        auto older = state.operations.find(toLower(installed->operationId));
        if (older != state.operations.end()) preemptOperation(older->second, now);
    }
    for (const auto& d : created) state.disks[idKey(d.id)] = d;
    if (installed->provisioningState != "Creating") installed->provisioningState = "Updating";
    AsyncOperation& op =
        engine.startOperationLocked("vmUpdate", id, current.location,
                                    engine.currentSettings().asyncOperationDelayMs, call.ending);
    planned.operationId.clear();
    op.pendingVm = planned;
    installed->operationId = op.id;

    planned.provisioningState = installed->provisioningState;
    HttpResponse response =
        HttpResponse::json(fresh.id.empty() ? 200 : 201, renderVm(planned, state, call.apiVersion));
    addAsyncHeader(response, engine, op, call.apiVersion);
    return response;
}

HttpResponse listVms(Engine& engine, const ArmCall& call) {
    if (call.http.method != "GET") return methodNotAllowed(call.http.method);
    Json value = Json::array();
    for (const auto& [key, vm] : engine.state().vms) {
        if (!call.path.hasResourceGroup ||
            iequals(parseArmPath(vm.id).resourceGroup, call.path.resourceGroup)) {
            value.push_back(renderVm(vm, engine.state(), call.apiVersion));
        }
    }
    return HttpResponse::json(200, {{"value", value}});
}

bool sameDisk(const DataDiskEntry& a, const DataDiskEntry& b) {
    return a.lun == b.lun && idKey(a.diskId) == idKey(b.diskId) && a.vhdUri == b.vhdUri;
}

// A disk can vanish or be taken between the PUT and the operation's end.
std::optional<Json> recheckAttachments(const AzureState& state, const VmRecord& vm,
                                       const VmRecord& planned) {
    for (const auto& e : planned.dataDisks) {
        if (e.diskId.empty()) continue;
        const DiskRecord* d = findDisk(state, e.diskId);
        if (!d) {
            return Json{{"code", "NotFound"},
                        {"message", "Disk '" + e.diskId + "' no longer exists."}};
        }
        if (!d->managedBy.empty() && idKey(d->managedBy) != idKey(vm.id)) {
            return Json{
                {"code", "OperationNotAllowed"},
                {"message", "Disk '" + d->name + "' is attached to VM '" + d->managedBy + "'."}};
        }
    }
    return std::nullopt;
}

}  // namespace

Json renderVm(const VmRecord& vm, const AzureState& state, const std::string& apiVersion) {
    bool modern = apiAtLeast(apiVersion, kComputeIncrementalSince);
    const DiskRecord* os = findDisk(state, vm.osDisk.diskId);
    Json osDisk = {{"osType", vm.osDisk.osType},
                   {"name", vm.osDisk.name},
                   {"createOption", vm.osDisk.createOption},
                   {"caching", vm.osDisk.caching},
                   {"managedDisk",
                    {{"storageAccountType", os ? os->sku : "Premium_LRS"},
                     {"id", os ? os->id : vm.osDisk.diskId}}},
                   {"diskSizeGB", os ? os->sizeGB : 30}};
    Json dataDisks = Json::array();
    for (const auto& e : vm.dataDisks) dataDisks.push_back(renderDataDisk(e, state, modern));
    Json props = vm.otherProperties;
    props["vmId"] = vm.vmId;
    props["hardwareProfile"] = {{"vmSize", vm.vmSize}};
    props["storageProfile"] = {
        {"imageReference", vm.imageReference}, {"osDisk", osDisk}, {"dataDisks", dataDisks}};
    props["provisioningState"] = vm.provisioningState;
    Json doc = {{"name", vm.name},
                {"id", vm.id},
                {"type", kVmType},
                {"location", vm.location},
                {"properties", props}};
    if (!vm.tags.empty()) doc["tags"] = vm.tags;
    if (!vm.zones.empty()) doc["zones"] = vm.zones;
    return doc;
}

HttpResponse handleVmRequest(Engine& engine, const ArmCall& call, const std::string& name) {
    if (name.empty()) return listVms(engine, call);
    if (call.http.method == "GET") {
        std::string id = computeResourceId(engine.machine().subscriptionId, call.path.resourceGroup,
                                           "virtualMachines", name);
        const VmRecord* vm = findVm(engine.state(), id);
        if (!vm) return resourceNotFound(kVmType, name, call.path.resourceGroup);
        return HttpResponse::json(200, renderVm(*vm, engine.state(), call.apiVersion));
    }
    if (call.http.method == "PUT") return putVm(engine, call, name);
    return methodNotAllowed(call.http.method);
}

std::vector<DeviceEvent> finishVmUpdate(AzureState& state, AsyncOperation& op, int64_t now) {
    VmRecord* vm = findVm(state, op.resourceId);
    if (!vm || vm->operationId != op.id) {  // preempted, or the VM is gone
        endOperation(op, op.outcome, now);
        return {};
    }
    vm->operationId.clear();
    VmRecord planned = op.pendingVm.get<VmRecord>();
    if (op.outcome == "Succeeded") {
        if (auto problem = recheckAttachments(state, *vm, planned)) {
            op.error = *problem;
            op.outcome = "Failed";
        }
    }
    if (op.outcome != "Succeeded") {
        vm->provisioningState = op.outcome == "Failed" ? "Failed" : "Succeeded";
        endOperation(op, op.outcome, now);
        return {};
    }

    std::vector<DeviceEvent> events;
    for (const auto& old : vm->dataDisks) {
        bool kept = std::any_of(planned.dataDisks.begin(), planned.dataDisks.end(),
                                [&](const DataDiskEntry& e) { return sameDisk(e, old); });
        if (kept) continue;
        events.push_back({0, false, old.lun, old.diskId});
        if (DiskRecord* d = findDisk(state, old.diskId)) d->managedBy.clear();
    }
    for (const auto& e : planned.dataDisks) {
        bool existed = std::any_of(vm->dataDisks.begin(), vm->dataDisks.end(),
                                   [&](const DataDiskEntry& old) { return sameDisk(e, old); });
        if (!existed) events.push_back({0, true, e.lun, e.diskId.empty() ? e.vhdUri : e.diskId});
        if (DiskRecord* d = findDisk(state, e.diskId)) d->managedBy = vm->id;
    }
    planned.provisioningState = "Succeeded";
    planned.operationId.clear();
    planned.local = vm->local;
    *vm = planned;
    endOperation(op, "Succeeded", now);
    if (!vm->local) return {};
    return events;
}

std::string vmAttachingDisk(const AzureState& state, const std::string& diskId,
                            const std::string& exceptVmId) {
    std::string key = idKey(diskId);
    for (const auto& [opKey, op] : state.operations) {
        if (op.kind != "vmUpdate" || op.status != "InProgress" ||
            idKey(op.resourceId) == idKey(exceptVmId) || !op.pendingVm.is_object()) {
            continue;
        }
        for (const auto& e : op.pendingVm.value("dataDisks", Json::array())) {
            if (idKey(e.value("diskId", "")) == key) return op.resourceId;
        }
    }
    return "";
}

}  // namespace azemu
