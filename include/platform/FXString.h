// Small string utilities used across the plug-in.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

namespace FXString {
// printf into a std::string. The format is always a constant of ours.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// Strips any of `chars` from both ends.
std::string Trim(const std::string& text, const std::string& chars = " \t\r\n");
std::string TrimLeft(const std::string& text, const std::string& chars = " \t\r\n");
std::string TrimRight(const std::string& text, const std::string& chars = " \t\r\n");

// Splits at every occurrence of `separator` and keeps empty parts, so "a:" gives
// {"a", ""} and "" gives {""}. Flag SPLIT_DROP_EMPTY drops empty parts.
enum SplitFlags : unsigned { SPLIT_KEEP_EMPTY = 0, SPLIT_DROP_EMPTY = 1 };
std::vector<std::string> Split(const std::string& text, const std::string& separator,
                               unsigned flags = SPLIT_KEEP_EMPTY);

std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to);
// Position of `needle` in `text` or std::string::npos.
size_t FindString(const std::string& text, const std::string& needle, bool ignoreCase = false);
bool EqualsNoCase(const std::string& a, const std::string& b);
std::string ToUpper(const std::string& text);
std::string ToLower(const std::string& text);
std::string Join(const std::vector<std::string>& parts, const std::string& separator);
// Drops the first `count` characters (all of them when count exceeds the length).
std::string RemoveLeft(const std::string& text, size_t count);
bool StartsWith(const std::string& text, const std::string& prefix);
bool EndsWith(const std::string& text, const std::string& suffix);
}  // namespace FXString
