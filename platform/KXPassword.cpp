#include "platform/KXPassword.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/FXString.h"

namespace {

constexpr const char* kSchemePrefix = "kxenc1:";
constexpr const char* kKey = "KXSO-PWD";
constexpr const char* kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// XOR with the repeating key is its own inverse.
std::string ApplyKey(const std::string& bytes) {
    const size_t keyLength = strlen(kKey);
    std::string result(bytes);
    for (size_t i = 0; i < result.size(); ++i) {
        result[i] = static_cast<char>(result[i] ^ kKey[i % keyLength]);
    }
    return result;
}

std::string EncodeBase64(const std::string& bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t available = bytes.size() - i;
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (available > 1) {
            group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        if (available > 2) {
            group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 2]));
        }
        text += kBase64Alphabet[(group >> 18) & 0x3F];
        text += kBase64Alphabet[(group >> 12) & 0x3F];
        text += available > 1 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
        text += available > 2 ? kBase64Alphabet[group & 0x3F] : '=';
    }
    return text;
}

int Base64Digit(char c) {
    const char* hit = c != '\0' ? strchr(kBase64Alphabet, c) : nullptr;
    return hit != nullptr ? static_cast<int>(hit - kBase64Alphabet) : -1;
}

// Strict: whole groups of four, '=' only as the last one or two characters.
// A text that is only almost base64 is more likely a plain password typed
// into the wrong key than something worth guessing at.
bool DecodeBase64(const std::string& text, std::string& bytes) {
    bytes.clear();
    if (text.size() % 4 != 0) {
        return false;
    }
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool lastGroup = i + 4 == text.size();
        int padding = 0;
        uint32_t group = 0;
        for (size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            int digit = 0;
            if (c == '=' && lastGroup && j >= 2) {
                ++padding;
            } else if (padding > 0 || (digit = Base64Digit(c)) < 0) {
                return false;
            }
            group = (group << 6) | static_cast<uint32_t>(digit);
        }
        bytes += static_cast<char>((group >> 16) & 0xFF);
        if (padding < 2) {
            bytes += static_cast<char>((group >> 8) & 0xFF);
        }
        if (padding < 1) {
            bytes += static_cast<char>(group & 0xFF);
        }
    }
    return true;
}

void Wipe(std::string& secret) {
    std::fill(secret.begin(), secret.end(), '\0');
    secret.clear();
}

}  // namespace

namespace KXPassword {

int decrypt(const std::string& enciphered, char* buffer, size_t size) {
    if (buffer == nullptr || !FXString::StartsWith(enciphered, kSchemePrefix)) {
        return 1;
    }
    std::string bytes;
    if (!DecodeBase64(enciphered.substr(strlen(kSchemePrefix)), bytes)) {
        return 2;
    }
    std::string plain = ApplyKey(bytes);
    Wipe(bytes);
    // A NUL inside would silently shorten the password the caller sees.
    const bool usable = plain.find('\0') == std::string::npos && plain.size() < size;
    if (usable) {
        memcpy(buffer, plain.data(), plain.size());
        buffer[plain.size()] = '\0';
    }
    Wipe(plain);
    return usable ? 0 : 3;
}

std::string encrypt(const std::string& plain) {
    return std::string(kSchemePrefix) + EncodeBase64(ApplyKey(plain));
}

}  // namespace KXPassword
