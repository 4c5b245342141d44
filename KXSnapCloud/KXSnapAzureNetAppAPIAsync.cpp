// Azure asynchronous operations: the status link of an accepted request and
// the polling loop that follows it to its end.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "KXSnapCloud/KXSnapAzureNetAppEndpoints.h"
#include "platform/FXString.h"
#include "platform/UXSleep.h"

namespace {

constexpr const char* kMonitorTag = "KXSnapAzureNetAppAPI";
constexpr const char* kStatusSucceeded = "Succeeded";
constexpr const char* kStatusFailed = "Failed";

bool IsDeleteOperation(int opKind) {
    return opKind == ANF_API_CONST::ANF_OP_DELETE_SNAP ||
           opKind == ANF_API_CONST::ANF_OP_DELETE_CLONE;
}

bool IsResourceGone(const std::string& errorCode) {
    return FXString::EqualsNoCase(errorCode, "ResourceNotFound") ||
           FXString::EqualsNoCase(errorCode, "NotFound");
}

// Azure's number as the record's float; a value beyond float's range (only a
// hostile answer has one) is clamped rather than converted undefinedly.
float PercentAsFloat(long double percent) {
    constexpr long double kLargest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(percent, -kLargest, kLargest));
}

}  // namespace

using ANF_API_CONST::ANF_RC_ASYNC_OP_FAILED;
using ANF_API_CONST::ANF_RC_ASYNC_OP_TIMED_OUT;
using ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
using ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND;
using ANF_API_CONST::ANF_RC_REST_CALL_FAILED;
using ANF_API_CONST::ANF_RC_SUCCESS;

std::string KXSnapAzureNetAppAPI::processAsyncURL(const std::string& url) {
    std::string link = FXString::Trim(url, " \r\n");
    const std::string header = ANF_API_CONST::ANF_HDR_ASYNC_OPERATION;
    if (link.size() >= header.size() &&
        FXString::EqualsNoCase(link.substr(0, header.size()), header)) {
        link = FXString::Trim(link.substr(header.size()), " \r\n");
    }
    if (link.find("://") == std::string::npos) {
        return link;  // already a path on the management endpoint
    }
    std::string path;
    if (managementRequestPath(link, path)) {
        return path;
    }
    // Grafted onto our base it would address something else; followed as it
    // is it would take our token elsewhere.
    error << "Refusing to follow the operation link [" << link
          << "]: it is not on the management endpoint [" << AzureNetApp::managementBaseUrl()
          << "].";
    logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
    return "";
}

int KXSnapAzureNetAppAPI::rest_getAsyncOpDetails(const std::string& url, std::string& opResponse) {
    // The monitor's loop is the retry: one attempt per poll.
    if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_GET, url, "", false, false)) {
        opResponse = response;
        extractErrorMessage(opResponse, false);
        logLine(KXSO::LOG_ERROR, "%d-{%s}-url-[%s]", -1, restError.str().c_str(), url.c_str());
        return ANF_RC_REST_CALL_FAILED;
    }
    opResponse = response;
    return ANF_RC_SUCCESS;
}

int KXSnapAzureNetAppAPI::processGetAsyncOpDetailsResp(const std::string& opResponse,
                                                       AzureNetApp::AzureAsyncOpInfo& asyncOp) {
    AnfJson::Value document;
    if (!AnfJson::parse(opResponse, document)) {
        logLine(KXSO::LOG_ERROR, "Failed to parse response as JSON. Response [%s]",
                opResponse.c_str());
        return ANF_RC_INVALID_RESPONSE;
    }
    asyncOp.status = AnfJson::get<AnfJson::String>(document, "status", "");
    asyncOp.percentComplete =
        PercentAsFloat(AnfJson::get<AnfJson::Number>(document, "percentComplete", -1));
    asyncOp.startTime = AnfJson::get<AnfJson::String>(document, "startTime", "");
    asyncOp.endTime = AnfJson::get<AnfJson::String>(document, "endTime", "");
    if (AnfJson::has<AnfJson::Object>(document, "properties")) {
        asyncOp.resourceName = AnfJson::get<AnfJson::String>(
            *AnfJson::member(document, "properties"), "resourceName", "");
    }
    return asyncOp.status.empty() ? ANF_RC_INVALID_RESPONSE : ANF_RC_SUCCESS;
}

int KXSnapAzureNetAppAPI::monitorSnapOpProgress(AzureNetApp::AzureAsyncOpInfo& asyncOp,
                                                int opKind) {
    const int maxRetry = retryCount;
    const int interval = retryInterval;
    logLine(KXSO::LOG_DETAIL,
            "Azure async operation monitoring - Configs : Max Retry [%d], Sleep Interval in sec "
            "[%d]",
            maxRetry, interval);
    int rc = -1;
    std::string opResponse;
    bool failed = false;
    // At most maxRetry - 1 polls: the first try counts as the one that
    // started the operation.
    for (int attempt = 1; attempt < maxRetry; ++attempt) {
        logTagged(KXSO::LOG_DETAIL, kMonitorTag, "Monitoring Azure async operation - try [%d/%d]",
                  attempt, maxRetry);
        rc = rest_getAsyncOpDetails(asyncOp.asyncOpUrl, opResponse);
        if (rc != ANF_RC_SUCCESS) {
            logLine(KXSO::LOG_ERROR,
                    "Failure when trying to get async operation details - retrying");
            continue;
        }
        rc = processGetAsyncOpDetailsResp(opResponse, asyncOp);
        if (rc != ANF_RC_SUCCESS || asyncOp.status.empty()) {
            rc = rc != ANF_RC_SUCCESS ? rc : ANF_RC_INVALID_RESPONSE;
            logLine(KXSO::LOG_ERROR,
                    "Failure when trying to parse async operation details - retrying");
            continue;
        }
        if (asyncOp.status == kStatusSucceeded) {
            logLine(KXSO::LOG_INFO, "Azure async operation succeeded.");
            return ANF_RC_SUCCESS;
        }
        if (asyncOp.status == kStatusFailed) {
            failed = true;
            break;
        }
        logLine(KXSO::LOG_INFO, "Azure async operation status [%s] , progress [%f]",
                asyncOp.status.c_str(), static_cast<double>(asyncOp.percentComplete));
        rc = ANF_RC_ASYNC_OP_TIMED_OUT;
        const uint64_t seconds = interval > 0 ? static_cast<uint64_t>(interval) : 0;
        UXSLEEP_InTeRnAl(seconds * 1000, __FILE__, __LINE__);
    }
    if (!failed) {
        error << "Azure async operation did not complete in time. Last Status [" << asyncOp.status
              << "]";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        logLine(KXSO::LOG_DETAIL,
                "Azure async operation monitoring - End (exhausted retry) Status [%d]", rc);
        return rc;
    }
    logLine(KXSO::LOG_ERROR, "Azure async operation failed.");
    // Fills azureError (and restError) from the operation's "error" object.
    extractErrorMessage(opResponse, false);
    if (IsDeleteOperation(opKind) && IsResourceGone(azureError.code)) {
        logLine(KXSO::LOG_ERROR, "The resource [%s] doesn't exist.", asyncOp.resourceName.c_str());
        return ANF_RC_RESOURCE_NOT_FOUND;
    }
    return ANF_RC_ASYNC_OP_FAILED;
}
