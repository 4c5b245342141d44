#include "Tokens.h"

#include <openssl/evp.h>

#include <algorithm>
#include <stdexcept>

#include "Util.h"

namespace azemu {

std::string sha256Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 failed");
    }
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 15]);
    }
    return out;
}

IssuedToken TokenStore::issue(int lifetimeSec) {
    IssuedToken t;
    t.token = randomHex(32);
    t.notBeforeMs = nowMs();
    t.expiresMs = t.notBeforeMs + int64_t{lifetimeSec} * 1000;
    // Expired tokens are of no further use; forgetting them keeps a long-lived state file small.
    int64_t now = t.notBeforeMs;
    tokens_.erase(
        std::remove_if(tokens_.begin(), tokens_.end(),
                       [now](const TokenRecord& r) { return r.expiresMs + 3600 * 1000 < now; }),
        tokens_.end());
    tokens_.push_back({sha256Hex(t.token), t.expiresMs});
    return t;
}

TokenCheck TokenStore::check(const std::string& token, int64_t now, int64_t* expiresMs) const {
    std::string digest = sha256Hex(token);
    for (const auto& r : tokens_) {
        if (r.sha256 != digest) continue;
        if (expiresMs) *expiresMs = r.expiresMs;
        return r.expiresMs > now ? TokenCheck::Valid : TokenCheck::Expired;
    }
    return TokenCheck::Unknown;
}

}  // namespace azemu
