#include "platform/KXLibCurl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/EvDebug.h"
#include "platform/KXPlatformInfo.h"
#include "platform/KXSecretMask.h"
#include "platform/FXString.h"
#include "platform/KXPlatformInfo.h"
#include "platform/KxPlatformEnv.h"

namespace {

constexpr const char* kLogTag = "KXLibCurl";
constexpr const char* kMask = "***";
constexpr const char* kBlanks = " \t\r\n";
// No Azure answer comes near this; a larger one is refused instead of being
// allowed to exhaust the host's memory.
constexpr size_t kMaxResponseBytes = 64 * 1024 * 1024;
// Bodies are traced for diagnosis, not archived.
constexpr size_t kMaxTracedBodyBytes = 4096;
// Names whose values are credentials wherever they appear in a traced body.
constexpr const char* kSecretFields[] = {"access_token", "refresh_token", "client_secret",
                                         "password"};
// A body-less POST/PUT/PATCH still points libcurl at a (zero-length) body so
// that Content-Length: 0 is sent.
constexpr const char kEmptyBody[] = "";

bool InitCurlGlobally() {
    // libcurl's global set-up must run once before any handle exists, and the
    // host may start calls on several threads at once.
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    return result == CURLE_OK;
}

template <typename Value>
bool SetOption(CURL* curl, CURLoption option, Value value) {
    return curl_easy_setopt(curl, option, value) == CURLE_OK;
}

// A request that never ends must not hold a backup job (and the host thread
// running it) forever: a server that accepts a connection and then goes
// silent, a proxy that swallows packets, a metadata address that is not
// there. Each limit is a setting; 0 turns that limit off.
struct TimeLimits {
    // Connecting, TLS handshake included. Loopback and the metadata service
    // answer in milliseconds, Resource Manager in well under a second.
    long connectSecs = 30;
    // No byte at all for this long means the peer is gone. Resource Manager
    // answers a synchronous request within about a minute or fails it.
    long stallSecs = 90;
    // The whole request, however slowly it trickles. Long-running work is
    // polled by the callers, so no single request legitimately takes longer.
    long requestSecs = 300;
};

constexpr const char* kConnectTimeoutKey = "nAzureHttpConnectTimeoutSecs";
constexpr const char* kStallTimeoutKey = "nAzureHttpStallTimeoutSecs";
constexpr const char* kRequestTimeoutKey = "nAzureHttpRequestTimeoutSecs";

void ReadLimit(const char* key, long& limit) {
    int32_t configured = 0;
    if (KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, key, configured)) {
        if (configured >= 0) {
            limit = configured;
        } else {
            EvDebug().Error(kLogTag, "Ignoring negative setting %s=%d", key, configured);
        }
    }
}

TimeLimits ConfiguredTimeLimits() {
    TimeLimits limits;
    ReadLimit(kConnectTimeoutKey, limits.connectSecs);
    ReadLimit(kStallTimeoutKey, limits.stallSecs);
    ReadLimit(kRequestTimeoutKey, limits.requestSecs);
    return limits;
}

// libcurl reads 0 as "its default" (300 s) for connecting and "no limit"
// for the others; a connect limit of 0 therefore falls back to the request
// limit, or libcurl's own when that is off too.
long ConnectSecs(const TimeLimits& limits) {
    return limits.connectSecs > 0 ? limits.connectSecs : limits.requestSecs;
}

bool ApplyTimeLimits(CURL* curl, const TimeLimits& limits) {
    return SetOption(curl, CURLOPT_CONNECTTIMEOUT, ConnectSecs(limits)) &&
           // Below 1 byte per second for stallSecs seconds aborts the transfer.
           SetOption(curl, CURLOPT_LOW_SPEED_LIMIT, limits.stallSecs > 0 ? 1L : 0L) &&
           SetOption(curl, CURLOPT_LOW_SPEED_TIME, limits.stallSecs) &&
           SetOption(curl, CURLOPT_TIMEOUT, limits.requestSecs);
}

