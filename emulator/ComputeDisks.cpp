#include "ComputeDisks.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "ApiVersions.h"
#include "ArmErrors.h"
#include "ArmRouter.h"
#include "AsyncOperations.h"
#include "Engine.h"
#include "Util.h"
#include "VirtualMachines.h"

namespace azemu {

namespace {

const char* const kDiskSkus[] = {"Standard_LRS", "Premium_LRS", "StandardSSD_LRS",
                                 "UltraSSD_LRS", "Premium_ZRS", "StandardSSD_ZRS",
                                 "PremiumV2_LRS"};
const char* const kSnapshotSkus[] = {"Standard_LRS", "Premium_LRS", "Standard_ZRS"};

std::string skuTier(const std::string& sku) {
    if (startsWithIgnoreCase(sku, "Premium"))
        return "Premium";
    if (startsWithIgnoreCase(sku, "Ultra"))
        return "Ultra";
    return "Standard";
}

std::string typeName(const std::string& kind) {
    return "Microsoft.Compute/" + kind;
}

// What a PUT asks for, read and checked before anything changes.
struct DiskRequest {
    std::string location;
    std::string createOption;
    std::string source;  // sourceResourceId or sourceUri
    bool sourceAsUri = false;
    bool incremental = false;
    std::string sku;
    std::optional<int64_t> sizeGB;
    std::optional<std::vector<std::string>> zones;
    Json tags = Json::object();
};

std::optional<HttpResponse> readDiskRequest(const Json& body, const std::string& kind,
                                            const std::string& api, const Settings& settings,
                                            DiskRequest& r) {
    if (!body.contains("location")) {
        return armError(400, "LocationRequired",
                        "The location property is required for this definition.");
    }
    if (!body["location"].is_string())
        return invalidRequestContent("location must be a string");
    r.location = body["location"].get<std::string>();

    Json props = body.value("properties", Json::object());
    if (!props.is_object())
        return invalidRequestContent("properties must be an object");
    if (!props.contains("creationData"))
        return missingParameter("creationData");
    const Json& creation = props["creationData"];
    if (!creation.is_object())
        return invalidRequestContent("creationData must be an object");
    if (!creation.contains("createOption"))
        return missingParameter("createOption");
    if (!creation["createOption"].is_string()) {
        return invalidRequestContent("createOption must be a string");
    }
    std::string option = creation["createOption"].get<std::string>();
    if (iequals(option, "Copy")) {
        r.createOption = "Copy";
    } else if (iequals(option, "Empty") && kind == "disks") {
        r.createOption = "Empty";
    } else {
        return invalidParameter(
            "The emulator does not support createOption '" + option + "' for " + kind + ".",
            "createOption");
    }
    for (const char* key : {"sourceResourceId", "sourceUri"}) {
        if (creation.contains(key) && creation[key].is_string()) {
            r.source = creation[key].get<std::string>();
            r.sourceAsUri = std::string(key) == "sourceUri";
            break;
        }
    }
    if (r.createOption == "Copy" && r.source.empty())
        return missingParameter("sourceResourceId");

    if (props.contains("incremental") && kind == "snapshots") {
        if (!props["incremental"].is_boolean()) {
            return invalidRequestContent("incremental must be true or false");
        }
        r.incremental = props["incremental"].get<bool>();
        if (r.incremental && !apiAtLeast(api, kComputeIncrementalSince)) {
            return invalidParameter("The property 'incremental' is not supported in api-version '" +
                                        api + "'; incremental snapshots need api-version " +
                                        kComputeIncrementalSince + " or later.",
                                    "properties.incremental");
        }
        if (r.incremental && !settings.incrementalSnapshots) {
            return armError(400, "BadRequest",
                            "Incremental snapshots are not supported for this disk.");
        }
    }
    if (props.contains("diskSizeGB")) {
        if (!props["diskSizeGB"].is_number_integer() || props["diskSizeGB"].get<int64_t>() <= 0) {
            return invalidParameter("diskSizeGB must be a positive integer.", "diskSizeGB");
        }
        r.sizeGB = props["diskSizeGB"].get<int64_t>();
    }
    if (r.createOption == "Empty" && !r.sizeGB)
        return missingParameter("diskSizeGB");

    std::string skuName = "Standard_LRS";
    if (body.contains("sku")) {
        const Json& sku = body["sku"];
        if (!sku.is_object() || !sku.value("name", Json()).is_string()) {
            return invalidRequestContent("sku must be an object with a name");
        }
        skuName = sku["name"].get<std::string>();
    }
    r.sku = canonicalSku(skuName, kind == "snapshots");
    if (r.sku.empty()) {
        return invalidParameter(
            "The value '" + skuName + "' of sku.name is not valid for " + kind + ".", "sku.name");
    }
    if (body.contains("zones")) {
        if (!body["zones"].is_array())
            return invalidRequestContent("zones must be an array");
        std::vector<std::string> zones;
        for (const auto& z : body["zones"]) {
            if (!z.is_string())
                return invalidRequestContent("zones must hold strings");
            zones.push_back(z.get<std::string>());
        }
        r.zones = zones;
    }
    if (body.contains("tags")) {
        if (!body["tags"].is_object())
            return invalidRequestContent("tags must be an object");
        r.tags = body["tags"];
    }
    return std::nullopt;
}

// The disk or snapshot a copy is made from, if the request names a usable one.
std::optional<HttpResponse> findSource(const AzureState& state, const DiskRequest& r,
                                       const DiskRecord*& source) {
    source = nullptr;
    if (r.createOption != "Copy")
        return std::nullopt;
    std::string type = resourceTypeOf(r.source);
    if (!iequals(type, "Microsoft.Compute/disks") &&
        !iequals(type, "Microsoft.Compute/snapshots")) {
        return invalidParameter("'" + r.source + "' is not a managed disk or snapshot id.",
                                "sourceResourceId");
    }
    source = findDisk(state, r.source);
    if (!source || source->deleting) {
        return armError(404, "NotFound",
                        "The source resource '" + normalizeId(r.source) + "' was not found.");
    }
    if (normalizeLocation(source->location) != normalizeLocation(r.location)) {
        return invalidParameter("The source resource is in location '" + source->location +
                                    "', not in '" + r.location + "'.",
                                "location");
    }
    if (r.sizeGB && *r.sizeGB < source->sizeGB) {
        return invalidParameter("The size " + std::to_string(*r.sizeGB) +
                                    " GB is smaller than the source's " +
                                    std::to_string(source->sizeGB) + " GB.",
                                "diskSizeGB");
    }
    return std::nullopt;
}

HttpResponse propertyChange(const std::string& property) {
    return armError(409, "PropertyChangeNotAllowed",
                    "Changing property '" + property + "' is not allowed.", property);
}

// A PUT over an existing resource may change tags, SKU and size, never where it came from.
std::optional<HttpResponse> checkUpdate(const DiskRecord& d, const DiskRequest& r) {
    if (d.deleting) {
        return armError(409, "OperationNotAllowed", "'" + d.name + "' is being deleted.");
    }
    if (normalizeLocation(d.location) != normalizeLocation(r.location)) {
        return armError(409, "InvalidResourceLocation",
                        "The resource '" + d.name + "' already exists in location '" + d.location +
                            "' in resource group. A resource with the same name "
                            "cannot be created in location '" +
                            r.location + "'.");
    }
    if (!iequals(d.createOption, r.createOption) && d.createOption != "FromImage") {
        return propertyChange("createOption");
    }
    if (idKey(d.sourceResourceId) != idKey(r.source) && r.createOption == "Copy") {
        return propertyChange("sourceResourceId");
    }
    if (d.incremental != r.incremental)
        return propertyChange("incremental");
    if (r.zones && *r.zones != d.zones)
        return propertyChange("zones");
    if (!d.managedBy.empty() && (d.sku != r.sku || (r.sizeGB && *r.sizeGB != d.sizeGB))) {
        return armError(409, "OperationNotAllowed",
                        "Disk '" + d.name + "' is attached to VM '" + d.managedBy +
                            "'; its SKU and size can only change while it is unattached.");
    }
    return std::nullopt;
}

HttpResponse putDisk(Engine& engine, const ArmCall& call, const std::string& kind,
                     const std::string& name) {
    HttpResponse error;
    auto body = parseBodyObject(call.http, error);
    if (!body)
        return error;
    if (!isValidComputeName(name)) {
        return armError(400, "InvalidResourceName",
                        "Resource name " + name +
                            " is invalid. The name can be up to 80 "
                            "characters long. It must begin with a word character, and it must end "
                            "with a word character or with '_'. The name may contain word "
                            "characters or '.', '-', '_'.");
    }
    DiskRequest r;
    if (auto bad = readDiskRequest(*body, kind, call.apiVersion, engine.currentSettings(), r)) {
        return *bad;
    }
    AzureState& state = engine.state();
    const DiskRecord* source = nullptr;
    if (auto bad = findSource(state, r, source))
        return *bad;

    std::string id =
        computeResourceId(engine.machine().subscriptionId, call.path.resourceGroup, kind, name);
    DiskRecord* existing = findDisk(state, id);
    if (existing) {
        if (auto bad = checkUpdate(*existing, r))
            return *bad;
    }
    int status = existing ? 200 : 202;
    DiskRecord& d = existing ? *existing : state.disks[idKey(id)];
    if (!existing) {
        d.kind = kind;
        d.id = id;
        d.name = name;
        d.location = r.location;
        d.createOption = r.createOption;
        d.uniqueId = randomUuid();
        d.timeCreated = isoTime(nowMs());
        d.incremental = r.incremental;
        d.zones = r.zones.value_or(std::vector<std::string>{});
        if (source) {
            d.sourceResourceId = source->id;
            d.sourceUniqueId = source->uniqueId;
            d.osType = source->osType;
            d.sizeGB = source->sizeGB;
        }
    }
    d.sku = r.sku;
    if (r.sizeGB)
        d.sizeGB = *r.sizeGB;
    d.tags = r.tags;
    d.provisioningState = "Updating";
    AsyncOperation& op = engine.startOperationLocked(
        "provision", d.id, d.location, engine.currentSettings().provisioningDelayMs, call.ending);
    d.operationId = op.id;
    Json doc = renderDisk(d, call.apiVersion);
    // The accepted request is echoed as it was phrased; later reads show sourceResourceId.
    if (r.sourceAsUri)
        doc["properties"]["creationData"]["sourceUri"] = r.source;
    HttpResponse response = HttpResponse::json(status, doc);
    addAsyncHeader(response, engine, op, call.apiVersion);
    return response;
}

HttpResponse deleteDisk(Engine& engine, const ArmCall& call, const std::string& kind,
                        const std::string& name) {
    AzureState& state = engine.state();
    const Settings& settings = engine.currentSettings();
    std::string id =
        computeResourceId(engine.machine().subscriptionId, call.path.resourceGroup, kind, name);
    DiskRecord* d = findDisk(state, id);
    if (!d) {
        if (settings.deleteMissingStatus == 404) {
            return resourceNotFound(typeName(kind), name, call.path.resourceGroup);
        }
        return HttpResponse::empty(204);
    }
    if (!d->managedBy.empty()) {
        return armError(409, "OperationNotAllowed",
                        "Disk " + d->name + " is attached to VM " + d->managedBy + ".");
    }
    // Azure accepts the deletion of a disk that a VM update is still
    // attaching; that update then fails (recheckAttachments). A client that
    // deletes while its own update is unsettled loses the disk either way.
    if (d->deleting) {
        HttpResponse again = HttpResponse::empty(202);
        auto op = state.operations.find(toLower(d->operationId));
        if (op != state.operations.end())
            addAsyncHeader(again, engine, op->second, call.apiVersion);
        return again;
    }
    if (settings.deleteDelayMs == 0 && call.ending.kind == AsyncEnding::Normal) {
        state.disks.erase(idKey(d->id));
        return HttpResponse::empty(200);
    }
    d->deleting = true;
    d->provisioningState = "Deleting";
    AsyncOperation& op = engine.startOperationLocked("delete", d->id, d->location,
                                                     settings.deleteDelayMs, call.ending);
    d->operationId = op.id;
    HttpResponse response = HttpResponse::empty(202);
    addAsyncHeader(response, engine, op, call.apiVersion);
    response.setHeader("Location", response.header("Azure-AsyncOperation") + "&monitor=true");
    return response;
}

HttpResponse patchDisk(Engine& engine, const ArmCall& call, const std::string& kind,
                       const std::string& name) {
    HttpResponse error;
    auto body = parseBodyObject(call.http, error);
    if (!body)
        return error;
    std::string id =
        computeResourceId(engine.machine().subscriptionId, call.path.resourceGroup, kind, name);
    DiskRecord* d = findDisk(engine.state(), id);
    if (!d)
        return resourceNotFound(typeName(kind), name, call.path.resourceGroup);
    if (body->contains("tags")) {
        if (!(*body)["tags"].is_object())
            return invalidRequestContent("tags must be an object");
        d->tags = (*body)["tags"];
    }
    return HttpResponse::json(200, renderDisk(*d, call.apiVersion));
}

HttpResponse listDisks(Engine& engine, const ArmCall& call, const std::string& kind) {
    if (call.http.method != "GET")
        return methodNotAllowed(call.http.method);
    Json value = Json::array();
    for (const auto& [key, d] : engine.state().disks) {
        bool inGroup = !call.path.hasResourceGroup ||
                       iequals(parseArmPath(d.id).resourceGroup, call.path.resourceGroup);
        if (d.kind == kind && inGroup)
            value.push_back(renderDisk(d, call.apiVersion));
    }
    return HttpResponse::json(200, {{"value", value}});
}

}  // namespace

std::string canonicalSku(const std::string& sku, bool snapshot) {
    auto pick = [&](const auto& list) -> std::string {
        for (const char* s : list) {
            if (iequals(sku, s))
                return s;
        }
        return "";
    };
    return snapshot ? pick(kSnapshotSkus) : pick(kDiskSkus);
}

bool isValidComputeName(const std::string& name) {
    if (name.empty() || name.size() > 80)
        return false;
    auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    for (char c : name) {
        if (!word(c) && c != '.' && c != '-')
            return false;
    }
    return std::isalnum(static_cast<unsigned char>(name.front())) && word(name.back());
}

Json renderDisk(const DiskRecord& d, const std::string& apiVersion) {
    bool modern = apiAtLeast(apiVersion, kComputeIncrementalSince);
    Json creation = {{"createOption", d.createOption}};
    if (!d.sourceResourceId.empty())
        creation["sourceResourceId"] = d.sourceResourceId;
    if (modern && !d.sourceUniqueId.empty())
        creation["sourceUniqueId"] = d.sourceUniqueId;
    Json props = {{"creationData", creation},
                  {"diskSizeGB", d.sizeGB},
                  {"timeCreated", d.timeCreated},
                  {"provisioningState", d.provisioningState}};
    if (!d.osType.empty())
        props["osType"] = d.osType;
    if (modern) {
        props["diskSizeBytes"] = d.sizeGB * 1024 * 1024 * 1024;
        props["uniqueId"] = d.uniqueId;
        props["diskState"] = d.managedBy.empty() ? "Unattached" : "Attached";
        props["encryption"] = {{"type", "EncryptionAtRestWithPlatformKey"}};
        if (d.kind == "snapshots")
            props["incremental"] = d.incremental;
    }
    Json doc = {{"name", d.name},           {"id", d.id},
                {"type", typeName(d.kind)}, {"location", d.location},
                {"tags", d.tags},           {"sku", {{"name", d.sku}, {"tier", skuTier(d.sku)}}},
                {"properties", props}};
    if (!d.managedBy.empty())
        doc["managedBy"] = d.managedBy;
    if (!d.zones.empty())
        doc["zones"] = d.zones;
    return doc;
}

HttpResponse handleDiskRequest(Engine& engine, const ArmCall& call, const std::string& kind,
                               const std::string& name) {
    if (name.empty())
        return listDisks(engine, call, kind);
    const std::string& method = call.http.method;
    if (method == "GET") {
        std::string id =
            computeResourceId(engine.machine().subscriptionId, call.path.resourceGroup, kind, name);
        const DiskRecord* d = findDisk(engine.state(), id);
        if (!d)
            return resourceNotFound(typeName(kind), name, call.path.resourceGroup);
        return HttpResponse::json(200, renderDisk(*d, call.apiVersion));
    }
    if (method == "PUT")
        return putDisk(engine, call, kind, name);
    if (method == "DELETE")
        return deleteDisk(engine, call, kind, name);
    if (method == "PATCH")
        return patchDisk(engine, call, kind, name);
    return methodNotAllowed(method);
}

void finishProvisioning(AzureState& state, AsyncOperation& op, int64_t now) {
    DiskRecord* d = findDisk(state, op.resourceId);
    if (d && d->operationId == op.id) {
        d->provisioningState = op.outcome == "Succeeded"  ? "Succeeded"
                               : op.outcome == "Canceled" ? "Canceled"
                                                          : "Failed";
        d->operationId.clear();
    }
    endOperation(op, op.outcome, now);
}

void finishDeletion(AzureState& state, AsyncOperation& op, int64_t now) {
    DiskRecord* d = findDisk(state, op.resourceId);
    if (d && d->operationId == op.id) {
        if (op.outcome == "Succeeded") {
            state.disks.erase(idKey(op.resourceId));
        } else {
            d->deleting = false;
            d->provisioningState = "Succeeded";
            d->operationId.clear();
        }
    }
    endOperation(op, op.outcome, now);
}

}  // namespace azemu
