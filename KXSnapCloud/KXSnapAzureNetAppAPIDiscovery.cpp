// Finding the volume behind each mounted device: the subscriptions and
// resource groups this machine may use, the network interfaces there that
// carry the addresses the shares were mounted from, the capacity pools those
// interfaces serve, and in them the volume whose creation token is the share
// path and one of whose mount targets has the address.
#include <set>
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "platform/FXString.h"

namespace {

constexpr const char* kDiscoveryTag = "KXSnapAzureNetAppAPI";

}  // namespace

using ANF_API_CONST::ANF_RC_DEVICES_NOT_RESOLVED;
using ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
using ANF_API_CONST::ANF_RC_REST_CALL_FAILED;
using ANF_API_CONST::ANF_RC_SUCCESS;
using AzureNetApp::KxSnapANFSnapObj;

// --- Lists -----------------------------------------------------------------------------------

int KXSnapAzureNetAppAPI::processNameList(const std::string& listResponse, const char* key,
                                          std::vector<std::string>& names) {
    AnfJson::Value document;
    if (!AnfJson::parse(listResponse, document)) {
        error << "Failed to parse JSON response, invalid JSON received.";
        logLine(KXSO::LOG_ERROR, "Failed to parse response as JSON. Response [%s]",
                listResponse.c_str());
        return ANF_RC_INVALID_RESPONSE;
    }
    auto missingKey = [&](const char* missing) {
        error << "Failed to parse JSON response, key [" << missing << " ] not found.";
        logLine(KXSO::LOG_ERROR, "Failed to parse JSON response, key [%s] not found. Response [%s]",
                missing, listResponse.c_str());
        return ANF_RC_INVALID_RESPONSE;
    };
    if (!AnfJson::has<AnfJson::Array>(document, "value")) {
        return missingKey("value");
    }
    std::vector<std::string> found;
    for (const AnfJson::Value& element : *AnfJson::member(document, "value")) {
        if (!AnfJson::has<AnfJson::String>(element, key)) {
            return missingKey(key);
        }
        found.push_back(AnfJson::get<AnfJson::String>(element, key, ""));
    }
    names.insert(names.end(), found.begin(), found.end());
    return ANF_RC_SUCCESS;
}

int KXSnapAzureNetAppAPI::processListSubscriptions(const std::string& listResponse,
                                                   std::vector<std::string>& subscriptions) {
    const size_t before = subscriptions.size();
    const int result = processNameList(listResponse, "subscriptionId", subscriptions);
    if (result == ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_INFO, "Found [%zu] subscriptions.", subscriptions.size() - before);
    }
    return result;
}

int KXSnapAzureNetAppAPI::processListResourceGroups(const std::string& listResponse,
                                                    std::vector<std::string>& resourceGroups) {
    return processNameList(listResponse, "name", resourceGroups);
}

int KXSnapAzureNetAppAPI::rest_listSubscriptions(std::vector<std::string>& subscriptions) {
    const std::string path = FXString::Format(ANF_API_CONST::AZURE_REST_LIST_SUB_ENDPOINT,
                                              ANF_API_CONST::AZURE_ANF_REST_API_VER);
    const int listed = rest_listAllPages(path);
    if (listed != ANF_RC_SUCCESS) {
        return listed;
    }
    const int result = processListSubscriptions(response, subscriptions);
    if (result != ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_ERROR,
                "Failed to parse response from list subscriptions API. Response received [%s]",
                response.c_str());
    }
    return result;
}

int KXSnapAzureNetAppAPI::rest_listResourceGroups(const std::string& subscription,
                                                  std::vector<std::string>& resourceGroups) {
    const std::string path =
        FXString::Format(ANF_API_CONST::AZURE_REST_LIST_RES_GROUP_ENDPOINT, subscription.c_str(),
                         ANF_API_CONST::AZURE_ANF_REST_API_VER);
    const int listed = rest_listAllPages(path);
    if (listed != ANF_RC_SUCCESS) {
        return listed;
    }
    const size_t before = resourceGroups.size();
    const int result = processListResourceGroups(response, resourceGroups);
    if (result != ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_ERROR,
                "Failed to parse response from list resource group API. Response received [%s]",
                response.c_str());
        return result;
    }
    logLine(KXSO::LOG_INFO, "Found [%zu] resource group(s) in subscription [%s].",
            resourceGroups.size() - before, subscription.c_str());
    return result;
}