// Everything about a new handle that does not depend on the object's callbacks.
bool ApplyBaseOptions(CURL* curl, char* errorBuffer, bool verifyPeer, const TimeLimits& limits) {
    const std::string caFile = KxPlatformEnv::CaFile();
    return SetOption(curl, CURLOPT_ERRORBUFFER, errorBuffer) &&
           SetOption(curl, CURLOPT_NOSIGNAL, 1L) && SetOption(curl, CURLOPT_FOLLOWLOCATION, 0L) &&
           SetOption(curl, CURLOPT_PROTOCOLS_STR, "http,https") &&
           // Proxies come from the settings through CURLOPT_PROXY only, never
           // from the environment of whatever host loaded us.
           SetOption(curl, CURLOPT_PROXY, "") &&
           SetOption(curl, CURLOPT_SSL_VERIFYPEER, verifyPeer ? 1L : 0L) &&
           SetOption(curl, CURLOPT_SSL_VERIFYHOST, verifyPeer ? 2L : 0L) &&
           // An addition: libcurl keeps its built-in certificate directory.
           (caFile.empty() || SetOption(curl, CURLOPT_CAINFO, caFile.c_str())) &&
           ApplyTimeLimits(curl, limits);
}

// A configured limit in milliseconds (0: none) capped at `maxMs`; libcurl
// takes 0 for "no limit", so the cap is at least 1 ms.
long CappedMs(long configuredMs, long maxMs) {
    const long cap = std::max(maxMs, 1L);
    return configuredMs > 0 ? std::min(configuredMs, cap) : cap;
}

// Connections this transfer had to open (0 when it reused one).
long NewConnections(CURL* curl) {
    long connections = 0;
    return curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connections) == CURLE_OK ? connections
                                                                                    : 0;
}

const char* MethodName(int method) {
    switch (method) {
        case HTTP_REQ_GET:
            return "GET";
        case HTTP_REQ_POST:
            return "POST";
        case HTTP_REQ_PUT:
            return "PUT";
        case HTTP_REQ_DELETE:
            return "DELETE";
        case HTTP_REQ_HEAD:
            return "HEAD";
        case HTTP_REQ_PATCH:
            return "PATCH";
        default:
            return nullptr;
    }
}

bool SendsBody(int method, const char* body, size_t length) {
    switch (method) {
        case HTTP_REQ_POST:
        case HTTP_REQ_PUT:
        case HTTP_REQ_PATCH:
            return true;
        case HTTP_REQ_DELETE:
            return body != nullptr && length > 0;
        default:
            return false;  // a GET or HEAD body would be ignored by servers
    }
}

// The handle remembers the previous request's method and body pointer, so
// every request starts again from a plain GET.
bool ApplyMethod(CURL* curl, int method, const char* body, size_t length) {
    const char* name = MethodName(method);
    if (name == nullptr) {
        return false;
    }
    bool ok = SetOption(curl, CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr)) &&
              SetOption(curl, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr)) &&
              SetOption(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(-1)) &&
              SetOption(curl, CURLOPT_HTTPGET, 1L);
    if (method == HTTP_REQ_HEAD) {
        return ok && SetOption(curl, CURLOPT_NOBODY, 1L);
    }
    if (SendsBody(method, body, length)) {
        // POSTFIELDS sends exactly these bytes with their Content-Length,
        // without the read callback and chunking that CURLOPT_UPLOAD brings.
        const size_t bytes = body != nullptr ? length : 0;
        ok = ok && SetOption(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bytes)) &&
             SetOption(curl, CURLOPT_POSTFIELDS, body != nullptr ? body : kEmptyBody);
    }
    if (method != HTTP_REQ_GET && method != HTTP_REQ_POST) {
        ok = ok && SetOption(curl, CURLOPT_CUSTOMREQUEST, name);
    }
    return ok;
}

