// The HTTP transport of the NetApp Files path: one platform HTTP client, the
// base paths, the common header lines and the bearer token. Ordinary requests
// go to the Resource Manager with the token; "meta" requests go to the
// instance metadata service over plain HTTP with the metadata header.
//
// Fresh -> connect() -> connected; disconnect() goes back. Ordinary requests
// before connect() are refused without being sent. Nothing throws: every
// failure is a false result with one log line. Not copyable; one per client.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kxso/KXSOSnapInfo.h"
#include "platform/KXFanOut.h"
#include "platform/KXRetryPolicy.h"

class KXLibCurl;
struct HttpWebProxyInfo;

class KXSnapRESTAPI_ANF {
public:
    // Request types of sendReq.
    enum RequestType : int {
        REQ_GET = 0,
        REQ_POST = 1,
        REQ_PUT = 2,
        REQ_DELETE = 3,
        REQ_PATCH = 4,
    };

    KXSnapRESTAPI_ANF();
    ~KXSnapRESTAPI_ANF();
    KXSnapRESTAPI_ANF(const KXSnapRESTAPI_ANF&) = delete;
    KXSnapRESTAPI_ANF& operator=(const KXSnapRESTAPI_ANF&) = delete;

    // Keeps only what follows the first "://", when there is one.
    void setBasePath(const std::string& path);
    void setMetaBasePath(const std::string& path) { metaBasePath = path; }
    void setServer(const std::string& name) { server = name; }
    void setServerPort(int port) { serverPort = port; }
    void setUserName(const std::string& name) { userName = name; }
    void setUserPswd(const std::string& password) { userPswd = password; }
    // The whole value of the authorisation header ("Bearer " + token).
    void setAccessToken(const std::string& token) { accessToken = token; }
    void setProtocolType(const std::string& protocol) { protocolType = protocol; }
    void setAcceptTypeInHdr(const std::string& line) { acceptType = line; }
    void setContentTypeInHdr(const std::string& line) { contentType = line; }
    void setUserAgentHeaderInHdr(const std::string& line) { userAgent = line; }
    void setMetaFetchInHdr(const std::string& line) { metaFetch = line; }
    void setAccessTokenHdrPrefix(const std::string& prefix) { accessTokenHdrPrefix = prefix; }
    // Keeps the previous sink when `snapInfo` is null.
    void setLogger(KXSO::SnapInfo* snapInfo);
    void setLogging(bool on) { logging = on; }

    // Back to fresh: flags false, status 0, strings empty, port -1. The HTTP
    // client object and the logger stay.
    void reset();

    // Initialises the HTTP client and sends the meta GET of `path` (the token
    // request); success marks the transport connected.
    bool connect(const std::string& path, const std::string& body, std::string& response);
    bool disconnect();

    // `retry` false sends once, without the retry policy: for status polls,
    // whose loop is the retry.
    bool get(const std::string& path, const std::string& body, std::string& response,
             bool meta = false, bool retry = true);
    bool post(const std::string& path, const std::string& body, std::string& response,
              bool meta = false);
    bool put(const std::string& path, const std::string& body, std::string& response,
             bool meta = false);
    bool del(const std::string& path, const std::string& body, std::string& response,
             bool meta = false);
    bool patch(const std::string& path, const std::string& body, std::string& response,
               bool meta = false);

    // The HTTP status of the last request; 0 before any.
    int64_t getHttpErrorCode() const { return httpErrorCode; }
    // The whole header line `name` of the last response as the client gives
    // it; false, with `value` empty, when there is none.
    bool getResponseHeader(const std::string& name, std::string& value);
    // The next request goes alone on a new connection that is not reused
    // (see KXLibCurl::UseFreshConnectionForNextRequest).
    void useFreshConnectionForNextRequest();

    bool formUrlPath(const std::string& path, std::string& url, bool meta);
    bool setCommonCurlHeaders(bool meta);
    // Copies `in` to `out` with secrets masked: the token in use, token
    // values of a token response, bearer tokens, passwords and the user
    // information of URLs never reach the log.
    void maskSensitiveDetails(const std::string& in, std::string& out) const;

