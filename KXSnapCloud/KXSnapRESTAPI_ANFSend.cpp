// Sending a request and reading its answer, and keeping secrets out of the log.
#include <algorithm>
#include <cstdarg>

#include "KXSnapCloud/KXSnapRESTAPI_ANF.h"
#include "platform/KXLibCurl.h"

namespace {

constexpr const char* kMask = "*****";

// Members whose string value is a credential. The token response carries
// "access_token" (and may carry the others); none may reach the log.
const char* const kSecretKeys[] = {"access_token", "refresh_token", "id_token", "client_secret",
                                   "password"};

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Position of `needle` in `text` at or after `from`, ignoring ASCII letter
// case, or npos. No copies: responses can be large.
size_t FindNoCase(const std::string& text, const std::string& needle, size_t from) {
    if (from >= text.size()) {
        return std::string::npos;
    }
    const auto found =
        std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), needle.begin(),
                    needle.end(), [](char a, char b) { return AsciiLower(a) == AsciiLower(b); });
    return found == text.end() ? std::string::npos : static_cast<size_t>(found - text.begin());
}

size_t SkipBlanks(const std::string& text, size_t at) {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n')) {
        ++at;
    }
    return at;
}

// The position just past the closing quote of the JSON string that opens at
// `quote`, or npos when it does not close.
size_t EndOfJsonString(const std::string& text, size_t quote) {
    for (size_t at = quote + 1; at < text.size(); ++at) {
        if (text[at] == '\\') {
            ++at;
        } else if (text[at] == '"') {
            return at + 1;
        }
    }
    return std::string::npos;
}

// Replaces the string value of every member `key` ("key": "value") by the mask.
// Works on any text, JSON or not, and leaves everything else as it was.
std::string MaskJsonMember(const std::string& text, const std::string& key) {
    const std::string quotedKey = "\"" + key + "\"";
    std::string masked;
    size_t copied = 0;
    size_t search = 0;
    while (true) {
        const size_t keyAt = FindNoCase(text, quotedKey, search);
        if (keyAt == std::string::npos) {
            break;
        }
        const size_t afterKey = keyAt + quotedKey.size();
        size_t at = SkipBlanks(text, afterKey);
        search = afterKey;
        if (at >= text.size() || text[at] != ':') {
            continue;
        }
        at = SkipBlanks(text, at + 1);
        if (at >= text.size() || text[at] != '"') {
            continue;
        }
        const size_t end = EndOfJsonString(text, at);
        // An unterminated value is masked to the end: better too much than a
        // token's tail.
        const size_t valueEnd = end == std::string::npos ? text.size() : end - 1;
        masked.append(text, copied, at + 1 - copied);
        masked += kMask;
        copied = valueEnd;
        search = end == std::string::npos ? text.size() : end;
    }
    masked.append(text, copied, std::string::npos);
    return masked;
}

bool EndsBearerToken(char c) {
    return c == ' ' || c == '"' || c == '\'' || c == ',' || c == '}' || c == '\r' || c == '\n' ||
           c == '\t';
}

// Replaces what follows every "Bearer " up to the next separator.
std::string MaskBearerTokens(const std::string& text) {
    static const std::string kBearer = "Bearer ";
    std::string masked;
    size_t copied = 0;
    size_t search = 0;
    while (true) {
        const size_t found = FindNoCase(text, kBearer, search);
        if (found == std::string::npos) {
            break;
        }
        const size_t tokenStart = found + kBearer.size();
        size_t tokenEnd = tokenStart;
        while (tokenEnd < text.size() && !EndsBearerToken(text[tokenEnd])) {
            ++tokenEnd;
        }
        masked.append(text, copied, tokenStart - copied);
        if (tokenEnd > tokenStart) {
            masked += kMask;
        }
        copied = tokenEnd;
        search = tokenEnd;
    }
    masked.append(text, copied, std::string::npos);
    return masked;
}

}  // namespace

void KXSnapRESTAPI_ANF::maskSensitiveDetails(const std::string& in, std::string& out) const {
    std::string masked = in;
    for (const char* key : kSecretKeys) {
        masked = MaskJsonMember(masked, key);
    }
    out = MaskBearerTokens(masked);
}

bool KXSnapRESTAPI_ANF::get(const std::string& path, const std::string& body, std::string& response,
                            bool meta) {
    return sendReq(REQ_GET, path, body, response, meta);
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

namespace {

// The platform client's method for a request type, or -1.
int ClientMethod(int type) {
    switch (type) {
        case KXSnapRESTAPI_ANF::REQ_GET:
            return HTTP_REQ_GET;
        case KXSnapRESTAPI_ANF::REQ_POST:
            return HTTP_REQ_POST;
        case KXSnapRESTAPI_ANF::REQ_PUT:
            return HTTP_REQ_PUT;
        case KXSnapRESTAPI_ANF::REQ_DELETE:
            return HTTP_REQ_DELETE;
        case KXSnapRESTAPI_ANF::REQ_PATCH:
            // The client numbers HEAD 4; PATCH is its 5.
            return HTTP_REQ_PATCH;
        default:
            return -1;
    }
}

}  // namespace

bool KXSnapRESTAPI_ANF::sendReq(int type, const std::string& path, const std::string& body,
                                std::string& response, bool meta) {
    response.clear();
    httpErrorCode = 0;
    // connect() lets its own token request through before the transport is connected.
    if (!connecting && !(initialized && connected)) {
        logLine(KXSO::LOG_ERROR,
                "Error:Connect module has to be called before making any queries.");
        return false;
    }
    if (meta) {
        logLine(KXSO::LOG_DETAIL, "**  Meta REST call  **");
    }
    std::string url;
    formUrlPath(path, url, meta);
    // A header that could not be set is logged there; the request still goes
    // out and Azure's answer says what was missing.
    setCommonCurlHeaders(meta);
    const int method = ClientMethod(type);
    if (method < 0) {
        logLine(KXSO::LOG_ERROR, "Unsupported request type [%d]", type);
        return false;
    }
    const bool sent = sendToClient(method, url, body);
    httpErrorCode = curl->GetHttpErrorCode();
    readResponse(url, body, response);
    return sent;
}

bool KXSnapRESTAPI_ANF::sendToClient(int method, const std::string& url, const std::string& body) {
    if (!body.empty()) {
        if (curl->KXLibCurlSendHttpReq(method, url, body.c_str(), body.size(), false, nullptr)) {
            return true;
        }
        std::string maskedBody;
        maskSensitiveDetails(body, maskedBody);
        logLine(KXSO::LOG_ERROR, "Error while processing the request. URL[%s] Request[%s]",
                url.c_str(), maskedBody.c_str());
        return false;
    }
    if (curl->KXLibCurlSendHttpReq(method, url, nullptr, 0, false, nullptr)) {
        return true;
    }
    logLine(KXSO::LOG_ERROR, "Error while processing the request. URL[%s]", url.c_str());
    return false;
}

void KXSnapRESTAPI_ANF::readResponse(const std::string& url, const std::string& body,
                                     std::string& response) {
    size_t length = 0;
    const char* answer = curl->GetHttpResponse(length, false);
    if (answer != nullptr && length != 0) {
        response.assign(answer, length);
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
