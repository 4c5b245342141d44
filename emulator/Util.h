// Small text, time and randomness helpers shared by the emulator's parts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace azemu {

// ARM compares names, paths and most enumerations without regard to letter case.
bool iequals(const std::string& a, const std::string& b);
std::string toLower(std::string s);
std::string toUpper(std::string s);
bool startsWithIgnoreCase(const std::string& s, const std::string& prefix);
std::string trim(const std::string& s);
std::vector<std::string> split(const std::string& s, char sep);  // keeps empty fields

// Locations are spelled "West US" in some documents and "westus" in others.
std::string normalizeLocation(const std::string& location);

// Wall-clock milliseconds since the epoch. Due times are stored in this clock so that they
// survive a restart with --state.
int64_t nowMs();
// "2016-12-28T04:41:35.0798720+00:00", the form Compute uses for timeCreated and operations.
std::string isoTime(int64_t epochMs);
// "2017-08-15T13:23:33Z", the form NetApp Files uses for a snapshot's "created".
std::string isoTimeSeconds(int64_t epochMs);

std::string randomHex(size_t bytes);
std::string randomUuid();

}  // namespace azemu
