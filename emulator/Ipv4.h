// IPv4 addresses and prefixes, for handing out mount target addresses from a subnet.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace azemu {

std::optional<uint32_t> parseIpv4(const std::string& text);
std::string formatIpv4(uint32_t address);

struct Ipv4Prefix {
    uint32_t network = 0;
    int length = 0;

    bool contains(uint32_t address) const;
    uint32_t broadcast() const;
    std::string netmask() const;
    std::string text() const;  // "10.20.1.0/24"
};
// "10.20.1.0/24"; host bits are cleared. nullopt for anything else, or for a prefix longer
// than /29, which Azure does not allow for a subnet.
std::optional<Ipv4Prefix> parseIpv4Prefix(const std::string& text);

// Azure keeps the first four addresses of every subnet and its last one for itself.
constexpr uint32_t kAzureReservedLow = 4;

}  // namespace azemu
