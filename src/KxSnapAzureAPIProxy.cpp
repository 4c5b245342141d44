// The web proxy of both REST paths (KxSnapWebProxy.h) and the managed-disk
// client's use of it.
#include <cstring>
#include <string>
#include <vector>

#include "KxSnapAzureAPI.h"
#include "KxSnapWebProxy.h"
#include "platform/FXString.h"
#include "platform/KXLibCurl.h"
#include "platform/KXPassword.h"
#include "platform/KXPlatformInfo.h"
#include "platform/KxPlatformEnv.h"

namespace kxproxy {

namespace {

constexpr const char* kProxyNameKey = "httpProxyName";
constexpr const char* kProxyPortKey = "httpProxyPort";
constexpr const char* kProxyUserKey = "httpProxyUser";
constexpr const char* kProxyPasswordKey = "httpProxyPassword";
constexpr const char* kNoProxyAddress = "0.0.0.0";
constexpr size_t kPasswordBufferSize = 1024;

// The plain text of an enciphered password, "" when it cannot be decrypted.
// The buffer is wiped before it goes away.
std::string DecryptPassword(const std::string& enciphered) {
    std::vector<char> buffer(kPasswordBufferSize, '\0');
    std::string plain;
    if (KXPassword::decrypt(enciphered, buffer.data(), buffer.size()) == 0) {
        buffer.back() = '\0';
        plain = buffer.data();
    }
    std::memset(buffer.data(), 0, buffer.size());
    return plain;
}

void QueryInstallationProxy(HttpWebProxyInfo& proxyInfo, const ProxyLog& log) {
    int useProxy = 0;
    if (KXGlobalParam::get(SENDLOGS_USE_HTTP_PROXY, useProxy, nullptr) == 0 && useProxy >= 1) {
        log(1, "Using HTTP Proxy");
        proxyInfo.useProxy = true;
    }
    if (!proxyInfo.useProxy) {
        return;
    }
    std::string site;
    int port = 0;
    if (KXGlobalParam::get(SENDLOGS_HTTP_PROXY_SITE, site, nullptr) != 0) {
        log(1, "Could not get HTTP Proxy Site. Proceeding without http proxy.");
        proxyInfo.useProxy = false;
    } else if (KXGlobalParam::get(SENDLOGS_HTTP_PROXY_PORT, port, nullptr) != 0) {
        log(1, "Could not get HTTP Proxy port. Proceeding without hhtp proxy.");
        proxyInfo.useProxy = false;
    } else if (site == kNoProxyAddress) {
        log(1, "HTTP Proxy Site is pointing to 0.0.0.0. Proceeding without hhtp proxy.");
        proxyInfo.useProxy = false;
    }
    if (!proxyInfo.useProxy) {
        return;
    }
    int useAuthentication = 0;
    if (KXGlobalParam::get(MARLGATE_USE_PROXY_AUTHENTICATION, useAuthentication, nullptr) != 0) {
        log(1, "Could not get HTTP option -> Use HTTP Proxy Authentication");
    } else if (useAuthentication > 0) {
        proxyInfo.useAuthentication = true;
    }
    if (proxyInfo.useAuthentication) {
        std::string user;
        std::string enciphered;
        KXGlobalParam::get(SENDLOGS_HTTP_PROXY_USER, user, nullptr);
        KXGlobalParam::get(SENDLOGS_HTTP_PROXY_PASSWORD, enciphered, nullptr);
        const std::string plain = enciphered.empty() ? "" : DecryptPassword(enciphered);
        if (user.empty() || plain.empty()) {
            log(1, "User name/pwd is empty. Trying without authentication");
            proxyInfo.useAuthentication = false;
        } else {
            proxyInfo.user = user;
            proxyInfo.password = plain;
        }
    }
    proxyInfo.proxy = site + ":" + std::to_string(port);
}

void QueryClientProxyOverride(HttpWebProxyInfo& proxyInfo, const ProxyLog& log) {
    std::string name;
    if (!KXPlatformInfo::getString(KX_SETTINGS_SECTION, kProxyNameKey, name)) {
        return;
    }
    int32_t port = 0;
    std::string user;
    std::string enciphered;
    KXPlatformInfo::getNumber(KX_SETTINGS_SECTION, kProxyPortKey, port);
    KXPlatformInfo::getString(KX_SETTINGS_SECTION, kProxyUserKey, user);
    KXPlatformInfo::getString(KX_SETTINGS_SECTION, kProxyPasswordKey, enciphered);

    if (name.empty() || name == kNoProxyAddress) {
        proxyInfo.useProxy = false;
        proxyInfo.proxy.clear();
        proxyInfo.user.clear();
        proxyInfo.password.clear();
        log(1, "Registry key is set to disable HTTP proxy settings.");
        return;
    }
    if (port != 0) {
        name += ":" + std::to_string(port);
    }
    const std::string plain = enciphered.empty() ? "" : DecryptPassword(enciphered);
    if (user.empty() || plain.empty()) {
        log(1, "User name/pwd is empty. Trying without authentication");
        proxyInfo.useAuthentication = false;
    } else {
        proxyInfo.user = user;
        proxyInfo.password = plain;
        proxyInfo.useAuthentication = true;
        log(0, "Decrypting the pwd ...");
    }
    proxyInfo.proxy = name;
    proxyInfo.useProxy = true;
    log(1, FXString::Format(
               "Override Dornhold level setting with client level setting  proxy [%s]  user [%s]",
               proxyInfo.proxy.c_str(), proxyInfo.user.c_str()));
}

}  // namespace

HttpWebProxyInfo QueryWebProxy(const ProxyLog& log) {
    HttpWebProxyInfo proxyInfo;
    QueryInstallationProxy(proxyInfo, log);
    QueryClientProxyOverride(proxyInfo, log);
    if (proxyInfo.useProxy) {
        log(1, FXString::Format("Using proxy setting host [%s] user [%s]",
                                proxyInfo.proxy.c_str(), proxyInfo.user.c_str()));
    }
    return proxyInfo;
}

const char* ApplyWebProxy(KXLibCurl& curl, const HttpWebProxyInfo& proxy) {
    if (proxy.useProxy && !curl.KXLibCurlSetAdditionalOptionsStringValue(CURLOPT_PROXY, proxy.proxy)) {
        return "Failed to set HTTP proxy name and port.";
    }
    if (proxy.useProxy && proxy.useAuthentication &&
        !curl.KXLibCurlSetAdditionalOptionsIntValue(CURLOPT_PROXYAUTH,
                                                    static_cast<long>(CURLAUTH_ANY))) {
        return "Failed to set HTTP authentication scheme";
    }
    if (proxy.useProxy && proxy.useAuthentication &&
        !curl.KXLibCurlSetAdditionalOptionsStringValue(CURLOPT_PROXYUSERPWD,
                                                       proxy.user + ":" + proxy.password)) {
        return "Failed to set HTTP authentication inputs";
    }
    // With or without a proxy: instance metadata and token requests never
    // go through one.
    if (!curl.KXLibCurlSetAdditionalOptionsStringValue(CURLOPT_NOPROXY,
                                                       KxPlatformEnv::ImdsHost())) {
        return "Failed to set bypass HTTP proxy";
    }
    return nullptr;
}

}  // namespace kxproxy

CUxError KxSnapAzureAPI::QueryWebProxySettings() {
    proxyInfo = kxproxy::QueryWebProxy(
        [this](int level, const std::string& line) { Log(level, "%s", line.c_str()); });
    return CUxError::Success();
}

CUxError KxSnapAzureAPI::ConfigureWebProxySettings() {
    QueryWebProxySettings();
    Log(0, "UseWebProxy [%d] url [%s] username[%s]", proxyInfo.useProxy ? 1 : 0,
        proxyInfo.proxy.c_str(), proxyInfo.user.c_str());
    const char* failure =
        curl ? kxproxy::ApplyWebProxy(*curl, proxyInfo) : "Failed to Initialize Curl Library";
    if (failure == nullptr) {
        return CUxError::Success();
    }
    CUxError err = FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s", failure);
    err.Push(FXCODE_LOCATION());
    FXErrorUtil::LogError(err);
    return err;
}
