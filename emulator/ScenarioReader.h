// Checked reading of scenario members, shared by the parts of the scenario parser.
#pragma once

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Model.h"
#include "Scenario.h"

namespace azemu {
namespace scenario {

[[noreturn]] inline void fail(const std::string& where, const std::string& what) {
    throw std::invalid_argument("scenario: " + where + " " + what);
}

// Reads one object's members with type checks; unknown members are refused so that a typo in
// a scenario does not silently fall back to a default.
class Reader {
public:
    Reader(const Json& obj, std::string where, std::set<std::string> allowed)
        : obj_(obj), where_(std::move(where)) {
        if (!obj_.is_object())
            fail(where_, "must be an object");
        for (const auto& item : obj_.items()) {
            if (!allowed.count(item.key()))
                fail(at(item.key()), "is not a known member");
        }
    }

    std::string at(const std::string& key) const {
        return where_.empty() ? key : where_ + "." + key;
    }
    bool has(const char* key) const { return obj_.contains(key); }

    std::string str(const char* key, const std::string& def = "") const {
        if (!has(key))
            return def;
        if (!obj_[key].is_string())
            fail(at(key), "must be a string");
        return obj_[key].get<std::string>();
    }
    int64_t integer(const char* key, int64_t def) const {
        if (!has(key))
            return def;
        if (!obj_[key].is_number_integer())
            fail(at(key), "must be an integer");
        return obj_[key].get<int64_t>();
    }
    bool boolean(const char* key, bool def) const {
        if (!has(key))
            return def;
        if (!obj_[key].is_boolean())
            fail(at(key), "must be true or false");
        return obj_[key].get<bool>();
    }
    const Json& array(const char* key) const {
        static const Json empty = Json::array();
        if (!has(key))
            return empty;
        if (!obj_[key].is_array())
            fail(at(key), "must be an array");
        return obj_[key];
    }
    Json object(const char* key) const {
        if (!has(key))
            return Json::object();
        if (!obj_[key].is_object())
            fail(at(key), "must be an object");
        return obj_[key];
    }
    std::vector<std::string> strings(const char* key) const {
        std::vector<std::string> out;
        for (const auto& v : array(key)) {
            if (!v.is_string())
                fail(at(key), "must hold strings");
            out.push_back(v.get<std::string>());
        }
        return out;
    }
    Json tags(const char* key) const {
        Json t = object(key);
        for (const auto& item : t.items()) {
            if (!item.value().is_string())
                fail(at(key) + "." + item.key(), "must be a string");
        }
        return t;
    }

private:
    const Json& obj_;
    std::string where_;
};

// Subscriptions, resource groups and their visibility, virtual networks, network interfaces
// and NetApp Files accounts: the members the Compute side does not read. Runs after the VMs
// are in `cfg.initial`.
void addNetworksAndNetApp(const Reader& top, ScenarioConfig& cfg);

}  // namespace scenario
}  // namespace azemu
