// The client's state, its transport and the managed-identity token.
#include <cstdarg>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "KXSnapCloud/KXSnapAzureNetAppEndpoints.h"
#include "platform/FXString.h"
#include "platform/KXSecretMask.h"
#include "src/KXSORecordLog.h"

namespace {
constexpr const char* kTag = "KXSnapAzureNetapp";
}  // namespace

using ANF_API_CONST::ANF_RC_ASYNC_OP_FAILED;
using ANF_API_CONST::ANF_RC_SUCCESS;
using ANF_API_CONST::ANF_RC_TOKEN_NOT_OBTAINED;

KXSnapAzureNetAppAPI::KXSnapAzureNetAppAPI(KXSO::SnapInfo* snapInfo) {
    if (snapInfo != nullptr) {
        logger = snapInfo;
    }
}

KXSnapAzureNetAppAPI::~KXSnapAzureNetAppAPI() = default;

bool KXSnapAzureNetAppAPI::enableLogging() {
    if (logger == nullptr) {
        return false;
    }
    logging = true;
    return true;
}

bool KXSnapAzureNetAppAPI::setConfigs(const AzureNetApp::ANFArrayConfigs& configs) {
    if (configs.retryCount > 0) {
        retryCount = configs.retryCount;
    }
    if (configs.retryInterval > 0) {
        retryInterval = configs.retryInterval;
    }
    if (configs.diagnosticLogging) {
        enableLogging();
    }
    return true;
}

std::string KXSnapAzureNetAppAPI::getErrorString() const {
    return error.str();
}

std::string KXSnapAzureNetAppAPI::getRESTErrorString() const {
    return restError.str();
}

std::string KXSnapAzureNetAppAPI::getErrorDetailString() const {
    return errorDetail.str();
}

void KXSnapAzureNetAppAPI::resetRESTErr() {
    restError.str("");
    restError.clear();
    error.str("");
    error.clear();
    errorDetail.str("");
    errorDetail.clear();
}

bool KXSnapAzureNetAppAPI::rest_initializeClient() {
    if (!restClient) {
        restClient = std::make_unique<KXSnapRESTAPI_ANF>();
        restClient->setLogger(logger);
    }
    restClient->reset();
    restClient->setBasePath(AzureNetApp::managementBaseUrl());
    restClient->setMetaBasePath(AzureNetApp::metadataBasePath());
    restClient->setProtocolType(AzureNetApp::managementProtocol());
    restClient->setAcceptTypeInHdr(ANF_API_CONST::ANF_HDR_ACCEPT);
    restClient->setContentTypeInHdr(ANF_API_CONST::ANF_HDR_CONTENT_TYPE);
    restClient->setUserAgentHeaderInHdr(ANF_API_CONST::ANF_HDR_USER_AGENT);
    restClient->setMetaFetchInHdr(ANF_API_CONST::ANF_HDR_META_FETCH);
    restClient->setLogging(logging);
    return true;
}

int KXSnapAzureNetAppAPI::rest_connectToArray(AzureNetApp::AzureInstanceInfo&) {
    if (!tokenInfo.access_token.empty()) {
        logLine(KXSO::LOG_INFO, "Already connected to ANF");
        return ANF_RC_SUCCESS;
    }
    logLine(KXSO::LOG_DETAIL, "Start : Connect to ANF");
    if (!rest_initializeClient()) {
        return ANF_RC_ASYNC_OP_FAILED;
    }
    // The token is asked for the management endpoint in force, so that a
    // token issued for a test base is never sent to the public cloud.
    requestPath =
        ANF_API_CONST::AZURE_IM_GETTOKEN_ENDPOINT_PREFIX + AzureNetApp::managementBaseUrl();
    requestBody.clear();
    response.clear();
    resetRESTErr();
    if (!restClient->connect(requestPath, requestBody, response)) {
        extractMetadataFailure();
        logLine(KXSO::LOG_ERROR, "%d-%s - url-[%s]", ANF_RC_TOKEN_NOT_OBTAINED,
                restError.str().c_str(), requestPath.c_str());
        return ANF_RC_TOKEN_NOT_OBTAINED;
    }
    const int result = processGetAccessTokenResp(response);
    if (result == ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_DETAIL, "End : Connect to ANF - done");
    }
    return result;
}

