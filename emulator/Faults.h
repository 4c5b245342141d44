// Injected faults: which requests they hit and how often, and how the faults that tamper with
// an answer rewrite it.
#pragma once

#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "EmulatorTypes.h"

namespace azemu {

// How an asynchronous operation started by a request is to end. Faults set it; everything
// else leaves it Normal.
struct AsyncEnding {
    enum Kind { Normal, Fail, Cancel, Never } kind = Normal;
    Json error;  // {code, message} for Fail and Cancel
};

// The same document with every key kept and every scalar leaf of another type: a string becomes
// a number (the number it spells, else 7), a number or boolean becomes its text, null stays
// null; objects and arrays keep their shape.
Json withWrongTypes(const Json& document);

class FaultTable {
public:
    // Throws std::invalid_argument for a path that is not a valid regular expression.
    int add(const FaultSpec& spec);
    bool remove(int id);
    void clear();
    std::vector<FaultInfo> list() const;

    // The fault that fires on this request, if any; counts the request against every fault it
    // matches until one fires. Faults are tried in the order they were added.
    std::optional<FaultInfo> fire(const std::string& method, const std::string& path);

private:
    struct Entry {
        FaultInfo info;
        std::regex pattern;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    int nextId_ = 1;
};

}  // namespace azemu
