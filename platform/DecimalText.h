// Strict decimal parsing shared by the settings store and the JSON helper:
// the whole text must be the number, in range for the target type.
#pragma once

#include <charconv>
#include <string>
#include <type_traits>

namespace KxDecimalText {

template <typename Integer>
bool Parse(const std::string& text, Integer& value) {
    static_assert(std::is_integral<Integer>::value, "integers only");
    const char* first = text.data();
    const char* last = text.data() + text.size();
    // from_chars refuses a leading '+', which people do write in settings.
    if (first != last && *first == '+') {
        ++first;
        if (first != last && (*first == '-' || *first == '+')) {
            return false;
        }
    }
    if (first == last) {
        return false;
    }
    Integer parsed{};
    const std::from_chars_result result = std::from_chars(first, last, parsed, 10);
    if (result.ec != std::errc() || result.ptr != last) {
        return false;
    }
    value = parsed;
    return true;
}

}  // namespace KxDecimalText