std::string HeaderName(const std::string& line) {
    const size_t colon = line.find(':');
    return colon == std::string::npos ? std::string()
                                      : FXString::Trim(line.substr(0, colon), kBlanks);
}

bool IsCredentialHeader(const std::string& name) {
    return FXString::EqualsNoCase(name, "Authorization") ||
           FXString::EqualsNoCase(name, "Proxy-Authorization");
}

// The credentials this client may send: the proxy password and the values of
// the authorisation headers, both whole and without their scheme word.
std::vector<std::string> KnownSecrets(const curl_slist* headers, const std::string& proxyPassword) {
    std::vector<std::string> secrets;
    if (!proxyPassword.empty()) {
        secrets.push_back(proxyPassword);
    }
    for (const curl_slist* header = headers; header != nullptr; header = header->next) {
        const std::string line = header->data;
        if (!IsCredentialHeader(HeaderName(line))) {
            continue;
        }
        const std::string value = FXString::Trim(line.substr(line.find(':') + 1), kBlanks);
        const size_t blank = value.find(' ');
        if (!value.empty()) {
            secrets.push_back(value);
        }
        if (blank != std::string::npos) {
            const std::string credential = FXString::Trim(value.substr(blank), kBlanks);
            if (!credential.empty()) {
                secrets.push_back(credential);
            }
        }
    }
    // Longest first, so a whole value is masked before a part of it.
    std::sort(secrets.begin(), secrets.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return secrets;
}

std::string MaskHeaderLine(const std::string& line) {
    const std::string name = HeaderName(line);
    return IsCredentialHeader(name) ? name + ": " + kMask : line;
}

// End of a JSON string value that starts at `open` (its opening quote), or
// npos when the text ends first.
size_t JsonStringEnd(const std::string& text, size_t open) {
    for (size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return i;
        }
    }
    return std::string::npos;
}

// Masks "field": "value" (JSON) and field=value (form) wherever they occur.
std::string MaskSecretFields(std::string text) {
    for (const char* field : kSecretFields) {
        const std::string jsonKey = std::string("\"") + field + "\"";
        for (size_t at = text.find(jsonKey); at != std::string::npos; at = text.find(jsonKey, at)) {
            at += jsonKey.size();
            const size_t colon = text.find_first_not_of(kBlanks, at);
            if (colon == std::string::npos || text[colon] != ':') {
                continue;
            }
            const size_t open = text.find_first_not_of(kBlanks, colon + 1);
            if (open == std::string::npos || text[open] != '"') {
                continue;
            }
            const size_t close = JsonStringEnd(text, open);
            const size_t end = close == std::string::npos ? text.size() : close;
            text.replace(open + 1, end - open - 1, kMask);
        }
        const std::string formKey = std::string(field) + "=";
        for (size_t at = text.find(formKey); at != std::string::npos; at = text.find(formKey, at)) {
            at += formKey.size();
            const size_t end = std::min(text.find_first_of("&\" \r\n", at), text.size());
            text.replace(at, end - at, kMask);
        }
    }
    return text;
}

std::string MaskKnownSecrets(std::string text, const std::vector<std::string>& secrets) {
    for (const std::string& secret : secrets) {
        text = FXString::ReplaceAll(text, secret, kMask);
    }
    return text;
}

std::string MaskForTrace(const std::string& text, const std::vector<std::string>& secrets) {
    return MaskKnownSecrets(MaskSecretFields(MaskHeaderLine(text)), secrets);
}

void TraceLine(const char* prefix, const std::string& text) {
    EvDebug().DebugLvl(3, kLogTag, "%s%s", prefix, text.c_str());
}

void TraceText(const char* prefix, const std::string& text,
               const std::vector<std::string>& secrets) {
    for (std::string line : FXString::Split(text, "\n", FXString::SPLIT_DROP_EMPTY)) {
        line = FXString::TrimRight(line, "\r");
        if (!line.empty()) {
            TraceLine(prefix, MaskForTrace(line, secrets));
        }
    }
}

