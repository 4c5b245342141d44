// Request sending: the URL is assembled from the request record, the
// operation code picks the method, the extra header and the follow-up poll.
#include <string>

#include "KxSnapAzureAPI.h"
#include "platform/FXString.h"
#include "platform/KXFanOut.h"
#include "platform/KXLibCurl.h"
#include "platform/KXRetryPolicy.h"
#include "platform/KXSecretMask.h"
#include "platform/KXUrl.h"

namespace {

enum class FollowUp { kNone, kProvisioningPoll, kProvisioningPollIfNoPostPhase, kAsyncPoll };

struct OperationTraits {
    int method;
    FollowUp followUp;
};

// What each operation code sends. False for a code no request belongs to.
bool TraitsOf(AzureOperation operation, OperationTraits& traits) {
    switch (operation) {
        case AZURE_OP_GET_TOKEN:
        case AZURE_OP_GET:
        case AZURE_OP_GET_SNAPSHOT:
        case AZURE_OP_GET_INSTANCE_METADATA:
        case AZURE_OP_GET_VM_INFO:
        case AZURE_OP_GET_RESOURCE_INFO:
        case AZURE_OP_GET_ASYNC_STATUS:
            traits = {HTTP_REQ_GET, FollowUp::kNone};
            return true;
        case AZURE_OP_DELETE_SNAPSHOT:
        case AZURE_OP_DELETE_DISK:
        case AZURE_OP_DELETE_RESOURCE:
            traits = {HTTP_REQ_DELETE, FollowUp::kNone};
            return true;
        case AZURE_OP_CREATE_SNAPSHOT:
            traits = {HTTP_REQ_PUT, FollowUp::kProvisioningPollIfNoPostPhase};
            return true;
        case AZURE_OP_PUT_WITH_PROVISIONING:
        case AZURE_OP_CREATE_DISK:
            traits = {HTTP_REQ_PUT, FollowUp::kProvisioningPoll};
            return true;
        case AZURE_OP_DETACH_DISK:
        case AZURE_OP_ATTACH_DISK:
            traits = {HTTP_REQ_PUT, FollowUp::kAsyncPoll};
            return true;
    }
    return false;
}

bool NeedsMetadataHeader(AzureOperation operation) {
    return operation == AZURE_OP_GET_TOKEN || operation == AZURE_OP_GET_INSTANCE_METADATA;
}

bool AnswersWithAsyncUrl(AzureOperation operation) {
    return operation == AZURE_OP_ATTACH_DISK || operation == AZURE_OP_DETACH_DISK;
}

// A VM update carries the whole data-disk list as read before it: sent again
// after a lost answer it could undo a change made in between, so it goes out
// once and its caller re-reads the VM instead.
KXRetry::Replay ReplayOf(int method, AzureOperation operation, bool withRetry) {
    if (!withRetry || AnswersWithAsyncUrl(operation)) {
        return KXRetry::Replay::Never;
    }
    return KXRetry::DefaultReplay(method);
}

bool IsHttps(const std::string& url) {
    return KXUrl::OriginOf(url).scheme == "https";
}

constexpr const char* kAsyncOperationHeader = "Azure-AsyncOperation:";
constexpr size_t kAsyncOperationHeaderLength = 21;  // "Azure-AsyncOperation:"
constexpr const char* kSecretMask = "***";

}  // namespace

std::string KxSnapAzureAPI::ConvertHttpReqToString(int method) {
    switch (method) {
        case HTTP_REQ_GET:
            return "GET";
        case HTTP_REQ_POST:
            return "POST";
        case HTTP_REQ_PUT:
            return "PUT";
        case HTTP_REQ_DELETE:
            return "DEL";
        default:
            return "";
    }
}