int KXSnapAzureNetAppAPI::getJsonDocument(const std::string& path, AnfJson::Value& json) {
    const int listed = rest_listAllPages(path);
    if (listed != ANF_RC_SUCCESS) {
        return listed;
    }
    if (!AnfJson::parse(response, json)) {
        error << "Failed to parse response to JSON object. JSON response string [" << response
              << "]";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return ANF_RC_INVALID_RESPONSE;
    }
    return ANF_RC_SUCCESS;
}

std::string KXSnapAzureNetAppAPI::nicListPath(const AzureNetApp::AzureEntity& entity) {
    return FXString::Format(ANF_API_CONST::AZURE_REST_LIST_NIC_ENDPOINT,
                            entity.subscriptionId.c_str(), entity.resourceGroupName.c_str(),
                            ANF_API_CONST::AZURE_ANF_REST_API_VER);
}

std::string KXSnapAzureNetAppAPI::volumeListPath(const std::string& capacityPoolPath) {
    return FXString::Format(ANF_API_CONST::AZURE_REST_LIST_VOL_FROM_CP_ENDPOINT,
                            resourceRequestPath(capacityPoolPath).c_str(),
                            ANF_API_CONST::AZURE_ANF_REST_API_VER);
}

int KXSnapAzureNetAppAPI::rest_getAllNICInfo(const AzureNetApp::AzureEntity& entity,
                                             AnfJson::Value& json) {
    return getJsonDocument(nicListPath(entity), json);
}

int KXSnapAzureNetAppAPI::rest_listVolumesFromCP(const std::string& capacityPoolPath,
                                                 AnfJson::Value& json) {
    if (!isSafeResourceId(capacityPoolPath)) {
        resetRESTErr();
        error << "Capacity pool path [" << capacityPoolPath << "] is not a resource id.";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return ANF_RC_REST_CALL_FAILED;
    }
    return getJsonDocument(volumeListPath(capacityPoolPath), json);
}

// --- The walk --------------------------------------------------------------------------------

int KXSnapAzureNetAppAPI::discoverArrayVolumeDetails(
    AzureNetApp::SnapObjMap& snapObjs, std::vector<AzureNetApp::AzureEntity>& accessibleResGroups) {
    logLine(KXSO::LOG_DETAIL, "Start : Discover Volume Details");
    NicCache nicCache;
    SharePathCache sharePathCache;
    for (const auto& entry : snapObjs) {
        if (!entry.second) {
            continue;
        }
        nicCache[entry.second->devInfo.arrayName];
        sharePathCache[entry.second->devInfo.sharePath].push_back(entry.second);
    }
    logTagged(KXSO::LOG_DETAIL, kDiscoveryTag, "NIC Cache initial dump");
    for (const auto& entry : nicCache) {
        logTagged(KXSO::LOG_DETAIL, kDiscoveryTag, "%s", entry.first.c_str());
    }
    logTagged(KXSO::LOG_DETAIL, kDiscoveryTag, "SharePath Cache initial dump");
    for (const auto& entry : sharePathCache) {
        for (const auto& device : entry.second) {
            logTagged(KXSO::LOG_DETAIL, kDiscoveryTag, "%s",
                      (entry.first + " : " + device->devInfo.arrayName).c_str());
        }
    }

    // Every group's interfaces are listed: all at once, then read in order.
    std::vector<std::string> nicLists;
    for (const AzureNetApp::AzureEntity& group : accessibleResGroups) {
        nicLists.push_back(nicListPath(group));
    }
    fetchListsAhead(nicLists);
    for (const AzureNetApp::AzureEntity& group : accessibleResGroups) {
        AnfJson::Value nics;
        if (rest_getAllNICInfo(group, nics) != ANF_RC_SUCCESS) {
            logLine(KXSO::LOG_ERROR,
                    "Failed to fetch network interface information for Azure subscription [%s] "
                    "resource group [%s]",
                    group.subscriptionId.c_str(), group.resourceGroupName.c_str());
            continue;
        }
        if (populateNICCacheFromResponse(nics, nicCache) != ANF_RC_SUCCESS) {
            logLine(KXSO::LOG_ERROR,
                    "Failed to parse and populate NIC info for Azure Subscription [%s] Resource "
                    "Group [%s]",
                    group.subscriptionId.c_str(), group.resourceGroupName.c_str());
        }
    }

    discardListsAhead();
    const int result = getVolumeDetails(nicCache, sharePathCache);
    discardListsAhead();
    if (result == ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_DETAIL, "End : Discover Volume Details");
    }
    return result;
}

