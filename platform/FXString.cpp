#include "platform/FXString.h"

#include <algorithm>
#include <cstdio>

namespace {
// ASCII only on purpose: header names, keys and flags are ASCII, and the
// answer must not depend on the host's locale.
char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
}  // namespace

namespace FXString {

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    return text;
}

std::string FormatV(const char* format, va_list args) {
    if (format == nullptr) {
        return std::string();
    }
    // First pass measures, second pass writes: no length limit on the result.
    va_list measureArgs;
    va_copy(measureArgs, args);
    const int needed = vsnprintf(nullptr, 0, format, measureArgs);
    va_end(measureArgs);
    if (needed <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    va_list writeArgs;
    va_copy(writeArgs, args);
    vsnprintf(text.data(), text.size(), format, writeArgs);
    va_end(writeArgs);
    text.resize(static_cast<size_t>(needed));
    return text;
}

std::string Trim(const std::string& text, const std::string& chars) {
    return TrimLeft(TrimRight(text, chars), chars);
}

std::string TrimLeft(const std::string& text, const std::string& chars) {
    const size_t first = text.find_first_not_of(chars);
    return first == std::string::npos ? std::string() : text.substr(first);
}

std::string TrimRight(const std::string& text, const std::string& chars) {
    const size_t last = text.find_last_not_of(chars);
    return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

std::vector<std::string> Split(const std::string& text, const std::string& separator,
                               unsigned flags) {
    const bool dropEmpty = (flags & SPLIT_DROP_EMPTY) != 0;
    std::vector<std::string> parts;
    auto keep = [&](std::string part) {
        if (!dropEmpty || !part.empty()) {
            parts.push_back(std::move(part));
        }
    };
    if (separator.empty()) {
        keep(text);
        return parts;
    }
    size_t start = 0;
    for (size_t hit = text.find(separator); hit != std::string::npos;
         hit = text.find(separator, start)) {
        keep(text.substr(start, hit - start));
        start = hit + separator.size();
    }
    keep(text.substr(start));
    return parts;
}

std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return text;
    }
    std::string result;
    result.reserve(text.size());
    size_t start = 0;
    for (size_t hit = text.find(from); hit != std::string::npos; hit = text.find(from, start)) {
        result.append(text, start, hit - start);
        result += to;
        start = hit + from.size();
    }
    result.append(text, start, std::string::npos);
    return result;
}

size_t FindString(const std::string& text, const std::string& needle, bool ignoreCase) {
    if (!ignoreCase) {
        return text.find(needle);
    }
    return ToLower(text).find(ToLower(needle));
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

std::string ToUpper(const std::string& text) {
    std::string result(text);
    for (char& c : result) {
        c = AsciiUpper(c);
    }
    return result;
}

std::string ToLower(const std::string& text) {
    std::string result(text);
    for (char& c : result) {
        c = AsciiLower(c);
    }
    return result;
}

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string result;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            result += separator;
        }
        result += parts[i];
    }
    return result;
}

std::string RemoveLeft(const std::string& text, size_t count) {
    return count >= text.size() ? std::string() : text.substr(count);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace FXString
