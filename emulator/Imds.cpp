#include "Imds.h"

#include "ApiVersions.h"
#include "ArmErrors.h"
#include "Engine.h"
#include "Util.h"

namespace azemu {

namespace {

Json newestVersions() {
    const auto& all = imdsApiVersions();
    return Json::array({all[all.size() - 1], all[all.size() - 2], all[all.size() - 3]});
}

HttpResponse versionError(const std::string& text) {
    return HttpResponse::json(
        400, {{"error", "Bad request. " + text + " For more information refer to aka.ms/azureimds"},
              {"newest-versions", newestVersions()}});
}

std::string tagsText(const Json& tags) {
    std::string out;
    for (const auto& item : tags.items()) {
        if (!out.empty()) out += ";";
        out += item.key() + ":" + (item.value().is_string() ? item.value().get<std::string>() : "");
    }
    return out;
}

Json tagsList(const Json& tags) {
    Json list = Json::array();
    for (const auto& item : tags.items()) {
        list.push_back(
            {{"name", item.key()},
             {"value", item.value().is_string() ? item.value().get<std::string>() : ""}});
    }
    return list;
}

// The metadata service reports every leaf as a string.
Json diskEntry(const std::string& name, const std::string& caching, const std::string& option,
               int64_t sizeGB, const std::string& diskId, const std::string& sku,
               const std::string& vhd) {
    Json managed = diskId.empty() ? Json{{"id", ""}, {"storageAccountType", ""}}
                                  : Json{{"id", diskId}, {"storageAccountType", sku}};
    return {{"caching", caching},
            {"createOption", option},
            {"diskSizeGB", std::to_string(sizeGB)},
            {"image", {{"uri", ""}}},
            {"managedDisk", managed},
            {"name", name},
            {"vhd", {{"uri", vhd}}},
            {"writeAcceleratorEnabled", "false"}};
}

Json storageProfile(const VmRecord& vm, const AzureState& state) {
    const DiskRecord* os = findDisk(state, vm.osDisk.diskId);
    Json osDisk = diskEntry(vm.osDisk.name, vm.osDisk.caching, vm.osDisk.createOption,
                            os ? os->sizeGB : 0, vm.osDisk.diskId, os ? os->sku : "", "");
    osDisk["osType"] = vm.osDisk.osType;
    osDisk["diffDiskSettings"] = {{"option", ""}};
    osDisk["encryptionSettings"] = {{"enabled", "false"}};
    Json data = Json::array();
    for (const auto& e : vm.dataDisks) {
        const DiskRecord* d = e.diskId.empty() ? nullptr : findDisk(state, e.diskId);
        Json entry = diskEntry(e.name, e.caching, e.createOption, d ? d->sizeGB : e.sizeGB,
                               e.diskId, d ? d->sku : "", e.vhdUri);
        entry["lun"] = std::to_string(e.lun);
        data.push_back(entry);
    }
    Json image = vm.imageReference;
    image["id"] = "";
    return {{"imageReference", image}, {"osDisk", osDisk}, {"dataDisks", data}};
}

}  // namespace

HttpResponse Imds::handle(const HttpRequest& request) {
    if (request.header("Metadata") != "true") {
        return imdsError(400, "bad_request_102", "Required metadata header not specified");
    }
    if (hasHeader(request.headers, "X-Forwarded-For")) {
        return imdsError(400, "bad_request", "Requests with an X-Forwarded-For header are refused");
    }
    if (request.method != "GET") {
        return imdsError(405, "method_not_allowed", "Only GET is allowed");
    }
    std::string path = toLower(request.path);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    bool isToken = path == "/metadata/identity/oauth2/token";
    bool isInfo = path == "/metadata/identity/info";
    bool isInstance = path == "/metadata/instance" || path == "/metadata/instance/compute" ||
                      path == "/metadata/instance/network";
    if (!isToken && !isInfo && !isInstance) {
        return imdsError(404, "not_found", "No metadata at " + request.path);
    }
    std::string api = request.queryValue("api-version");
    if (!request.hasQuery("api-version")) {
        return versionError("api-version was not specified in the request.");
    }
    if (!isImdsApiVersion(api)) {
        return versionError("api-version is invalid or was not specified in the request.");
    }
    if (isToken) return token(request);
    if (isInfo) return HttpResponse::json(200, {{"tenantId", engine_.machine().tenantId}});
    return instance(api, path.substr(std::string("/metadata/instance").size()));
}

HttpResponse Imds::instance(const std::string& api, const std::string& section) {
    auto lock = engine_.lock();
    engine_.advanceLocked();
    if (section == "/compute") return HttpResponse::json(200, compute(api));
    if (section == "/network") return HttpResponse::json(200, network());
    return HttpResponse::json(200, {{"compute", compute(api)}, {"network", network()}});
}

Json Imds::compute(const std::string& api) const {
    const MachineInfo& m = engine_.machine();
    const AzureState& state = engine_.state();
    const VmRecord none;
    const VmRecord* vm = localVm(state);
    if (!vm) vm = &none;
    const Json& image = vm->imageReference;
    Json c = {{"location", normalizeLocation(m.location)},
              {"name", vm->name},
              {"offer", image.value("offer", "")},
              {"osType", vm->osDisk.osType},
              {"placementGroupId", ""},
              {"platformFaultDomain", "0"},
              {"platformUpdateDomain", "0"},
              {"publisher", image.value("publisher", "")},
              {"resourceGroupName", m.resourceGroup},
              {"sku", image.value("sku", "")},
              {"subscriptionId", m.subscriptionId},
              {"tags", tagsText(vm->tags)},
              {"version", image.value("version", "")},
              {"vmId", vm->vmId},
              {"vmScaleSetName", ""},
              {"vmSize", vm->vmSize},
              {"zone", vm->zones.empty() ? "" : vm->zones.front()}};
    if (apiAtLeast(api, "2018-04-02")) {
        c["plan"] = {{"name", ""}, {"product", ""}, {"publisher", ""}};
        c["publicKeys"] = Json::array();
    }
    if (apiAtLeast(api, "2018-10-01")) c["azEnvironment"] = "AzurePublicCloud";
    if (apiAtLeast(api, "2019-03-11")) {
        c["provider"] = "Microsoft.Compute";
        c["resourceId"] = vm->id;
    }
    if (apiAtLeast(api, "2019-06-01")) c["storageProfile"] = storageProfile(*vm, state);
    if (apiAtLeast(api, "2019-06-04")) c["tagsList"] = tagsList(vm->tags);
    return c;
}

Json Imds::network() const {
    Json interfaces = Json::array();
    for (const auto& nic : engine_.machine().networkInterfaces) {
        Json addresses = Json::array();
        for (const auto& ip : nic.privateIps) {
            addresses.push_back({{"privateIpAddress", ip}, {"publicIpAddress", nic.publicIp}});
        }
        interfaces.push_back({{"ipv4",
                               {{"ipAddress", addresses},
                                {"subnet", Json::array({{{"address", nic.subnetAddress},
                                                         {"prefix", nic.subnetPrefix}}})}}},
                              {"ipv6", {{"ipAddress", Json::array()}}},
                              {"macAddress", nic.macAddress}});
    }
    return {{"interface", interfaces}};
}

HttpResponse Imds::token(const HttpRequest& request) {
    const MachineInfo& m = engine_.machine();
    std::string resource = request.queryValue("resource");
    if (resource.empty()) {
        return imdsError(400, "invalid_request", "Required query variable 'resource' is missing");
    }
    std::string clientId = request.queryValue("client_id");
    std::string objectId = request.queryValue("object_id");
    bool otherIdentity = (!clientId.empty() && !iequals(clientId, m.clientId)) ||
                         (!objectId.empty() && !iequals(objectId, m.objectId)) ||
                         request.hasQuery("mi_res_id");
    if (!m.identityEnabled || otherIdentity) {
        return imdsError(400, "invalid_request", "Identity not found");
    }
    IssuedToken t = engine_.issueToken();
    int64_t lifetime = (t.expiresMs - t.notBeforeMs) / 1000;
    return HttpResponse::json(200, {{"access_token", t.token},
                                    {"refresh_token", ""},
                                    {"client_id", m.clientId},
                                    {"expires_in", std::to_string(lifetime)},
                                    {"expires_on", std::to_string(t.expiresMs / 1000)},
                                    {"ext_expires_in", std::to_string(lifetime)},
                                    {"not_before", std::to_string(t.notBeforeMs / 1000)},
                                    {"resource", resource},
                                    {"token_type", "Bearer"}});
}

}  // namespace azemu