int KXSnapAzureNetAppAPI::populateNICCacheFromResponse(const AnfJson::Value& json,
                                                       NicCache& nicCache) {
    if (!AnfJson::has<AnfJson::Array>(json, "value")) {
        logLine(KXSO::LOG_ERROR, "Failed to find tag [%s] in network interface list", "value");
        return ANF_RC_INVALID_RESPONSE;
    }
    const AnfJson::Value& nics = *AnfJson::member(json, "value");
    logLine(KXSO::LOG_DETAIL, "NIC Count [%zu]", nics.size());
    for (size_t i = 0; i < nics.size(); ++i) {
        const AnfJson::Value& nic = nics[i];
        const AnfJson::Value* properties = AnfJson::member(nic, "properties");
        if (properties == nullptr || !properties->is_object()) {
            logLine(KXSO::LOG_ERROR, "Failed to find tag [%s] in NIC[%zu]- Skipping", "properties",
                    i);
            continue;
        }
        if (!AnfJson::has<AnfJson::Array>(*properties, "ipConfigurations")) {
            logLine(KXSO::LOG_ERROR, "Failed to find tag [%s] in NIC[%zu]- Skipping",
                    "ipConfigurations", i);
            continue;
        }
        const AnfJson::Value& configs = *AnfJson::member(*properties, "ipConfigurations");
        logLine(KXSO::LOG_DETAIL, "NIC[%zu] : IP Config Count [%zu]", i, configs.size());
        for (size_t j = 0; j < configs.size(); ++j) {
            const AnfJson::Value* configProperties = AnfJson::member(configs[j], "properties");
            if (configProperties == nullptr ||
                !AnfJson::has<AnfJson::String>(*configProperties, "privateIPAddress")) {
                logLine(KXSO::LOG_ERROR, "Failed to find tag [%s] in NIC[%zu] IP[%zu] - Skipping",
                        configProperties == nullptr ? "properties" : "privateIPAddress", i, j);
                continue;
            }
            const std::string address =
                AnfJson::get<AnfJson::String>(*configProperties, "privateIPAddress", "");
            const auto cached = nicCache.find(address);
            if (cached == nicCache.end()) {
                logLine(KXSO::LOG_DETAIL, "NIC [%s] not found in cache - skipping",
                        address.c_str());
                continue;
            }
            logLine(KXSO::LOG_DETAIL, "NIC [%s] found in cache - adding workloads",
                    address.c_str());
            if (!AnfJson::has<AnfJson::Array>(*properties, "hostedWorkloads")) {
                logLine(KXSO::LOG_ERROR, "Failed to find tag [%s] in NIC[%zu] - Skipping",
                        "hostedWorkloads", i);
                continue;
            }
            for (const AnfJson::Value& workload :
                 *AnfJson::member(*properties, "hostedWorkloads")) {
                const std::string id = workload.is_string() ? workload.get<std::string>() : "";
                const size_t cut = id.find(ANF_API_CONST::ANF_URI_VOLUME_SPEC);
                // The pool path becomes a request path: only a resource id may.
                if (cut == std::string::npos || !isSafeResourceId(id.substr(0, cut))) {
                    logLine(KXSO::LOG_DETAIL,
                            "Failed to find [%s] url param in workload string [%s]",
                            ANF_API_CONST::ANF_URI_VOLUME_SPEC, id.c_str());
                    continue;
                }
                cached->second.insert(id.substr(0, cut));
            }
        }
    }
    for (const auto& entry : nicCache) {
        if (entry.second.empty()) {
            logLine(KXSO::LOG_ERROR, "Failed to find NIC details for IP [%s]", entry.first.c_str());
        }
        for (const std::string& pool : entry.second) {
            logLine(KXSO::LOG_DETAIL, "%s : %s", entry.first.c_str(), pool.c_str());
        }
    }
    return ANF_RC_SUCCESS;
}

