// The platform HTTP client over libcurl. One object holds one easy handle, so
// the requests made through one object reuse their connections. Not
// thread-safe: one object per thread.
//
// Trust: HTTPS requests verify the peer; KXSO_CA_FILE names an extra PEM
// bundle (read by KXLibCurlInit; the system's certificate directory stays
// trusted). Trace (toggleTrace) goes to the platform log and masks the values of
// Authorization and Proxy-Authorization headers and any proxy password, as well
// as "access_token"-like fields of traced bodies.
//
// Proxies are used only when set through CURLOPT_PROXY; the process
// environment's proxy variables are ignored. Redirects are not followed.
// Only http and https URLs are accepted.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <curl/curl.h>

// Method codes of KXLibCurlSendHttpReq.
enum _http_req_type_ : int {
    HTTP_REQ_GET = 0,
    HTTP_REQ_POST = 1,
    HTTP_REQ_PUT = 2,
    HTTP_REQ_DELETE = 3,
    HTTP_REQ_HEAD = 4,
    HTTP_REQ_PATCH = 5,
};

class KXLibCurl {
public:
    using WriteCallback = size_t (*)(char*, size_t, size_t, void*);

    KXLibCurl();
    ~KXLibCurl();
    KXLibCurl(const KXLibCurl&) = delete;
    KXLibCurl& operator=(const KXLibCurl&) = delete;

    // Creates the handle; `contentTypeHeader` is a whole header line that
    // KXLibCurlAppendHeader callers usually repeat: it starts the header list.
    // `verbose` turns the (masked) trace on. With a `callback`, the body goes to
    // it (user pointer null) instead of being kept, and GetHttpResponse gives
    // nullptr. Returns true on success.
    bool KXLibCurlInit(const std::string& contentTypeHeader, bool verifyPeer = true,
                       bool verbose = false, WriteCallback callback = nullptr);
    // Pass an option straight to libcurl. False before KXLibCurlInit and for an
    // option that does not take a number (resp. a text). CURLOPT_VERBOSE is
    // turned into toggleTrace, so that nothing unmasked reaches stderr.
    bool KXLibCurlSetAdditionalOptionsIntValue(CURLoption option, long value);
    bool KXLibCurlSetAdditionalOptionsStringValue(CURLoption option, const std::string& value);
    void toggleTrace(bool on);

    void KXLibCurlFreeHttpHeaderList();
    // Appends one whole header line ("Accept: application/json"). A line with
    // a CR or LF in it is refused.
    bool KXLibCurlAppendHeader(int unused, const std::string& headerLine);

    // Sends one request. Returns false when the transfer failed or the status
    // is not 2xx; the status, body and headers of the answer stay readable
    // until the next request, which starts from an empty answer. Of the body
    // of an answer that is not 2xx only the first
    // KXSecretMask::kMaxErrorTextBytes are kept, followed by
    // "... [truncated, N bytes in all]" when there was more. POST, PUT and
    // PATCH send exactly `length` bytes of `body` (none: Content-Length 0);
    // DELETE sends a body only when given one; GET and HEAD never do.
    bool KXLibCurlSendHttpReq(int method, const std::string& url, const char* body, size_t length,
                              bool unused = false, void* unused2 = nullptr);

    // The next request only goes out on a connection of its own that is
    // closed after it: libcurl then has no reused connection on which to
    // re-send it silently when its answer is lost. For requests that must
    // not be carried out twice (a revert).
    void UseFreshConnectionForNextRequest() { freshConnectionNext_ = true; }

    // KXLibCurlSendHttpReq in two halves, for a transfer that a libcurl multi
    // handle drives (KXFanOut): BeginRequest prepares the handle (false when
    // it cannot, with the reason in the error buffer); the caller performs
    // EasyHandle() and hands libcurl's result to FinishRequest, which answers
    // as KXLibCurlSendHttpReq does. `body` must stay valid until then.
    bool BeginRequest(int method, const std::string& url, const char* body, size_t length);
    bool FinishRequest(CURLcode result);
    CURL* EasyHandle() const { return curl_; }

    // Caps the time each following request may take, connecting included,
    // at `maxMs` below the configured limits; a negative value restores them.
    bool LimitRequestTime(long maxMs);

    long GetHttpErrorCode() const { return httpStatus_; }
    // The body of the last answer, or nullptr when it had none.
    const char* GetHttpResponse(size_t& length, bool unused = false) const;
    // The whole header line of the last answer ("Azure-AsyncOperation: https://..."),
    // matched without regard to letter case (a trailing ':' in `name` is
    // allowed), or nullptr.
    const char* GetHttpResponseHeader(const std::string& name) const;
    // Every header line of the last answer, in the order received.
    const std::vector<std::string>& GetHttpResponseHeaders() const { return responseHeaders_; }
    const char* GetCurlErrorBuffer() const { return errorBuffer_; }
    // libcurl's result of the last transfer (CURLE_OK when it completed).
    CURLcode GetCurlResult() const { return curlResult_; }
    // Whether any byte of the last request went out: false when the
    // connection was refused or never established.
    bool RequestWasSent() const { return requestSent_; }

    // Connections libcurl opened for this object (for budgets and tests).
    long ConnectionsOpened() const { return connectionsOpened_; }

private:
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static int OnTrace(CURL* handle, curl_infotype type, char* data, size_t size, void* self);
    void ResetAnswer();

    CURL* curl_ = nullptr;
    curl_slist* headers_ = nullptr;
    bool trace_ = false;
    bool freshConnectionNext_ = false;
    long requestLimitMs_ = 0;  // the configured limits; 0: none
    long connectLimitMs_ = 0;
    std::string proxyPassword_;  // only to mask it in traces
    long httpStatus_ = 0;
    long connectionsOpened_ = 0;
    std::string body_;
    bool hasBody_ = false;
    size_t bodyBytes_ = 0;  // all bytes of the body received, kept or not
    CURLcode curlResult_ = CURLE_OK;
    bool requestSent_ = false;
    std::vector<std::string> responseHeaders_;
    std::vector<std::string> pendingSecrets_;  // masked in the trace of the request under way
    char errorBuffer_[CURL_ERROR_SIZE] = {0};
};
