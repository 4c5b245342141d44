// The compiled regular expressions of the NetApp Files path and the one way
// they are applied to outside text.
#pragma once

#include <regex>
#include <string>
#include <vector>

namespace AzureNetApp {

// Built once, thread-safely, on first use.
const std::regex& rawVolumePathRegex();
const std::regex& rawSnapshotPathRegex();
const std::regex& sourceDeviceNameRegex();

// Outside text longer than this never matches: std::regex backtracks
// recursively, one stack frame per character.
constexpr size_t kMaxRegexInputLength = 4096;
// Nor does text holding one of the expression's separators more often than
// this: every extra occurrence multiplies the ways greedy groups can split the
// text, and a crafted name would keep the matcher busy for minutes. Real names
// hold each separator once.
constexpr size_t kMaxSeparatorOccurrences = 8;

// std::regex_match of the whole `text`, after the two bounds above on the
// given separators. Never throws: a regex error is a non-match.
bool matchWhole(const std::string& text, const std::regex& expression,
                const std::vector<std::string>& separators, std::smatch& match);

// The separators of the resource-id expressions and of the source device name.
const std::vector<std::string>& resourceIdSeparators();
const std::vector<std::string>& sourceDeviceNameSeparators();

}  // namespace AzureNetApp
