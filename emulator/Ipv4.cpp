#include "Ipv4.h"

#include <cctype>

#include "Util.h"

namespace azemu {

std::optional<uint32_t> parseIpv4(const std::string& text) {
    auto parts = split(text, '.');
    if (parts.size() != 4)
        return std::nullopt;
    uint32_t address = 0;
    for (const auto& part : parts) {
        if (part.empty() || part.size() > 3)
            return std::nullopt;
        for (unsigned char c : part) {
            if (!std::isdigit(c))
                return std::nullopt;
        }
        int value = std::stoi(part);
        if (value > 255)
            return std::nullopt;
        address = (address << 8) | static_cast<uint32_t>(value);
    }
    return address;
}

std::string formatIpv4(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
           std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

namespace {

uint32_t maskOf(int length) {
    return length == 0 ? 0 : ~uint32_t(0) << (32 - length);
}

}  // namespace

bool Ipv4Prefix::contains(uint32_t address) const {
    return (address & maskOf(length)) == network;
}

uint32_t Ipv4Prefix::broadcast() const {
    return network | ~maskOf(length);
}

std::string Ipv4Prefix::netmask() const {
    return formatIpv4(maskOf(length));
}

std::string Ipv4Prefix::text() const {
    return formatIpv4(network) + "/" + std::to_string(length);
}

std::optional<Ipv4Prefix> parseIpv4Prefix(const std::string& text) {
    auto slash = text.find('/');
    if (slash == std::string::npos)
        return std::nullopt;
    auto address = parseIpv4(text.substr(0, slash));
    std::string lengthText = text.substr(slash + 1);
    if (!address || lengthText.empty() || lengthText.size() > 2)
        return std::nullopt;
    for (unsigned char c : lengthText) {
        if (!std::isdigit(c))
            return std::nullopt;
    }
    int length = std::stoi(lengthText);
    if (length > 29)
        return std::nullopt;
    return Ipv4Prefix{*address & maskOf(length), length};
}

}  // namespace azemu
