#include "KXSnapCloud/KXSnapAzureNetAppJson.h"

#include <utility>

#include "platform/KxJson.h"

namespace AnfJson {

const Value* member(const Value& object, const std::string& key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

bool parse(const std::string& text, Value& object) {
    Value parsed;
    if (!KxJson::TryUnserialize(text, parsed) || !parsed.is_object()) {
        object = Value::object();
        return false;
    }
    object = std::move(parsed);
    return true;
}

void import(Value& object, const std::string& key, Value value) {
    if (!object.is_object()) {
        object = Value::object();
    }
    object[key] = std::move(value);
}

void import(Value& array, Value value) {
    if (!array.is_array()) {
        array = Value::array();
    }
    array.push_back(std::move(value));
}

std::string text(const Value& value) {
    return KxJson::Serialize(value);
}

KeyValueMap keyValueMap(const Value& object) {
    KeyValueMap members;
    if (object.is_object()) {
        for (auto item = object.begin(); item != object.end(); ++item) {
            members.emplace(item.key(), item.value());
        }
    }
    return members;
}

}  // namespace AnfJson
