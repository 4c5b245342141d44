// Sending a request and reading its answer, and keeping secrets out of the log.
#include <algorithm>
#include <cstdarg>

#include "KXSnapCloud/KXSnapRESTAPI_ANF.h"
#include "platform/KXLibCurl.h"
#include "platform/KXRetryPolicy.h"
#include "platform/KXSecretMask.h"

void KXSnapRESTAPI_ANF::maskSensitiveDetails(const std::string& in, std::string& out) const {
    // accessToken is the whole header value ("Bearer " + token); the token
    // is the secret wherever it appears.
    const size_t blank = accessToken.find(' ');
    const std::string token =
        blank == std::string::npos ? accessToken : accessToken.substr(blank + 1);
    out = KXSecretMask::Mask(in, {token, userPswd});
}

bool KXSnapRESTAPI_ANF::get(const std::string& path, const std::string& body, std::string& response,
                            bool meta, bool retry) {
    return sendReq(REQ_GET, path, body, response, meta, retry);
}

bool KXSnapRESTAPI_ANF::post(const std::string& path, const std::string& body,
                             std::string& response, bool meta) {
    return sendReq(REQ_POST, path, body, response, meta);
}

bool KXSnapRESTAPI_ANF::put(const std::string& path, const std::string& body, std::string& response,
                            bool meta) {
    return sendReq(REQ_PUT, path, body, response, meta);
}

bool KXSnapRESTAPI_ANF::del(const std::string& path, const std::string& body, std::string& response,
                            bool meta) {
    return sendReq(REQ_DELETE, path, body, response, meta);
}

bool KXSnapRESTAPI_ANF::patch(const std::string& path, const std::string& body,
                              std::string& response, bool meta) {
    return sendReq(REQ_PATCH, path, body, response, meta);
}

int KXSnapRESTAPI_ANF::clientMethod(int type) {
    switch (type) {
        case REQ_GET:
            return HTTP_REQ_GET;
        case REQ_POST:
            return HTTP_REQ_POST;
        case REQ_PUT:
            return HTTP_REQ_PUT;
        case REQ_DELETE:
            return HTTP_REQ_DELETE;
        case REQ_PATCH:
            // The client numbers HEAD 4; PATCH is its 5.
            return HTTP_REQ_PATCH;
        default:
            return -1;
    }
}

const KXRetry::Policy& KXSnapRESTAPI_ANF::activeRetryPolicy() {
    if (!retryPolicy) {
        retryPolicy = KXRetry::Policy::FromSettings();
    }
    return *retryPolicy;
}

bool KXSnapRESTAPI_ANF::readyToSend(bool meta) {
    // connect() lets its own token request through before the transport is connected.
    if (!connecting && !(initialized && connected)) {
        logLine(KXSO::LOG_ERROR,
                "Error:Connect module has to be called before making any queries.");
        return false;
    }
    if (meta) {
        logLine(KXSO::LOG_DETAIL, "**  Meta REST call  **");
    }
    return true;
}

bool KXSnapRESTAPI_ANF::sendReq(int type, const std::string& path, const std::string& body,
                                std::string& response, bool meta, bool retry) {
    response.clear();
    httpErrorCode = 0;
    takenAnswer.reset();
    if (!readyToSend(meta)) {
        return false;
    }
    std::string url;
    formUrlPath(path, url, meta);
    // A header that could not be set is logged there; the request still goes
    // out and Azure's answer says what was missing.
    setCommonCurlHeaders(meta);
    const int method = clientMethod(type);
    if (method < 0) {
        logLine(KXSO::LOG_ERROR, "Unsupported request type [%d]", type);
        return false;
    }
    const bool sent = sendToClient(method, url, body, meta, retry);
    httpErrorCode = curl->GetHttpErrorCode();
    size_t length = 0;
    const char* answer = curl->GetHttpResponse(length, false);
    readResponse(url, body, answer, length, response);
    return sent;
}

bool KXSnapRESTAPI_ANF::sendToClient(int method, const std::string& url, const std::string& body,
                                     bool meta, bool retry) {
    KXRetry::Request request;
    request.method = method;
    request.replay = retry ? KXRetry::DefaultReplay(method) : KXRetry::Replay::Never;
    // connect()'s own request is the managed-identity token request.
    request.metadataToken = meta && connecting;
    const KXRetry::Policy& policy = activeRetryPolicy();
    const KXRetry::LogSink log = [this](const std::string& line) {
        logLine(KXSO::LOG_INFO, "%s", line.c_str());
    };
    const char* bytes = body.empty() ? nullptr : body.c_str();
    if (KXRetry::Send(*curl, request, url, bytes, body.size(), policy, log)) {
        return true;
    }
    logFailedRequest(url, body);
    return false;
}

void KXSnapRESTAPI_ANF::logFailedRequest(const std::string& url, const std::string& body) const {
    if (!body.empty()) {
        std::string maskedBody;
        maskSensitiveDetails(body, maskedBody);
        logLine(KXSO::LOG_ERROR, "Error while processing the request. URL[%s] Request[%s]",
                url.c_str(), maskedBody.c_str());
        return;
    }
    logLine(KXSO::LOG_ERROR, "Error while processing the request. URL[%s]", url.c_str());
}

void KXSnapRESTAPI_ANF::readResponse(const std::string& url, const std::string& body,
                                     const char* bytes, size_t length, std::string& response) {
    if (bytes != nullptr && length != 0) {
        response.assign(bytes, length);
    } else if (logging) {
        std::string maskedBody;
        maskSensitiveDetails(body, maskedBody);
        logLine(KXSO::LOG_ERROR, "Empty response received for request. URL[%s] Request[%s]",
                url.c_str(), maskedBody.c_str());
    }
    if (logging) {
        std::string maskedResponse;
        maskSensitiveDetails(response, maskedResponse);
        logLine(KXSO::LOG_DETAIL, "Response for URL [%s] : <<%s>>", url.c_str(),
                maskedResponse.c_str());
    }
}
