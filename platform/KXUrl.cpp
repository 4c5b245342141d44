#include "platform/KXUrl.h"

#include <cstdlib>

#include "platform/FXString.h"

namespace KXUrl {

namespace {

int DefaultPort(const std::string& scheme) {
    if (scheme == "https") {
        return 443;
    }
    return scheme == "http" ? 80 : 0;
}

// The port text after a host; -1 when it is not a number in range.
int ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    const int port = std::atoi(text.c_str());
    return port > 0 && port <= 65535 ? port : -1;
}

}  // namespace

Origin OriginOf(const std::string& url) {
    Origin origin;
    const size_t separator = url.find("://");
    if (separator == std::string::npos || separator == 0) {
        return origin;
    }
    origin.scheme = FXString::ToLower(url.substr(0, separator));
    std::string authority = url.substr(separator + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const size_t userInfo = authority.rfind('@');
    if (userInfo != std::string::npos) {
        authority.erase(0, userInfo + 1);
    }
    std::string portText;
    if (FXString::StartsWith(authority, "[")) {
        const size_t close = authority.find(']');
        if (close == std::string::npos) {
            return origin;
        }
        origin.host = authority.substr(1, close - 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                return origin;
            }
            portText = rest.substr(1);
        }
    } else {
        const size_t colon = authority.find(':');
        origin.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            portText = authority.substr(colon + 1);
        }
    }
    origin.host = FXString::ToLower(origin.host);
    origin.port = portText.empty() ? DefaultPort(origin.scheme) : ParsePort(portText);
    origin.valid = !origin.scheme.empty() && !origin.host.empty() && origin.port > 0;
    return origin;
}

bool SameOrigin(const std::string& a, const std::string& b) {
    const Origin first = OriginOf(a);
    const Origin second = OriginOf(b);
    return first.valid && second.valid && first.scheme == second.scheme &&
           first.host == second.host && first.port == second.port;
}

}  // namespace KXUrl
