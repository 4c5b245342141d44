// The web proxy of the installation, as both REST paths use it: the
// installation-wide parameters first, then the client's own settings of
// section "Ferrolink" may override them. The metadata service is always
// reached directly. The proxy password is never logged.
#pragma once

#include <functional>
#include <string>

class KXLibCurl;

struct HttpWebProxyInfo {
    bool useProxy = false;
    bool useAuthentication = false;
    std::string proxy;  // host, optionally ":" and the port
    std::string user;
    std::string password;  // plain once decrypted; never logged
};

namespace kxproxy {

// Where the decision's log lines go (level, text).
using ProxyLog = std::function<void(int level, const std::string& line)>;

// The proxy to use; never fails.
HttpWebProxyInfo QueryWebProxy(const ProxyLog& log);

// Applies `proxy` to `curl` and always sets the metadata service's bypass.
// nullptr on success, otherwise the text of the step that failed.
const char* ApplyWebProxy(KXLibCurl& curl, const HttpWebProxyInfo& proxy);

}  // namespace kxproxy
