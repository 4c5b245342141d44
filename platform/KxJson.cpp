#include "platform/KxJson.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "DecimalText.h"
#include "platform/FXString.h"

namespace {

// nlohmann parses without recursion, but copying and serialising a value
// recurse once per level: a deep document must never get that far.
void RefuseOverDeep(const std::string& text) {
    size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > KxJson::kMaxDepth) {
                throw std::runtime_error(FXString::Format(
                    "JSON document nests deeper than %zu levels", KxJson::kMaxDepth));
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

void RefuseOversized(const std::string& text) {
    if (text.size() > KxJson::kMaxDocumentBytes) {
        throw std::runtime_error(FXString::Format("JSON document of %zu bytes exceeds %zu bytes",
                                                  text.size(), KxJson::kMaxDocumentBytes));
    }
}

const KxJson::Value* Member(const KxJson::Value& object, const std::string& key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

template <typename Integer>
bool InRange(long double number) {
    return number >= static_cast<long double>(std::numeric_limits<Integer>::min()) &&
           number <= static_cast<long double>(std::numeric_limits<Integer>::max());
}

// Reads a JSON number or numeric string as Integer; false for anything else,
// for fractions and for values out of range.
template <typename Integer>
bool ReadInteger(const KxJson::Value& value, Integer& out) {
    if (value.is_number_unsigned()) {
        const uint64_t number = value.get<uint64_t>();
        if (number > static_cast<uint64_t>(std::numeric_limits<Integer>::max())) {
            return false;
        }
        out = static_cast<Integer>(number);
        return true;
    }
    if (value.is_number_integer()) {
        const int64_t number = value.get<int64_t>();
        if (!InRange<Integer>(static_cast<long double>(number))) {
            return false;
        }
        out = static_cast<Integer>(number);
        return true;
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number ||
            !InRange<Integer>(static_cast<long double>(number))) {
            return false;
        }
        out = static_cast<Integer>(number);
        return true;
    }
    if (value.is_string()) {
        return KxDecimalText::Parse(FXString::Trim(value.get_ref<const std::string&>()), out);
    }
    return false;
}

template <typename Integer>
Integer GetInteger(const KxJson::Value& object, const std::string& key, Integer absent) {
    const KxJson::Value* member = Member(object, key);
    Integer value = absent;
    if (member == nullptr || !ReadInteger(*member, value)) {
        return absent;
    }
    return value;
}

}  // namespace

namespace KxJson {

Value Unserialize(const std::string& text) {
    RefuseOversized(text);
    RefuseOverDeep(text);
    try {
        return Value::parse(text);
    } catch (const nlohmann::json::exception& error) {
        // nlohmann's errors are not runtime_errors; callers catch only those.
        throw std::runtime_error(std::string("malformed JSON: ") + error.what());
    }
}

bool TryUnserialize(const std::string& text, Value& out) {
    try {
        out = Unserialize(text);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string Serialize(const Value& value, bool pretty) {
    // Replacing invalid UTF-8 keeps dump() from throwing on a string that came
    // in from outside.
    return value.dump(pretty ? 2 : -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool FindObjectValue(const Value& object, const std::string& key, Value& out) {
    const Value* member = Member(object, key);
    if (member == nullptr || !member->is_object()) {
        return false;
    }
    out = *member;
    return true;
}

bool FindArrayValue(const Value& object, const std::string& key, Value& out) {
    const Value* member = Member(object, key);
    if (member == nullptr || !member->is_array()) {
        return false;
    }
    out = *member;
    return true;
}

bool HasKey(const Value& object, const std::string& key) {
    return Member(object, key) != nullptr;
}

std::string GetStringValue(const Value& object, const std::string& key) {
    const Value* member = Member(object, key);
    if (member == nullptr || member->is_null()) {
        return std::string();
    }
    if (!member->is_string()) {
        throw std::runtime_error("member [" + key + "] is a " + member->type_name() +
                                 ", not text");
    }
    return member->get<std::string>();
}

std::string GetScalarText(const Value& object, const std::string& key) {
    const Value* member = Member(object, key);
    if (member != nullptr && (member->is_number() || member->is_boolean())) {
        return member->dump();
    }
    if (member != nullptr && member->is_string()) {
        return member->get<std::string>();
    }
    return std::string();
}

int GetIntValue(const Value& object, const std::string& key, int absent) {
    return GetInteger<int>(object, key, absent);
}

int64_t GetInt64Value(const Value& object, const std::string& key, int64_t absent) {
    return GetInteger<int64_t>(object, key, absent);
}

uint64_t GetUInt64Value(const Value& object, const std::string& key, uint64_t absent) {
    return GetInteger<uint64_t>(object, key, absent);
}

bool GetBoolValue(const Value& object, const std::string& key, bool absent) {
    const Value* member = Member(object, key);
    if (member == nullptr) {
        return absent;
    }
    if (member->is_boolean()) {
        return member->get<bool>();
    }
    if (member->is_string()) {
        const std::string& text = member->get_ref<const std::string&>();
        if (FXString::EqualsNoCase(text, "true")) {
            return true;
        }
        if (FXString::EqualsNoCase(text, "false")) {
            return false;
        }
    }
    return absent;
}

}  // namespace KxJson
