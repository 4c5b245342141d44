// The JSON access of the NetApp Files path: parse, has, get, import and text
// output over nlohmann-json, with the semantics this path was written for:
//  - parse accepts only a whole JSON object and never throws;
//  - has<K>(object, key) is true only when the key holds a value of kind K;
//  - get<K>(object, key, fallback) answers the fallback for an absent key or a
//    value of another kind (a number is never read as a string, nor the reverse);
//  - import adds or replaces a member (objects) or appends (arrays);
//  - text gives compact JSON, with invalid UTF-8 replaced rather than thrown on.
#pragma once

#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace AnfJson {

using Value = nlohmann::json;

// Value kinds, as the type argument of has/get.
struct Object {};
struct Array {};
using String = std::string;
using Number = long double;
using Boolean = bool;

template <typename K>
struct Kind;

template <>
struct Kind<Object> {
    using Result = Value;
    static bool is(const Value& value) { return value.is_object(); }
    static Result read(const Value& value) { return value; }
};

template <>
struct Kind<Array> {
    using Result = Value;
    static bool is(const Value& value) { return value.is_array(); }
    static Result read(const Value& value) { return value; }
};

template <>
struct Kind<String> {
    using Result = std::string;
    static bool is(const Value& value) { return value.is_string(); }
    static Result read(const Value& value) { return value.get<std::string>(); }
};

template <>
struct Kind<Number> {
    using Result = long double;
    static bool is(const Value& value) { return value.is_number(); }
    static Result read(const Value& value) { return value.get<long double>(); }
};

template <>
struct Kind<Boolean> {
    using Result = bool;
    static bool is(const Value& value) { return value.is_boolean(); }
    static Result read(const Value& value) { return value.get<bool>(); }
};

// The member `key` of `object`, or null when `object` is not an object or
// lacks the key.
const Value* member(const Value& object, const std::string& key);

template <typename K>
bool has(const Value& object, const std::string& key) {
    const Value* found = member(object, key);
    return found != nullptr && Kind<K>::is(*found);
}

template <typename K>
typename Kind<K>::Result get(const Value& object, const std::string& key,
                             const typename Kind<K>::Result& fallback) {
    const Value* found = member(object, key);
    return (found != nullptr && Kind<K>::is(*found)) ? Kind<K>::read(*found) : fallback;
}

// True, with `object` holding the document, only for text that is one whole
// JSON object; otherwise false with `object` an empty object. Oversized and
// over-deep documents are refused like malformed ones.
bool parse(const std::string& text, Value& object);

// Adds or replaces `key` in `object` (which becomes an object if it was null).
void import(Value& object, const std::string& key, Value value);
// Appends `value` to `array` (which becomes an array if it was null).
void import(Value& array, Value value);

std::string text(const Value& value);

// A copy of an object's members by key; empty for anything but an object.
using KeyValueMap = std::map<std::string, Value>;
KeyValueMap keyValueMap(const Value& object);

}  // namespace AnfJson