    // --- Requests side by side (KXSnapRESTAPI_ANFFanOut.cpp) ---------------------------
    // The request sendReq would send for `path`, as one request of a
    // KXFanOut job: its URL, the common header lines with the token held
    // since connect() (never fetched again here) and the retry policy
    // (`retry` false: one attempt). Logs what sendReq logs before sending.
    // False, with sendReq's log line, before connect() or for an unknown type.
    bool formRequest(int type, const std::string& path, const std::string& body,
                     KXFanOut::Request& request, bool meta = false, bool retry = true);
    // What sendReq makes of the answer to such a request: the HTTP status
    // (getHttpErrorCode), the body into `response`, the answer's header lines
    // (getResponseHeader) until the next request or answer, and sendReq's log
    // lines. True for a completed 2xx answer.
    bool takeAnswer(const KXFanOut::Request& request, const KXFanOut::Answer& answer,
                    std::string& response);
    // Runs `jobs` to their end over connections set up as the transport's
    // own (content type, trace, proxy; the metadata service reached
    // directly), with its retry policy, as many at once as the setting
    // "nAzureRESTAPIMaxParallelRequests" allows. Retries are logged as
    // sendReq logs them. Returns the index of the job that stopped the walk,
    // or jobs.size().
    size_t runSideBySide(const std::vector<KXFanOut::Job*>& jobs,
                         KXFanOut::Statistics* statistics = nullptr);

private:
    // A header line every request carries, and the log line when it cannot be set.
    struct CommonHeader {
        std::string line;
        const char* failure;
        bool showLine = true;  // the log line ends with " [" line "]"
    };
    // contentType, acceptType, userAgent, then metaFetch for meta requests,
    // or the token once connected over HTTPS; in the order sent.
    std::vector<CommonHeader> commonHeaders(bool meta) const;
    void logHeaderFailure(const CommonHeader& header) const;
    // The platform client's method for a request type, or -1.
    static int clientMethod(int type);
    // Whether a request may go out now (logged when not), with the meta
    // request's log line.
    bool readyToSend(bool meta);
    // The retry settings, read once for the client's call.
    const KXRetry::Policy& activeRetryPolicy();
    void logFailedRequest(const std::string& url, const std::string& body) const;
    bool sendReq(int type, const std::string& path, const std::string& body, std::string& response,
                 bool meta, bool retry = true);
    bool sendToClient(int method, const std::string& url, const std::string& body, bool meta,
                      bool retry);
    // The installation's proxy for Resource Manager requests; the metadata
    // service is always reached directly.
    void configureProxy();
    // The answer's body (`bytes` may be null) into `response`, with sendReq's log lines.
    void readResponse(const std::string& url, const std::string& body, const char* bytes,
                      size_t length, std::string& response);
    void logLine(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    std::unique_ptr<KXLibCurl> curl;
    // The retry settings, read once for the client's call at its first request.
    std::optional<KXRetry::Policy> retryPolicy;
    // The proxy connect() chose, for the connections of requests sent side by side.
    std::unique_ptr<HttpWebProxyInfo> proxyInfo;
    // The answer taken last through takeAnswer, until the next request.
    std::unique_ptr<KXFanOut::Answer> takenAnswer;
    bool initialized = false;
    bool connected = false;
    bool connecting = false;
    bool logging = false;
    int64_t httpErrorCode = 0;
    std::string basePath;
    std::string metaBasePath;
    std::string server;
    int32_t serverPort = -1;
    std::string userName;
    std::string userPswd;
    std::string accessToken;
    std::string protocolType;
    std::string reserved;
    std::string acceptType;
    std::string contentType;
    std::string userAgent;
    std::string metaFetch;
    std::string accessTokenHdrPrefix;
    KXSO::SnapInfo* logger = nullptr;
};
