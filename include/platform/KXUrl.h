// The origin (scheme, host, port) of a URL, for deciding where a credential
// may go: a link handed to us by a server is followed with our token only
// when it names the origin we were configured for.
#pragma once

#include <string>

namespace KXUrl {

struct Origin {
    std::string scheme;  // lower case: "https"
    std::string host;    // lower case, IPv6 literals without brackets
    int port = 0;        // the scheme's default port when the URL names none
    bool valid = false;  // false for a URL without "scheme://host"
};

// User information ("user:password@") is skipped; it is never part of the origin.
Origin OriginOf(const std::string& url);
// Both valid and equal in scheme, host and port.
bool SameOrigin(const std::string& a, const std::string& b);

}  // namespace KXUrl
