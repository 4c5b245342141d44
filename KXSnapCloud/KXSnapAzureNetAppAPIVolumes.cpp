// Volumes: reading one into its record (the record is also filled from the
// volume lists of discovery) and deleting one, which is how clones go.
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "platform/FXString.h"

namespace {

// Azure leaves "usageThreshold" out when the volume has the default quota.
constexpr long double kQuotaAbsent = -1;

}  // namespace

using ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED;
using ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
using ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND;
using ANF_API_CONST::ANF_RC_REST_CALL_FAILED;
using ANF_API_CONST::ANF_RC_SUCCESS;
using AzureNetApp::AzureNetAppVolumeInfo;

namespace {

std::string VolumePath(const char* pattern, const AzureNetAppVolumeInfo& volume) {
    return FXString::Format(pattern, volume.subscriptionId.c_str(),
                            volume.resourceGroupName.c_str(), volume.netappAccountName.c_str(),
                            volume.capacityPoolName.c_str(), volume.volumeName.c_str(),
                            ANF_API_CONST::AZURE_ANF_REST_API_VER);
}

bool HasAllCoordinates(const AzureNetAppVolumeInfo& volume) {
    return !volume.subscriptionId.empty() && !volume.resourceGroupName.empty() &&
           !volume.netappAccountName.empty() && !volume.capacityPoolName.empty() &&
           !volume.volumeName.empty();
}

}  // namespace

int KXSnapAzureNetAppAPI::rest_getVolumeInfo(AzureNetAppVolumeInfo& volumeInfo, bool extended) {
    const std::string path =
        VolumePath(ANF_API_CONST::AZURE_REST_GET_VOL_INFO_ENDPOINT, volumeInfo);
    if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_GET, path, "", false)) {
        extractErrorMessage(response, false);
        const int result =
            isNotFoundAnswer(false) ? ANF_RC_RESOURCE_NOT_FOUND : ANF_RC_REST_CALL_FAILED;
        logLine(KXSO::LOG_ERROR, "%d-{%s}-url-[%s]", result, restError.str().c_str(),
                requestPath.c_str());
        return result;
    }
    const int result = processGetVolumeInfo(response, volumeInfo, extended);
    if (result != ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_ERROR, "Failed to parse response from get volume info API Response[%s]",
                response.c_str());
    }
    return result;
}

int KXSnapAzureNetAppAPI::rest_getCloneInfo(AzureNetAppVolumeInfo& volumeInfo) {
    return rest_getVolumeInfo(volumeInfo, true);
}

int KXSnapAzureNetAppAPI::processGetVolumeInfo(const std::string& volumeResponse,
                                               AzureNetAppVolumeInfo& volumeInfo, bool extended) {
    AnfJson::Value document;
    int result = ANF_RC_SUCCESS;
    if (!AnfJson::parse(volumeResponse, document)) {
        result = ANF_RC_REST_CALL_FAILED;
    } else {
        result = setANFVolumeDetails(document, volumeInfo, extended);
    }
    if (result != ANF_RC_SUCCESS) {
        error << "Failed to parse volume details from JSON response [" << volumeResponse << "]";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
    }
    return result;
}

