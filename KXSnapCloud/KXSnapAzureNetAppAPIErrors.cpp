// Azure's errors in both shapes: Resource Manager's {"error": {"code",
// "message"}} and the metadata service's {"error", "error_description"}.
#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"

bool KXSnapAzureNetAppAPI::extractErrorMessage(const std::string& errorResponse, bool isMetadata) {
    if (isMetadata) {
        return extractMetadataErrorMessage(errorResponse);
    }
    restError.clear();
    // A response without an error object must not leave an older error behind
    // for the caller to act on (a stale "NotFound" would turn a failure into
    // "already gone").
    azureError.clear();
    AnfJson::Value document;
    if (!AnfJson::parse(errorResponse, document)) {
        restError << "Failed to parse response as JSON. Response [" << errorResponse << "]";
        return false;
    }
    if (!AnfJson::has<AnfJson::Object>(document, "error")) {
        restError << "\"error\" tag not found in REST error response";
        logLine(KXSO::LOG_ERROR, "Invalid REST error response. %s", restError.str().c_str());
        return false;
    }
    if (!azureError.fromJsonObj(*AnfJson::member(document, "error"), false)) {
        restError << "\"code\"  and \"message\" tag not found in REST error response";
        logLine(KXSO::LOG_ERROR, "Invalid REST error response. %s", restError.str().c_str());
        return false;
    }
    restError << azureError.toString();
    return true;
}

bool KXSnapAzureNetAppAPI::extractMetadataErrorMessage(const std::string& errorResponse) {
    restError.clear();
    azureError.clear();
    AnfJson::Value document;
    if (!AnfJson::parse(errorResponse, document)) {
        logLine(KXSO::LOG_ERROR, "Invalid REST error response. %s", restError.str().c_str());
        return false;
    }
    if (!azureError.fromJsonObj(document, true)) {
        restError << "\"error\"  and \"error_description\" tag not found in REST error response";
        logLine(KXSO::LOG_ERROR, "Invalid REST error response. %s", restError.str().c_str());
        return false;
    }
    restError << azureError.toString();
    return true;
}

std::string KXSnapAzureNetAppAPI::getJSONStringFromJSONKeyValMap(
    const AnfJson::KeyValueMap& members, const std::string& key, const std::string& fallback) {
    const auto found = members.find(key);
    if (found == members.end() || !found->second.is_string()) {
        return fallback;
    }
    return found->second.get<std::string>();
}
