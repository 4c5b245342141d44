// Managed-identity tokens the emulator issued. Only their SHA-256 digests are kept, so neither
// the state file nor a state dump ever holds a usable token. Not thread-safe: the engine
// guards it.
#pragma once

#include <string>
#include <vector>

#include "Model.h"

namespace azemu {

struct IssuedToken {
    std::string token;
    int64_t notBeforeMs = 0;
    int64_t expiresMs = 0;
};

enum class TokenCheck { Valid, Unknown, Expired };

class TokenStore {
public:
    IssuedToken issue(int lifetimeSec);
    // `expiresMs`, when given, receives the expiry of a known token.
    TokenCheck check(const std::string& token, int64_t nowMs, int64_t* expiresMs = nullptr) const;
    size_t size() const { return tokens_.size(); }

    const std::vector<TokenRecord>& records() const { return tokens_; }
    void load(std::vector<TokenRecord> records) { tokens_ = std::move(records); }

private:
    std::vector<TokenRecord> tokens_;
};

std::string sha256Hex(const std::string& data);

}  // namespace azemu
