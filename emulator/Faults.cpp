#include "Faults.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "Util.h"

namespace azemu {

namespace {

// A string that spells an integer keeps its value, so that a reader lenient about types still
// sees what Azure meant; anything else becomes an arbitrary number.
Json numberFor(const std::string& text) {
    const bool mayBeInteger =
        !text.empty() &&
        (text.front() == '-' || std::isdigit(static_cast<unsigned char>(text.front())));
    if (mayBeInteger) {
        errno = 0;
        char* end = nullptr;
        long long value = std::strtoll(text.c_str(), &end, 10);
        if (errno == 0 && end == text.c_str() + text.size()) return value;
    }
    return 7;
}

}  // namespace

Json withWrongTypes(const Json& document) {
    if (document.is_object()) {
        Json out = Json::object();
        for (const auto& item : document.items()) out[item.key()] = withWrongTypes(item.value());
        return out;
    }
    if (document.is_array()) {
        Json out = Json::array();
        for (const auto& element : document) out.push_back(withWrongTypes(element));
        return out;
    }
    if (document.is_string()) return numberFor(document.get<std::string>());
    if (document.is_boolean()) return document.get<bool>() ? "true" : "false";
    if (document.is_number()) return document.dump();
    return document;  // null has no other type to take
}

int FaultTable::add(const FaultSpec& spec) {
    Entry e;
    try {
        e.pattern = std::regex(spec.path, std::regex::ECMAScript | std::regex::icase);
    } catch (const std::regex_error& err) {
        throw std::invalid_argument("fault path is not a valid regular expression: " +
                                    std::string(err.what()));
    }
    e.info.spec = spec;
    std::lock_guard<std::mutex> lock(mutex_);
    e.info.id = nextId_++;
    entries_.push_back(std::move(e));
    return entries_.back().info.id;
}

bool FaultTable::remove(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::remove_if(entries_.begin(), entries_.end(),
                             [id](const Entry& e) { return e.info.id == id; });
    bool found = it != entries_.end();
    entries_.erase(it, entries_.end());
    return found;
}

void FaultTable::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

std::vector<FaultInfo> FaultTable::list() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FaultInfo> out;
    for (const auto& e : entries_) out.push_back(e.info);
    return out;
}

std::optional<FaultInfo> FaultTable::fire(const std::string& method, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& e : entries_) {
        FaultInfo& f = e.info;
        bool exhausted = f.spec.times >= 0 && f.fired >= f.spec.times;
        if (exhausted) continue;
        if (f.spec.method != "*" && !iequals(f.spec.method, method)) continue;
        if (!std::regex_search(path, e.pattern)) continue;
        ++f.matched;
        if (f.matched <= f.spec.skip) continue;
        ++f.fired;
        return f;
    }
    return std::nullopt;
}

}  // namespace azemu
