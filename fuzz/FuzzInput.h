// Helpers shared by the fuzz targets: turning libFuzzer's bytes into the
// inputs our parsers receive from the outside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace kxfuzz {

inline std::string AsText(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Host records hand their texts over as C strings: nothing after a NUL byte
// ever reaches a parser that reads them.
inline std::string AsCString(const uint8_t* data, size_t size) {
    std::string text = AsText(data, size);
    return text.substr(0, text.find('\0'));
}

// The first byte picks which parser of a family receives the rest, so one
// corpus exercises all of them and interesting inputs cross over.
struct Selected {
    unsigned choice = 0;
    std::string text;
};

inline Selected Select(const uint8_t* data, size_t size, unsigned choices) {
    Selected selected;
    if (size == 0) {
        return selected;
    }
    selected.choice = data[0] % choices;
    selected.text = AsText(data + 1, size - 1);
    return selected;
}

// A property the parser promised and broke: libFuzzer reports the input.
inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace kxfuzz