// Bodies are traced whole, after the transfer, rather than in libcurl's
// pieces: a token split across two pieces would escape the masking.
void TraceBody(const char* prefix, const std::string& body,
               const std::vector<std::string>& secrets) {
    if (body.empty()) {
        return;
    }
    std::string shown = MaskKnownSecrets(MaskSecretFields(body), secrets);
    if (shown.size() > kMaxTracedBodyBytes) {
        shown = shown.substr(0, kMaxTracedBodyBytes) +
                FXString::Format(" ... (%zu bytes in all)", body.size());
    }
    TraceLine(prefix, shown);
}

}  // namespace

KXLibCurl::KXLibCurl() {
    InitCurlGlobally();
}

KXLibCurl::~KXLibCurl() {
    if (curl_ != nullptr) {
        curl_easy_cleanup(curl_);
    }
    curl_slist_free_all(headers_);
    std::fill(proxyPassword_.begin(), proxyPassword_.end(), '\0');
}

bool KXLibCurl::KXLibCurlInit(const std::string& contentTypeHeader, bool verifyPeer, bool verbose,
                              WriteCallback callback) {
    if (!InitCurlGlobally()) {
        return false;
    }
    if (curl_ != nullptr) {
        curl_easy_cleanup(curl_);
    }
    curl_ = curl_easy_init();
    if (curl_ == nullptr) {
        return false;
    }
    const TimeLimits limits = ConfiguredTimeLimits();
    requestLimitMs_ = limits.requestSecs * 1000;
    connectLimitMs_ = ConnectSecs(limits) * 1000;
    bool ok = ApplyBaseOptions(curl_, errorBuffer_, verifyPeer, limits) &&
              SetOption(curl_, CURLOPT_HEADERFUNCTION, &KXLibCurl::OnHeader) &&
              SetOption(curl_, CURLOPT_HEADERDATA, this);
    if (callback != nullptr) {
        ok = ok && SetOption(curl_, CURLOPT_WRITEFUNCTION, callback) &&
             SetOption(curl_, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    } else {
        ok = ok && SetOption(curl_, CURLOPT_WRITEFUNCTION, &KXLibCurl::OnBody) &&
             SetOption(curl_, CURLOPT_WRITEDATA, this);
    }
    KXLibCurlFreeHttpHeaderList();
    if (!contentTypeHeader.empty()) {
        ok = ok && KXLibCurlAppendHeader(0, contentTypeHeader);
    }
    toggleTrace(trace_ || verbose);
    return ok;
}

bool KXLibCurl::KXLibCurlSetAdditionalOptionsIntValue(CURLoption option, long value) {
    if (curl_ == nullptr) {
        return false;
    }
    // libcurl's own verbose output goes to stderr, unmasked; route it through
    // the masking trace instead.
    if (option == CURLOPT_VERBOSE) {
        toggleTrace(value != 0);
        return true;
    }
    const curl_easyoption* description = curl_easy_option_by_id(option);
    if (description == nullptr) {
        return false;
    }
    switch (description->type) {
        case CURLOT_LONG:
        case CURLOT_VALUES:
            return SetOption(curl_, option, value);
        case CURLOT_OFF_T:
            return SetOption(curl_, option, static_cast<curl_off_t>(value));
        default:
            return false;  // a long handed to a pointer option would crash libcurl
    }
}

bool KXLibCurl::KXLibCurlSetAdditionalOptionsStringValue(CURLoption option,
                                                         const std::string& value) {
    if (curl_ == nullptr) {
        return false;
    }
    const curl_easyoption* description = curl_easy_option_by_id(option);
    if (description == nullptr || description->type != CURLOT_STRING) {
        return false;
    }
    if (option == CURLOPT_PROXYUSERPWD) {
        const size_t colon = value.find(':');
        proxyPassword_ = colon == std::string::npos ? std::string() : value.substr(colon + 1);
    } else if (option == CURLOPT_PROXYPASSWORD) {
        proxyPassword_ = value;
    }
    return SetOption(curl_, option, value.c_str());  // libcurl keeps its own copy
}

void KXLibCurl::toggleTrace(bool on) {
    trace_ = on;
    if (curl_ == nullptr) {
        return;  // applied by KXLibCurlInit
    }
    if (on) {
        SetOption(curl_, CURLOPT_DEBUGFUNCTION, &KXLibCurl::OnTrace);
        SetOption(curl_, CURLOPT_DEBUGDATA, this);
    } else {
        SetOption(curl_, CURLOPT_DEBUGFUNCTION, static_cast<curl_debug_callback>(nullptr));
    }
    SetOption(curl_, CURLOPT_VERBOSE, on ? 1L : 0L);
}

void KXLibCurl::KXLibCurlFreeHttpHeaderList() {
    if (curl_ != nullptr) {
        SetOption(curl_, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    }
    curl_slist_free_all(headers_);
    headers_ = nullptr;
}

bool KXLibCurl::KXLibCurlAppendHeader(int /*unused*/, const std::string& headerLine) {
    // A line break would smuggle a header (or a request) of the sender's choice.
    if (headerLine.empty() || headerLine.find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    curl_slist* extended = curl_slist_append(headers_, headerLine.c_str());
    if (extended == nullptr) {
        return false;
    }
    headers_ = extended;
    return true;
}

bool KXLibCurl::LimitRequestTime(long maxMs) {
    if (curl_ == nullptr) {
        return false;
    }
    if (maxMs < 0) {
        return SetOption(curl_, CURLOPT_TIMEOUT_MS, requestLimitMs_) &&
               SetOption(curl_, CURLOPT_CONNECTTIMEOUT_MS, connectLimitMs_);
    }
    return SetOption(curl_, CURLOPT_TIMEOUT_MS, CappedMs(requestLimitMs_, maxMs)) &&
           SetOption(curl_, CURLOPT_CONNECTTIMEOUT_MS, CappedMs(connectLimitMs_, maxMs));
}

bool KXLibCurl::KXLibCurlSendHttpReq(int method, const std::string& url, const char* body,
                                     size_t length, bool /*unused*/, void* /*unused2*/) {
    if (!BeginRequest(method, url, body, length)) {
        return false;
    }
    return FinishRequest(curl_easy_perform(curl_));
}

bool KXLibCurl::BeginRequest(int method, const std::string& url, const char* body, size_t length) {
    ResetAnswer();
    if (curl_ == nullptr) {
        snprintf(errorBuffer_, sizeof(errorBuffer_), "HTTP client used before KXLibCurlInit");
        return false;
    }
    if (!ApplyMethod(curl_, method, body, length) || !SetOption(curl_, CURLOPT_URL, url.c_str()) ||
        !SetOption(curl_, CURLOPT_HTTPHEADER, headers_)) {
        snprintf(errorBuffer_, sizeof(errorBuffer_), "Cannot prepare request method %d", method);
        return false;
    }
    pendingSecrets_ = trace_ ? KnownSecrets(headers_, proxyPassword_) : std::vector<std::string>();
    if (trace_ && SendsBody(method, body, length) && body != nullptr) {
        TraceBody("> body: ", std::string(body, length), pendingSecrets_);
    }

    const long fresh = freshConnectionNext_ ? 1L : 0L;
    freshConnectionNext_ = false;
    curl_easy_setopt(curl_, CURLOPT_FRESH_CONNECT, fresh);
    curl_easy_setopt(curl_, CURLOPT_FORBID_REUSE, fresh);
    return true;
}

bool KXLibCurl::FinishRequest(CURLcode result) {
    curlResult_ = result;
    connectionsOpened_ += NewConnections(curl_);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &httpStatus_);
    long requestBytes = 0;
    requestSent_ = curl_easy_getinfo(curl_, CURLINFO_REQUEST_SIZE, &requestBytes) == CURLE_OK &&
                   requestBytes > 0;
    if (bodyBytes_ > body_.size()) {
        body_ = KXSecretMask::Cut(body_, bodyBytes_);
    }
    hasBody_ = !body_.empty();
    if (result != CURLE_OK && errorBuffer_[0] == '\0') {
        snprintf(errorBuffer_, sizeof(errorBuffer_), "%s", curl_easy_strerror(result));
    }
    if (trace_) {
        TraceBody("< body: ", body_, pendingSecrets_);
        TraceLine("< ", FXString::Format("status [%ld] curl result [%d] [%s]", httpStatus_,
                                         static_cast<int>(result), errorBuffer_));
    }
    pendingSecrets_.clear();
    return result == CURLE_OK && httpStatus_ >= 200 && httpStatus_ < 300;
}

const char* KXLibCurl::GetHttpResponse(size_t& length, bool /*unused*/) const {
    length = hasBody_ ? body_.size() : 0;
    return hasBody_ ? body_.c_str() : nullptr;
}

const char* KXLibCurl::GetHttpResponseHeader(const std::string& name) const {
    const std::string wanted = FXString::Trim(FXString::TrimRight(name, ": \t"), kBlanks);
    if (wanted.empty()) {
        return nullptr;
    }
    for (const std::string& line : responseHeaders_) {
        if (FXString::EqualsNoCase(HeaderName(line), wanted)) {
            return line.c_str();
        }
    }
    return nullptr;
}

size_t KXLibCurl::OnBody(char* data, size_t size, size_t count, void* self) {
    KXLibCurl* client = static_cast<KXLibCurl*>(self);
    const size_t bytes = size * count;
    long status = 0;
    curl_easy_getinfo(client->curl_, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status >= 300) {
        // An error body only ever feeds an error text: keep its start, count
        // the rest, and let the transfer finish so the connection survives.
        client->bodyBytes_ += bytes;
        const size_t room = KXSecretMask::kMaxErrorTextBytes -
                            std::min(client->body_.size(), KXSecretMask::kMaxErrorTextBytes);
        client->body_.append(data, std::min(room, bytes));
        return bytes;
    }
    client->bodyBytes_ += bytes;
    if (client->body_.size() + bytes > kMaxResponseBytes) {
        return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
    }
    client->body_.append(data, bytes);
    return bytes;
}

size_t KXLibCurl::OnHeader(char* data, size_t size, size_t count, void* self) {
    KXLibCurl* client = static_cast<KXLibCurl*>(self);
    const size_t bytes = size * count;
    const std::string line = FXString::TrimRight(std::string(data, bytes), "\r\n");
    if (FXString::StartsWith(line, "HTTP/")) {
        // A new status line (after "100 Continue" or a proxy's CONNECT answer)
        // starts the answer whose headers the caller will ask about.
        client->responseHeaders_.clear();
    } else if (!line.empty()) {
        client->responseHeaders_.push_back(line);
    }
    return bytes;
}

int KXLibCurl::OnTrace(CURL* /*handle*/, curl_infotype type, char* data, size_t size, void* self) {
    const KXLibCurl* client = static_cast<const KXLibCurl*>(self);
    const char* prefix = nullptr;
    switch (type) {
        case CURLINFO_TEXT:
            prefix = "* ";
            break;
        case CURLINFO_HEADER_OUT:
            prefix = "> ";
            break;
        case CURLINFO_HEADER_IN:
            prefix = "< ";
            break;
        default:
            return 0;  // bodies are traced whole elsewhere; TLS records never
    }
    TraceText(prefix, std::string(data, size),
              KnownSecrets(client->headers_, client->proxyPassword_));
    return 0;
}

void KXLibCurl::ResetAnswer() {
    httpStatus_ = 0;
    body_.clear();
    hasBody_ = false;
    bodyBytes_ = 0;
    curlResult_ = CURLE_OK;
    requestSent_ = false;
    responseHeaders_.clear();
    errorBuffer_[0] = '\0';
}