int KXSnapAzureNetAppAPI::setANFVolumeDetails(const AnfJson::Value& volume,
                                              AzureNetAppVolumeInfo& volumeInfo, bool extended) {
    volumeInfo.clear();
    auto missingTag = [&](const char* format, const char* tag) {
        logLine(KXSO::LOG_ERROR, format, tag);
        volumeInfo.clear();
        return ANF_RC_INVALID_RESPONSE;
    };
    constexpr const char* kMissingTop = "Failed to find tag [%s] in volume json object";
    constexpr const char* kMissingProperty =
        "Failed to find tag [%s] in volume/properties json object";

    for (const char* key : {"id", "name", "location"}) {
        if (!AnfJson::has<AnfJson::String>(volume, key)) {
            return missingTag(kMissingTop, key);
        }
    }
    if (!AnfJson::has<AnfJson::Object>(volume, "properties")) {
        return missingTag(kMissingTop, "properties");
    }
    const AnfJson::Value& properties = *AnfJson::member(volume, "properties");
    for (const char* key : {"fileSystemId", "creationToken"}) {
        if (!AnfJson::has<AnfJson::String>(properties, key)) {
            return missingTag(kMissingProperty, key);
        }
    }
    volumeInfo.rawPath = AnfJson::get<AnfJson::String>(volume, "id", "");
    volumeInfo.rawName = AnfJson::get<AnfJson::String>(volume, "name", "");
    volumeInfo.location = AnfJson::get<AnfJson::String>(volume, "location", "");
    volumeInfo.fileSystemId = AnfJson::get<AnfJson::String>(properties, "fileSystemId", "");
    volumeInfo.sharePath = AnfJson::get<AnfJson::String>(properties, "creationToken", "");

    if (!volumeInfo.parseRawPath()) {
        logLine(KXSO::LOG_ERROR, "Failed to parse info from volume uri [%s]",
                volumeInfo.rawPath.c_str());
        volumeInfo.clear();
        return ANF_RC_INVALID_RESPONSE;
    }
    if (!extended) {
        return ANF_RC_SUCCESS;
    }

    volumeInfo.subnetId = AnfJson::get<AnfJson::String>(properties, "subnetId", "");
    const long double quota =
        AnfJson::get<AnfJson::Number>(properties, "usageThreshold", kQuotaAbsent);
    volumeInfo.usageThreshold =
        quota == kQuotaAbsent ? KX_ANF_SNAP_CLONE_DEFAULT_SIZE : FXString::Format("%.0LF", quota);
    if (!AnfJson::has<AnfJson::Array>(properties, "mountTargets")) {
        return missingTag(kMissingProperty, "mountTargets");
    }
    // The volume's own mount targets replace whatever the record carried: a
    // clone record starts as a copy of its source volume, and its export path
    // must name the clone's address, not the source's.
    std::vector<AzureNetApp::MountInfo> mountTargets;
    for (const AnfJson::Value& target : *AnfJson::member(properties, "mountTargets")) {
        const std::string address = AnfJson::get<AnfJson::String>(target, "ipAddress", "");
        if (!address.empty()) {
            mountTargets.push_back({address});
        }
    }
    if (!AnfJson::has<AnfJson::Array>(properties, "protocolTypes")) {
        return missingTag(kMissingProperty, "protocolTypes");
    }
    const AnfJson::Value& protocols = *AnfJson::member(properties, "protocolTypes");
    if (!volumeInfo.protocolTypes.parseFromArray(protocols)) {
        logLine(KXSO::LOG_ERROR, "Failed to parse protocol types from response [%s]",
                AnfJson::text(protocols).c_str());
        volumeInfo.clear();
        return ANF_RC_INVALID_RESPONSE;
    }
    volumeInfo.mountTargets = std::move(mountTargets);
    return ANF_RC_SUCCESS;
}

int KXSnapAzureNetAppAPI::processDeleteVolume(int64_t code, const std::string&, std::string& link) {
    return processDeleteAnswer(code, "volume", link);
}

int KXSnapAzureNetAppAPI::rest_deleteVolume(AzureNetAppVolumeInfo& volumeInfo) {
    const char* name = volumeInfo.volumeName.c_str();
    logLine(KXSO::LOG_DETAIL, "Deleting volume [%s] ...", name);
    if (!HasAllCoordinates(volumeInfo)) {
        // An empty segment would make the request name something other than
        // the volume meant; a delete is never sent on a guess.
        resetRESTErr();
        error << "Refusing to delete volume [" << volumeInfo.volumeName
              << "]: its resource name is incomplete [" << volumeInfo.dump() << "]";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return ANF_RC_REST_CALL_FAILED;
    }
    const std::string path = VolumePath(ANF_API_CONST::AZURE_REST_DELETE_VOL_ENDPOINT, volumeInfo);

    const int result = deleteAndFollow(
        path, &KXSnapAzureNetAppAPI::processDeleteVolume,
        FXString::Format("Requested to delete volume [%s] successfully", name),
        ANF_API_CONST::ANF_OP_DELETE_CLONE);
    if (result != ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_INFO, "Failed to delete volume [%s]", name);
    } else {
        logLine(KXSO::LOG_INFO, "Deleted volume [%s] successfully", name);
    }
    logLine(KXSO::LOG_DETAIL, "Deleting volume [%s] status [%d]... - done", name, result);
    return result;
}

int KXSnapAzureNetAppAPI::rest_deleteClone(AzureNetAppVolumeInfo& volumeInfo) {
    return rest_deleteVolume(volumeInfo);
}