CUxError KxSnapAzureAPI::FormRESTURLRequest(const AzureAPIRequest& request, std::string& url) {
    url = request.baseUrl + request.resourcePath + request.leaf + "?";
    for (const std::string& param : request.queryParams) {
        url += param + "&";
    }
    if (!url.empty() && url.back() == '&') {
        url.pop_back();
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::SendRESTURLRequest(const AzureAPIRequest& request, const std::string& body,
                                            std::string& response) {
    std::string url;
    lastPutAccepted = false;
    CUxError err = FormRESTURLRequest(request, url);
    OperationTraits traits{};
    if (err || !TraitsOf(request.operation, traits)) {
        return err;
    }
    if (traits.method == HTTP_REQ_GET) {
        err = SendGetRequest(url, request.operation, response);
    } else if (traits.method == HTTP_REQ_DELETE) {
        err = SendRequest(HTTP_REQ_DELETE, url, "", request.operation, response);
    } else {
        err = SendRequest(HTTP_REQ_PUT, url, body, request.operation, response);
        // A 2xx status line means Azure took the request, even when the
        // answer was then cut off.
        lastPutAccepted = !err || (GetLastHttpStatus() >= 200 && GetLastHttpStatus() < 300);
        const bool provisioningPoll =
            traits.followUp == FollowUp::kProvisioningPoll ||
            (traits.followUp == FollowUp::kProvisioningPollIfNoPostPhase &&
             disablePostCreateSnapPhase);
        if (!err && provisioningPoll) {
            err = PollForResourceProvisioningState(request.operation, url, response);
        } else if (!err && traits.followUp == FollowUp::kAsyncPoll) {
            const std::string statusUrl = response;
            err = PollForAsyncOperation(statusUrl, response);
        }
    }
    if (err) {
        err.Push(FXCODE_LOCATION());
    }
    return err;
}

CUxError KxSnapAzureAPI::SendGetRequest(const std::string& url, AzureOperation operation,
                                        std::string& response, bool withRetry) {
    return SendRequest(HTTP_REQ_GET, url, "", operation, response, withRetry);
}

// The management token goes to the management endpoint in force and nowhere
// else: a link Azure handed us (operation status, Location) that names
// another origin is refused rather than followed with the token.
CUxError KxSnapAzureAPI::CheckRequestTarget(AzureOperation operation, const std::string& url) const {
    if (NeedsMetadataHeader(operation) || KXUrl::SameOrigin(url, managementEndpoint)) {
        return CUxError::Success();
    }
    return FXErrorUtil::ErrorErrNo(
        FXCODE_LOCATION(), AZURE_ERR_GENERAL,
        "Refusing to send a Resource Manager request to [%s]: it is not on the management "
        "endpoint [%s]",
        KXSecretMask::Mask(url).c_str(), managementEndpoint.c_str());
}

CUxError KxSnapAzureAPI::SetRequestHeaders(AzureOperation operation, const std::string& url) {
    curl->KXLibCurlFreeHttpHeaderList();
    const char* failure = nullptr;
    // The metadata service never needs the token, and plain HTTP never carries it.
    const bool withToken =
        !NeedsMetadataHeader(operation) && !accessToken.access_token.empty() && IsHttps(url);
    if (NeedsMetadataHeader(operation) && !curl->KXLibCurlAppendHeader(0, "Metadata: true")) {
        failure = "Failed to set header Metadata: true";
    } else if (withToken &&
               !curl->KXLibCurlAppendHeader(0,
                                            "authorization: Bearer " + accessToken.access_token)) {
        failure = "Failed to set header authorization";
    } else if (!curl->KXLibCurlSetAdditionalOptionsIntValue(CURLOPT_NOSIGNAL, 1L)) {
        failure = "Failed to set curl option CURLOPT_NOSIGNAL";
    } else if (!curl->KXLibCurlAppendHeader(0, HTTP_HEADER_ACCEPT_JSON)) {
        failure = "Failed to set header HTTP_HEADER_ACCEPT_JSON";
    } else if (!curl->KXLibCurlAppendHeader(0, HTTP_CONTENT_TYPE_JSON)) {
        failure = "Failed to set header HTTP_CONTENT_TYPE_JSON";
    }
    if (failure != nullptr) {
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s", failure);
    }
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::TakeAsyncOperationUrl(const KXFanOut::Answer& answer,
                                               std::string& response) {
    const char* header = answer.Header(kAsyncOperationHeader);
    if (header == nullptr) {
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                       "Failed to find async operation URL in the response");
    }
    const std::string link =
        FXString::Trim(FXString::RemoveLeft(header, kAsyncOperationHeaderLength), " \r\n");
    if (!KXUrl::SameOrigin(link, managementEndpoint)) {
        return FXErrorUtil::ErrorErrNo(
            FXCODE_LOCATION(), AZURE_ERR_GENERAL,
            "Refusing to follow the operation link [%s]: it is not on the management endpoint "
            "[%s]",
            KXSecretMask::Mask(link).c_str(), managementEndpoint.c_str());
    }
    response = link;
    Log(0, "Poll Azure operation on [%s]", response.c_str());
    return CUxError::Success();
}

// The token answer carries the bearer token: it is logged with its secrets
// masked, and not at all when it cannot be read.
std::string KxSnapAzureAPI::TextSafeToLog(AzureOperation operation,
                                          const std::string& response) const {
    if (operation != AZURE_OP_GET_TOKEN) {
        return response;
    }
    KxJson::Value document;
    if (!KxJson::TryUnserialize(response, document) || !document.is_object()) {
        return kSecretMask;
    }
    for (const char* secret : {"access_token", "refresh_token", "id_token"}) {
        if (document.contains(secret)) {
            document[secret] = kSecretMask;
        }
    }
    return KxJson::Serialize(document);
}

CUxError KxSnapAzureAPI::PrepareRequest(int method, const std::string& url, const std::string& body,
                                        AzureOperation operation, bool withRetry,
                                        KXFanOut::Request& request) {
    request = KXFanOut::Request();
    CUxError err = CheckRequestTarget(operation, url);
    if (err) {
        Log(2, "%s", err.Message().c_str());
        return err;
    }
    // The metadata service never needs the token, and plain HTTP never carries it.
    const bool withToken =
        !NeedsMetadataHeader(operation) && !accessToken.access_token.empty() && IsHttps(url);
    if (NeedsMetadataHeader(operation)) {
        request.headers.push_back("Metadata: true");
    }
    if (withToken) {
        request.headers.push_back("authorization: Bearer " + accessToken.access_token);
    }
    request.headers.push_back(HTTP_HEADER_ACCEPT_JSON);
    request.headers.push_back(HTTP_CONTENT_TYPE_JSON);
    request.method = method;
    request.url = url;
    request.body = body;
    request.retry.method = method;
    request.retry.replay = ReplayOf(method, operation, withRetry);
    request.retry.metadataToken = operation == AZURE_OP_GET_TOKEN;
    Log(0, "Sending [%s] url [%s] body [%s]", ConvertHttpReqToString(method).c_str(), url.c_str(),
        body.c_str());
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::TakeAnswer(int method, const std::string& url, AzureOperation operation,
                                    const KXFanOut::Answer& answer, std::string& response) {
    if (!answer.Ok()) {
        if (method == HTTP_REQ_DELETE && answer.status == 404) {
            Log(1, "Ignore 404 error on DELETE operation. Object NOT found [%s]", url.c_str());
            return CUxError::Success();
        }
        // The client keeps only the start of an error body; what Azure may
        // echo of our credentials is masked before it becomes an error text.
        response = MaskSecrets(FXString::Format(
            "http resp: [%s] curl error: [%s]",
            KXSecretMask::Cut(TextSafeToLog(operation, answer.body)).c_str(),
            answer.errorText.c_str()));
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                       response.c_str());
    }
    if (answer.hasBody) {
        response = answer.body;
    } else {
        response.clear();
    }
    if (AnswersWithAsyncUrl(operation)) {
        CUxError err = TakeAsyncOperationUrl(answer, response);
        if (err) {
            return err;
        }
    }
    Log(0, "Received [%s] reponse [%s]", ConvertHttpReqToString(method).c_str(),
        TextSafeToLog(operation, response).c_str());
    return CUxError::Success();
}

const KXRetry::Policy& KxSnapAzureAPI::RetryPolicy() {
    if (!retryPolicy) {
        retryPolicy = KXRetry::Policy::FromSettings();
    }
    return *retryPolicy;
}

CUxError KxSnapAzureAPI::SendRequest(int method, const std::string& url, const std::string& body,
                                     AzureOperation operation, std::string& response,
                                     bool withRetry) {
    if (!curl) {
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                       "Failed to Initialize Curl Library");
    }
    CUxError err = CheckRequestTarget(operation, url);
    if (!err) {
        err = SetRequestHeaders(operation, url);
    }
    if (err) {
        Log(2, "%s", err.Message().c_str());
        return err;
    }
    KXFanOut::Request request;
    err = PrepareRequest(method, url, body, operation, withRetry, request);
    if (err) {
        return err;
    }
    KXRetry::Send(*curl, request.retry, url, body.empty() ? nullptr : body.c_str(), body.size(),
                  RetryPolicy(), [this](const std::string& line) { Log(1, "%s", line.c_str()); });
    return TakeAnswer(method, url, operation, KXFanOut::Answer::Of(*curl), response);
}

CUxError KxSnapAzureAPI::PrepareRequest(const AzureAPIRequest& apiRequest, const std::string& body,
                                        KXFanOut::Request& request) {
    std::string url;
    OperationTraits traits{};
    CUxError err = FormRESTURLRequest(apiRequest, url);
    if (!err && !TraitsOf(apiRequest.operation, traits)) {
        err = FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL,
                                      "No request belongs to operation [%d]",
                                      static_cast<int>(apiRequest.operation));
    }
    if (!err) {
        err = PrepareRequest(traits.method, url, traits.method == HTTP_REQ_PUT ? body : "",
                             apiRequest.operation, true, request);
    }
    return err ? err.Push(FXCODE_LOCATION()) : err;
}

CUxError KxSnapAzureAPI::TakeAnswer(const AzureAPIRequest& apiRequest,
                                    const KXFanOut::Answer& answer, std::string& response) {
    std::string url;
    FormRESTURLRequest(apiRequest, url);
    OperationTraits traits{};
    TraitsOf(apiRequest.operation, traits);
    CUxError err = TakeAnswer(traits.method, url, apiRequest.operation, answer, response);
    return err ? err.Push(FXCODE_LOCATION()) : err;
}
