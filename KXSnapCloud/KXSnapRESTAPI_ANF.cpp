// The transport's state: set-up, connection and the common request headers.
#include "KXSnapCloud/KXSnapRESTAPI_ANF.h"

#include <cstdarg>

#include "platform/FXString.h"
#include "platform/KXLibCurl.h"
#include "platform/KXSecretMask.h"
#include "src/KXSORecordLog.h"
#include "src/KxSnapWebProxy.h"

namespace {
constexpr const char* kTag = "KXSnapRESTAPI_ANF";
constexpr const char* kSchemeSeparator = "://";
constexpr const char* kAuthorizationHeader = "Authorization:";
constexpr const char* kSecureProtocol = "https";
}  // namespace

KXSnapRESTAPI_ANF::KXSnapRESTAPI_ANF() : curl(std::make_unique<KXLibCurl>()) {
    reset();
}

KXSnapRESTAPI_ANF::~KXSnapRESTAPI_ANF() = default;

void KXSnapRESTAPI_ANF::setBasePath(const std::string& path) {
    const size_t separator = path.find(kSchemeSeparator);
    basePath = separator == std::string::npos ? path : path.substr(separator + 3);
}

void KXSnapRESTAPI_ANF::setLogger(KXSO::SnapInfo* snapInfo) {
    if (snapInfo != nullptr) {
        logger = snapInfo;
    }
}

void KXSnapRESTAPI_ANF::reset() {
    initialized = false;
    connected = false;
    connecting = false;
    logging = false;
    httpErrorCode = 0;
    basePath.clear();
    metaBasePath.clear();
    server.clear();
    serverPort = -1;
    userName.clear();
    userPswd.clear();
    accessToken.clear();
    protocolType.clear();
    reserved.clear();
    acceptType.clear();
    contentType.clear();
    userAgent.clear();
    metaFetch.clear();
    accessTokenHdrPrefix.clear();
    takenAnswer.reset();
}

bool KXSnapRESTAPI_ANF::connect(const std::string& path, const std::string& body,
                                std::string& response) {
    connecting = true;
    if (!curl->KXLibCurlInit(contentType, true, false, nullptr)) {
        if (logging) {
            logLine(KXSO::LOG_ERROR, "Failed to Initialize Curl Library.");
        }
        return false;
    }
    initialized = true;
    curl->toggleTrace(true);
    configureProxy();
    const bool sent = get(path, body, response, true);
    if (sent) {
        connected = true;
    }
    connecting = false;
    return sent;
}

void KXSnapRESTAPI_ANF::configureProxy() {
    const HttpWebProxyInfo proxy = kxproxy::QueryWebProxy(
        [this](int level, const std::string& line) { logLine(level, "%s", line.c_str()); });
    proxyInfo = std::make_unique<HttpWebProxyInfo>(proxy);
    logLine(KXSO::LOG_DETAIL, "UseWebProxy [%d] url [%s] username[%s]", proxy.useProxy ? 1 : 0,
            proxy.proxy.c_str(), proxy.user.c_str());
    // As on the managed-disk path, a proxy that cannot be set is logged and
    // passed over: the token request tells whether Azure is reachable.
    const char* failure = kxproxy::ApplyWebProxy(*curl, proxy);
    if (failure != nullptr) {
        logLine(KXSO::LOG_ERROR, "%s", failure);
    }
}

bool KXSnapRESTAPI_ANF::disconnect() {
    connected = false;
    accessToken.clear();
    return true;
}

void KXSnapRESTAPI_ANF::useFreshConnectionForNextRequest() {
    if (curl) {
        curl->UseFreshConnectionForNextRequest();
    }
}

bool KXSnapRESTAPI_ANF::getResponseHeader(const std::string& name, std::string& value) {
    value.clear();
    const char* line = takenAnswer ? takenAnswer->Header(name) : curl->GetHttpResponseHeader(name);
    if (line == nullptr) {
        return false;
    }
    value.append(line);
    return true;
}

bool KXSnapRESTAPI_ANF::formUrlPath(const std::string& path, std::string& url, bool meta) {
    url =
        meta ? "http://" + metaBasePath + path : protocolType + kSchemeSeparator + basePath + path;
    if (logging) {
        logLine(KXSO::LOG_DETAIL, "Computed URL [%s] to send the request.", url.c_str());
    }
    return true;
}

std::vector<KXSnapRESTAPI_ANF::CommonHeader> KXSnapRESTAPI_ANF::commonHeaders(bool meta) const {
    std::vector<CommonHeader> headers = {
        {contentType, "Failed to set CURL HTTPHEADER header - content type"},
        {acceptType, "Failed to set CURL HTTPHEADER header - accept"},
        {userAgent, "Failed to set CURL HTTPHEADER header - user-agent"},
    };
    if (meta) {
        headers.push_back({metaFetch, "Failed to set CURL HTTPHEADER header - meta fetch"});
    } else if (connected && protocolType == kSecureProtocol) {
        // The token travels over HTTPS only, and only to the management
        // endpoint: every ordinary URL is built on basePath. Never the
        // header itself in the log: it carries the bearer token.
        headers.push_back({kAuthorizationHeader + accessToken,
                           "Failed to set CURL HTTPHEADER header - access token", false});
    }
    return headers;
}

void KXSnapRESTAPI_ANF::logHeaderFailure(const CommonHeader& header) const {
    if (header.showLine) {
        logLine(KXSO::LOG_ERROR, "%s [%s]", header.failure, header.line.c_str());
    } else {
        logLine(KXSO::LOG_ERROR, "%s", header.failure);
    }
}

bool KXSnapRESTAPI_ANF::setCommonCurlHeaders(bool meta) {
    curl->KXLibCurlFreeHttpHeaderList();
    for (const CommonHeader& header : commonHeaders(meta)) {
        if (!curl->KXLibCurlAppendHeader(0, header.line)) {
            logHeaderFailure(header);
            return false;
        }
    }
    return true;
}

void KXSnapRESTAPI_ANF::logLine(int level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    std::string line = FXString::FormatV(format, args);
    va_end(args);
    maskSensitiveDetails(line, line);
    LogOnRecord(logger, level, kTag, line);
}