int KXSnapAzureNetAppAPI::getVolumeDetails(NicCache& nicCache, SharePathCache& sharePathCache) {
    size_t total = 0;
    for (const auto& entry : sharePathCache) {
        total += entry.second.size();
    }
    size_t remaining = total;
    // The pools in the order the walk below lists them, fetched ahead.
    std::vector<std::string> pools;
    std::set<std::string> unique;
    for (const auto& entry : nicCache) {
        for (const std::string& pool : entry.second) {
            if (isSafeResourceId(pool) && unique.insert(pool).second) {
                pools.push_back(pool);
            }
        }
    }
    fetchVolumeListsAhead(pools, sharePathCache, total);
    // A pool reached through two addresses is listed once: one listing
    // already shows every volume in it.
    std::set<std::string> listed;
    for (const auto& entry : nicCache) {
        for (const std::string& pool : entry.second) {
            if (remaining == 0) {
                break;
            }
            if (!listed.insert(pool).second) {
                continue;
            }
            AnfJson::Value volumes;
            if (rest_listVolumesFromCP(pool, volumes) != ANF_RC_SUCCESS) {
                continue;
            }
            matchVolumeFromListCPResponse(sharePathCache, volumes, remaining);
        }
    }
    if (remaining == 0) {
        logTagged(KXSO::LOG_DETAIL, kDiscoveryTag, "Found all [%zu] devices", total);
        return ANF_RC_SUCCESS;
    }
    logLine(KXSO::LOG_ERROR, "Failed to find all devices - found [%d] out of [%zu]",
            static_cast<int>(total - remaining), total);
    return ANF_RC_DEVICES_NOT_RESOLVED;
}

int KXSnapAzureNetAppAPI::matchVolumeFromListCPResponse(SharePathCache& sharePathCache,
                                                        const AnfJson::Value& json,
                                                        size_t& remaining) {
    if (remaining == 0) {
        logLine(KXSO::LOG_DETAIL, "Found all devices before start");
        return ANF_RC_SUCCESS;
    }
    if (!AnfJson::has<AnfJson::Array>(json, "value")) {
        logLine(KXSO::LOG_ERROR, "Failed to find tag [%s] in list volume response", "value");
        return ANF_RC_INVALID_RESPONSE;
    }
    const AnfJson::Value& volumes = *AnfJson::member(json, "value");
    logLine(KXSO::LOG_DETAIL, "Vol Count [%zu]", volumes.size());
    for (size_t k = 0; k < volumes.size() && remaining > 0; ++k) {
        const AnfJson::Value& volume = volumes[k];
        const AnfJson::Value* properties = AnfJson::member(volume, "properties");
        if (properties == nullptr || !properties->is_object()) {
            logLine(KXSO::LOG_ERROR, "Failed to find tag [%s] in volume [%zu]- Skipping",
                    "properties", k);
            continue;
        }
        if (!AnfJson::has<AnfJson::String>(*properties, "creationToken")) {
            logLine(KXSO::LOG_ERROR, "Failed to find tag [%s] in volume [%zu]- Skipping",
                    "creationToken", k);
            continue;
        }
        const std::string token = AnfJson::get<AnfJson::String>(*properties, "creationToken", "");
        const auto cached = sharePathCache.find(token);
        if (cached == sharePathCache.end() || cached->second.empty()) {
            logLine(KXSO::LOG_DETAIL, "Path [%s] not in cache", token.c_str());
            continue;
        }
        logLine(KXSO::LOG_DETAIL, "Found device [%s]", token.c_str());
        if (!AnfJson::has<AnfJson::Array>(*properties, "mountTargets")) {
            logLine(KXSO::LOG_ERROR, "Failed to find tag [%s] in volume [%zu]- Skipping",
                    "mountTargets", k);
            continue;
        }
        std::set<std::string> addresses;
        const AnfJson::Value& targets = *AnfJson::member(*properties, "mountTargets");
        for (size_t t = 0; t < targets.size(); ++t) {
            if (!AnfJson::has<AnfJson::String>(targets[t], "ipAddress")) {
                logLine(KXSO::LOG_ERROR,
                        "Failed to find tag [%s] in volume/mountTargets [%zu]- Skipping",
                        "ipAddress", t);
                continue;
            }
            addresses.insert(AnfJson::get<AnfJson::String>(targets[t], "ipAddress", ""));
        }

        // Devices of this share path that this volume does not serve stay
        // in the cache for the volumes of other pools.
        std::vector<std::shared_ptr<KxSnapANFSnapObj>> unresolved;
        for (const std::shared_ptr<KxSnapANFSnapObj>& device : cached->second) {
            const std::string& address = device->devInfo.arrayName;
            if (addresses.count(address) == 0) {
                logLine(KXSO::LOG_ERROR,
                        "Failed to validate volume details. SharePath[%s] ArrayIP[%s]",
                        token.c_str(), address.c_str());
                unresolved.push_back(device);
                continue;
            }
            if (setANFVolumeDetails(volume, device->snapshotInfo, false) != ANF_RC_SUCCESS) {
                logLine(KXSO::LOG_ERROR, "Failed to set volume details. SharePath[%s]",
                        token.c_str());
                unresolved.push_back(device);
                continue;
            }
            --remaining;
            if (remaining == 0) {
                logLine(KXSO::LOG_DETAIL, "Found all devices");
            }
        }
        cached->second = std::move(unresolved);
    }
    return ANF_RC_SUCCESS;
}

