#include "Faults.h"

#include <algorithm>
#include <stdexcept>

#include "Util.h"

namespace azemu {

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