int KXSnapAzureNetAppAPI::processGetAccessTokenResp(const std::string& tokenResponse) {
    tokenInfo.clear();
    AnfJson::Value document;
    AnfJson::parse(tokenResponse, document);
    const AnfJson::KeyValueMap members = AnfJson::keyValueMap(document);
    tokenInfo.access_token = getJSONStringFromJSONKeyValMap(members, "access_token", "");
    tokenInfo.expires_in = getJSONStringFromJSONKeyValMap(members, "expires_in", "");
    tokenInfo.expires_on = getJSONStringFromJSONKeyValMap(members, "expires_on", "");
    tokenInfo.token_type = getJSONStringFromJSONKeyValMap(members, "token_type", "");
    if (tokenInfo.access_token.empty()) {
        // Without this line the caller's message would end in an empty error text.
        error << "The managed identity token response holds no access token.";
        logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
        return ANF_RC_TOKEN_NOT_OBTAINED;
    }
    if (logging) {
        logLine(KXSO::LOG_INFO, "Dump of AzureAccessTokenInfo [%s]", tokenInfo.dump().c_str());
    }
    if (restClient) {
        restClient->setAccessToken(ANF_API_CONST::ANF_BEARER_PREFIX + tokenInfo.access_token);
    }
    return ANF_RC_SUCCESS;
}

void KXSnapAzureNetAppAPI::extractMetadataFailure() {
    if (extractErrorMessage(response, true)) {
        return;
    }
    // No metadata-service error to show (no answer at all, not JSON, or
    // neither field): say at least what failed, after what the error text
    // says itself, so that the caller's message does not end empty.
    if (!restError.str().empty()) {
        restError << " ";
    }
    restError << "Request [" << requestPath
              << "] to the instance metadata service failed (HTTP status ["
              << (restClient ? restClient->getHttpErrorCode() : 0) << "]).";
}

bool KXSnapAzureNetAppAPI::sendRESTRequest(int type, const std::string& path,
                                           const std::string& body, bool meta, bool retry) {
    startRequest(path, body);
    if (!restClient) {
        restError << "The REST client is not initialized; connect to Azure first.";
        return false;
    }
    if (answerScript != nullptr) {
        return sendScripted(type, meta, retry);
    }
    return settleRequest(sendThroughClient(type, meta, retry));
}

void KXSnapAzureNetAppAPI::startRequest(const std::string& path, const std::string& body) {
    requestPath = path;
    requestBody = body;
    response.clear();
    resetRESTErr();
}

bool KXSnapAzureNetAppAPI::settleRequest(bool sent) {
    if (!sent) {
        // A failed answer becomes error text: nothing of ours it may echo survives.
        response = KXSecretMask::Mask(response, {tokenInfo.access_token});
    }
    return sent;
}

bool KXSnapAzureNetAppAPI::sendThroughClient(int type, bool meta, bool retry) {
    switch (type) {
        case KXSnapRESTAPI_ANF::REQ_GET:
            return restClient->get(requestPath, requestBody, response, meta, retry);
        case KXSnapRESTAPI_ANF::REQ_POST:
            return restClient->post(requestPath, requestBody, response, meta);
        case KXSnapRESTAPI_ANF::REQ_PUT:
            return restClient->put(requestPath, requestBody, response, meta);
        case KXSnapRESTAPI_ANF::REQ_DELETE:
            return restClient->del(requestPath, requestBody, response, meta);
        case KXSnapRESTAPI_ANF::REQ_PATCH:
            return restClient->patch(requestPath, requestBody, response, meta);
        default:
            restError << "Unsupported request type [" << type << "]";
            return false;
    }
}

void KXSnapAzureNetAppAPI::logLine(int level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const std::string line = FXString::FormatV(format, args);
    va_end(args);
    LogOnRecord(logger, level, kTag, KXSecretMask::Mask(line, {tokenInfo.access_token}));
}

void KXSnapAzureNetAppAPI::logTagged(int level, const char* tag, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const std::string line = FXString::FormatV(format, args);
    va_end(args);
    LogOnRecord(logger, level, tag, KXSecretMask::Mask(line, {tokenInfo.access_token}));
}
