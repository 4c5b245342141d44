// What the resource operations share: status links, HTTP statuses, the
// failed-send pattern, and turning Azure's resource ids into request paths.
#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "platform/FXString.h"

namespace {

constexpr const char* kSubscriptionsPrefix = "/subscriptions/";

bool IsNotFoundCode(const std::string& code, bool anyNotFoundCode) {
    if (!anyNotFoundCode) {
        return code == "ResourceNotFound";
    }
    // A resource whose parent (volume, pool or account) is gone is gone too.
    return FXString::EqualsNoCase(code, "ResourceNotFound") ||
           FXString::EqualsNoCase(code, "HttpStatusCode") ||
           FXString::EqualsNoCase(code, "NotFound") ||
           FXString::EqualsNoCase(code, "ParentResourceNotFound");
}

}  // namespace

using ANF_API_CONST::ANF_RC_SUCCESS;

std::string KXSnapAzureNetAppAPI::asyncOperationLink() {
    asyncLinkRefused = false;
    std::string line;
    if (!restClient ||
        !restClient->getResponseHeader(ANF_API_CONST::ANF_HDR_ASYNC_OPERATION, line)) {
        return "";
    }
    // The client hands back the whole header line; only its value is the link.
    const std::string name = ANF_API_CONST::ANF_HDR_ASYNC_OPERATION;
    if (line.size() >= name.size() && FXString::EqualsNoCase(line.substr(0, name.size()), name)) {
        line.erase(0, name.size());
    }
    const std::string link = processAsyncURL(line);
    asyncLinkRefused = link.empty() && !FXString::Trim(line, " \r\n").empty();
    return link;
}

int64_t KXSnapAzureNetAppAPI::lastHttpStatus() const {
    return restClient ? restClient->getHttpErrorCode() : 0;
}

int KXSnapAzureNetAppAPI::failedSend(int code) {
    extractErrorMessage(response, false);
    logLine(KXSO::LOG_ERROR, "%d-{%s}-url-[%s]", code, restError.str().c_str(),
            requestPath.c_str());
    return code;
}

bool KXSnapAzureNetAppAPI::isNotFoundAnswer(bool anyNotFoundCode) const {
    return lastHttpStatus() == 404 && IsNotFoundCode(azureError.code, anyNotFoundCode);
}

int KXSnapAzureNetAppAPI::monitorDelete(const std::string& link, int opKind) {
    AzureNetApp::AzureAsyncOpInfo operation;
    operation.asyncOpUrl = link;
    const int result = monitorSnapOpProgress(operation, opKind);
    // Monitoring already read a failed operation's error; reading the last
    // answer again would only repeat it (or, for an operation that never
    // ended, add a complaint about a status document that has no error).
    if (result != ANF_RC_SUCCESS && restError.str().empty() && error.str().empty()) {
        extractErrorMessage(response, false);
    }
    return result;
}

int KXSnapAzureNetAppAPI::deleteAndFollow(const std::string& path, DeleteAnswerHandler handler,
                                          const std::string& acceptedLine, int opKind) {
    int result = ANF_API_CONST::ANF_RC_SUCCESS;
    if (!sendRESTRequest(KXSnapRESTAPI_ANF::REQ_DELETE, path, "", false)) {
        result = failedSend(ANF_API_CONST::ANF_RC_REST_CALL_FAILED);
        // A resource that is already gone is what a delete wants; without
        // this one removed behind our back could never be retired.
        if (isNotFoundAnswer(true)) {
            result = ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND;
        }
    } else {
        std::string link;
        const int handled = (this->*handler)(lastHttpStatus(), response, link);
        if (handled == ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED) {
            logLine(KXSO::LOG_INFO, "%s", acceptedLine.c_str());
            result = monitorDelete(link, opKind);
        } else if (handled != ANF_API_CONST::ANF_RC_SUCCESS) {
            result = ANF_API_CONST::ANF_RC_REST_CALL_FAILED;
            logLine(KXSO::LOG_ERROR, "%d-{%s}-url-[%s]", result, restError.str().c_str(),
                    requestPath.c_str());
        }
    }
    if (result != ANF_API_CONST::ANF_RC_SUCCESS && restError.str().empty()) {
        extractErrorMessage(response, false);
    }
    return result;
}

std::string KXSnapAzureNetAppAPI::resourceRequestPath(const std::string& resourceId) {
    return FXString::TrimLeft(resourceId, "/");
}

bool KXSnapAzureNetAppAPI::isSafeResourceId(const std::string& resourceId) {
    if (!FXString::StartsWith(resourceId, kSubscriptionsPrefix)) {
        return false;
    }
    for (const char c : resourceId) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f || c == '?' || c == '#' || c == '\\') {
            return false;
        }
    }
    return true;
}

std::string KXSnapAzureNetAppAPI::deviceLabel(const AzureNetApp::KxSnapANFSnapObj& snapObj) {
    return snapObj.deviceName.empty() ? snapObj.snapshotInfo.volumeName : snapObj.deviceName;
}

// Snapshot and volume deletes share one status table; only the word in the
// log line differs.
int KXSnapAzureNetAppAPI::processDeleteAnswer(int64_t code, const char* what, std::string& link) {
    link = asyncOperationLink();
    if (asyncLinkRefused) {
        return ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
    }
    switch (code) {
        case 200:
            return ANF_API_CONST::ANF_RC_SUCCESS;
        case 204:
            logLine(KXSO::LOG_INFO,
                    "ANF delete operation returned status [%ld], %s is missing - marking op "
                    "as successfull",
                    static_cast<long>(code), what);
            return ANF_API_CONST::ANF_RC_SUCCESS;
        case 202:
            if (!link.empty()) {
                return ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED;
            }
            error << FXString::Format(
                "ANF delete operation returned status code [%ld], but didn't send async "
                "operation link. Failing operation.",
                static_cast<long>(code));
            logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
            return ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
        case 201:
            return ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
        default:
            error << FXString::Format(
                "ANF delete operation returned invalid status code[%ld]. Failing operation.",
                static_cast<long>(code));
            logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
            return ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
    }
}

// Snapshot creations and volume creations (clones, and reverts, which are
// answered alike) share one status table; only the word in the texts differs.
void KXSnapAzureNetAppAPI::noteRejectedAnswer(const char* api, int64_t status) {
    if (error.str().empty()) {
        error << "Failed to parse response from " << api << " API. Status Code["
              << static_cast<long>(status) << "]";
    }
}

int KXSnapAzureNetAppAPI::processCreateAnswer(int64_t code, const char* what, std::string& link) {
    link = asyncOperationLink();
    if (asyncLinkRefused) {
        return ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
    }
    switch (code) {
        case 201:
            // Created at once, or accepted with a link to follow.
            return link.empty() ? ANF_API_CONST::ANF_RC_SUCCESS
                                : ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED;
        case 202:
            if (!link.empty()) {
                return ANF_API_CONST::ANF_RC_ASYNC_OP_ACCEPTED;
            }
            error << FXString::Format(
                "ANF %s operation returned status code [%ld] (Accepted), but didn't send "
                "async operation link. Failing operation.",
                what, static_cast<long>(code));
            logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
            return ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
        case 200:
        case 204:
            return ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
        default:
            error << FXString::Format(
                "ANF create %s operation returned invalid status code[%ld]. Failing "
                "operation.",
                what, static_cast<long>(code));
            logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
            return ANF_API_CONST::ANF_RC_INVALID_RESPONSE;
    }
}