// --- Fetching ahead ----------------------------------------------------------------------------

namespace {

// Which pools' lists, taken in order, leave no device unresolved: once
// every pool up to one is known, the walk's end is known.
class PoolCoverage {
public:
    PoolCoverage(size_t pools, size_t devices)
        : resolved_(pools), known_(pools, false), devices_(devices) {}
    bool Known(size_t index, std::set<const KxSnapANFSnapObj*> resolved) {
        resolved_[index] = std::move(resolved);
        known_[index] = true;
        while (!complete_ && next_ < known_.size() && known_[next_]) {
            found_.insert(resolved_[next_].begin(), resolved_[next_].end());
            ++next_;
            complete_ = found_.size() >= devices_;
        }
        return complete_;
    }
    // The last pool the walk lists, once known; pools.size() until then.
    size_t LastListed() const { return complete_ ? next_ - 1 : known_.size(); }

private:
    std::vector<std::set<const KxSnapANFSnapObj*>> resolved_;
    std::vector<bool> known_;
    size_t devices_;
    size_t next_ = 0;  // pools before this one are known and counted in found_
    std::set<const KxSnapANFSnapObj*> found_;
    bool complete_ = false;
};

}  // namespace

void KXSnapAzureNetAppAPI::fetchVolumeListsAhead(const std::vector<std::string>& pools,
                                                 const SharePathCache& sharePathCache,
                                                 size_t devices) {
    if (devices == 0) {
        return;  // the walk lists nothing
    }
    std::vector<std::string> paths;
    for (const std::string& pool : pools) {
        paths.push_back(volumeListPath(pool));
    }
    PoolCoverage coverage(pools.size(), devices);
    const ListStop stop = [&](size_t index, const AnfJson::Value* list) {
        return coverage.Known(index, list != nullptr ? devicesResolvedBy(*list, sharePathCache)
                                                     : std::set<const KxSnapANFSnapObj*>());
    };
    fetchListsAhead(paths, stop);
    // A list after the walk's end may have been cut short where a retry was
    // no longer wanted; should the walk get there after all, it sends anew.
    for (size_t index = coverage.LastListed() + 1; index < paths.size(); ++index) {
        listsAhead.erase(paths[index]);
    }
}

std::set<const KxSnapANFSnapObj*> KXSnapAzureNetAppAPI::devicesResolvedBy(
    const AnfJson::Value& list, const SharePathCache& cache) {
    std::set<const KxSnapANFSnapObj*> resolved;
    if (!AnfJson::has<AnfJson::Array>(list, "value")) {
        return resolved;
    }
    // setANFVolumeDetails is the judge of a volume document, as in the walk;
    // its complaints belong to the walk's log, not to this look ahead.
    KXSO::SnapInfo* const sink = logger;
    logger = nullptr;
    for (const AnfJson::Value& volume : *AnfJson::member(list, "value")) {
        const AnfJson::Value* properties = AnfJson::member(volume, "properties");
        if (properties == nullptr || !properties->is_object() ||
            !AnfJson::has<AnfJson::String>(*properties, "creationToken") ||
            !AnfJson::has<AnfJson::Array>(*properties, "mountTargets")) {
            continue;
        }
        const auto cached =
            cache.find(AnfJson::get<AnfJson::String>(*properties, "creationToken", ""));
        if (cached == cache.end()) {
            continue;
        }
        std::set<std::string> addresses;
        for (const AnfJson::Value& target : *AnfJson::member(*properties, "mountTargets")) {
            if (AnfJson::has<AnfJson::String>(target, "ipAddress")) {
                addresses.insert(AnfJson::get<AnfJson::String>(target, "ipAddress", ""));
            }
        }
        AzureNetApp::AzureNetAppVolumeInfo scratch;
        for (const std::shared_ptr<KxSnapANFSnapObj>& device : cached->second) {
            if (addresses.count(device->devInfo.arrayName) != 0 &&
                setANFVolumeDetails(volume, scratch, false) == ANF_RC_SUCCESS) {
                resolved.insert(device.get());
            }
        }
    }
    logger = sink;
    return resolved;
}
