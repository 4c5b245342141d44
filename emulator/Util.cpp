#include "Util.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <stdexcept>

#include <openssl/rand.h>

namespace azemu {

bool iequals(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string toLower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string toUpper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

bool startsWithIgnoreCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

std::string trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "";
    auto last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string::size_type start = 0;
    for (;;) {
        auto pos = s.find(sep, start);
        out.push_back(s.substr(start, pos - start));
        if (pos == std::string::npos)
            return out;
        start = pos + 1;
    }
}

std::string normalizeLocation(const std::string& location) {
    std::string out;
    for (unsigned char c : location) {
        if (!std::isspace(c))
            out.push_back(static_cast<char>(std::tolower(c)));
    }
    return out;
}

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string isoTime(int64_t epochMs) {
    std::time_t seconds = static_cast<std::time_t>(epochMs / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &utc);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%03d0000", static_cast<int>(epochMs % 1000));
    return std::string(date) + fraction + "+00:00";
}

std::string isoTimeSeconds(int64_t epochMs) {
    std::time_t seconds = static_cast<std::time_t>(epochMs / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return date;
}

std::string randomHex(size_t bytes) {
    std::vector<unsigned char> buf(bytes);
    if (RAND_bytes(buf.data(), static_cast<int>(buf.size())) != 1) {
        throw std::runtime_error("no randomness available");
    }
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : buf) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::string randomUuid() {
    std::string h = randomHex(16);
    h[12] = '4';                        // version 4
    h[16] = "89ab"[(h[16] - '0') & 3];  // RFC 4122 variant
    return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) +
           "-" + h.substr(20);
}

}  // namespace azemu
