#include "kxsnap/CommandLine.h"

#include <algorithm>
#include <climits>
#include <iostream>

#include <nlohmann/json.hpp>

#include "kxsnap/Errors.h"
#include "kxsnap/PluginLoader.h"

#ifndef KXSNAP_VERSION
#define KXSNAP_VERSION "unknown"
#endif

namespace kxsnap {

size_t EditDistance(const std::string& a, const std::string& b) {
    // Rows i-2, i-1 and i of the distance table.
    std::vector<size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t replace = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, replace});
            bool swapped = i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1];
            if (swapped)
                current[j] = std::min(current[j], before[j - 2] + 1);
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[b.size()];
}

std::string Suggestion(const std::string& word, const std::vector<std::string>& candidates) {
    std::string best;
    size_t bestDistance = SIZE_MAX;
    for (const auto& candidate : candidates) {
        size_t distance = EditDistance(word, candidate);
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    // A third of the word may be wrong; beyond that a guess misleads more than it helps.
    size_t allowed = std::max<size_t>(1, std::max(word.size(), best.size()) / 3);
    return bestDistance <= allowed ? best : "";
}

std::string UnknownCommandMessage(const std::string& word,
                                  const std::vector<std::string>& commands) {
    std::string message = "unknown command '" + word + "'";
    std::string near = Suggestion(word, commands);
    if (!near.empty())
        return message + "; did you mean '" + near + "'?";
    return message + "; see kxsnap --help";
}

const std::vector<ArrayConfigKey>& KnownArrayConfigKeys() {
    // The NetApp Files engine reads these from every record's array
    // configuration; the managed-disk path reads none.
    static const std::vector<ArrayConfigKey> keys{
        {"SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY", 0, 86400,
         "seconds between checks of a running NetApp Files operation"},
        {"SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY", 1, 1000000,
         "how many times a running NetApp Files operation is checked"},
        {"SMCONFIG_ANF_ENABLE_DIAGNOSTIC_LOGGING_KEY", 0, 1,
         "1 logs NetApp Files requests and answers in detail"},
    };
    return keys;
}

namespace {

const ArrayConfigKey* FindKey(const std::string& name) {
    for (const auto& key : KnownArrayConfigKeys()) {
        if (name == key.name)
            return &key;
    }
    return nullptr;
}

std::string KnownKeyNames() {
    std::string names;
    for (const auto& key : KnownArrayConfigKeys())
        names += (names.empty() ? "" : ", ") + std::string(key.name);
    return names;
}

// A whole decimal number within [minimum, maximum], without signs or blanks
// that std::stoi would let through.
bool ParseNumberInRange(const std::string& text, long long minimum, long long maximum,
                        long long& value) {
    std::string digits = text.rfind('-', 0) == 0 ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 18 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::stoll(text);
    return value >= minimum && value <= maximum;
}

}  // namespace

std::string ArrayConfigProblem(const std::string& item) {
    size_t equals = item.find('=');
    if (equals == std::string::npos || equals == 0)
        return "expects KEY=NUMBER, not '" + item + "'";
    std::string name = item.substr(0, equals);
    const ArrayConfigKey* key = FindKey(name);
    if (key == nullptr) {
        std::vector<std::string> names;
        for (const auto& known : KnownArrayConfigKeys())
            names.push_back(known.name);
        std::string near = Suggestion(name, names);
        return "the plug-in does not read the array setting '" + name + "'" +
               (near.empty() ? "; it reads " + KnownKeyNames() : "; did you mean '" + near + "'?");
    }
    long long value = 0;
    if (!ParseNumberInRange(item.substr(equals + 1), key->minimum, key->maximum, value)) {
        return name + " takes a whole number from " + std::to_string(key->minimum) + " to " +
               std::to_string(key->maximum) + ", not '" + item.substr(equals + 1) + "'";
    }
    return "";
}

std::map<std::string, int> ParseArrayConfig(const std::vector<std::string>& items) {
    std::map<std::string, int> config;
    for (const std::string& item : items) {
        std::string problem = ArrayConfigProblem(item);
        if (!problem.empty())
            throw UsageError("--array-config: " + problem);
        size_t equals = item.find('=');
        config[item.substr(0, equals)] = std::stoi(item.substr(equals + 1));
    }
    return config;
}

std::string ArrayConfigHelp() {
    std::string help = "KEY=NUMBER array setting handed to the plug-in; one per use, repeatable:";
    for (const auto& key : KnownArrayConfigKeys()) {
        help += "\n  " + std::string(key.name) + " (" + std::to_string(key.minimum) + "-" +
                std::to_string(key.maximum) + "): " + key.meaning;
    }
    return help;
}

std::string LockTimeoutProblem(const std::string& text) {
    long long value = 0;
    if (ParseNumberInRange(text, 0, INT_MAX, value))
        return "";
    return "takes milliseconds, a whole number from 0 to " + std::to_string(INT_MAX) + ", not '" +
           text + "'";
}

bool VersionText(const std::string& pluginPath, std::string& text) {
    text = std::string("kxsnap ") + KXSNAP_VERSION + "\n";
    Plugin plugin;
    std::string error;
    std::string path = pluginPath.empty() ? DefaultPluginPath() : pluginPath;
    if (!plugin.Load(path, error)) {
        text += "plug-in: " + error;
        return false;
    }
    int16_t major = 0, minor = 0, patch = 0;
    plugin.Version()(&major, &minor, &patch);
    text += "plug-in " + std::to_string(major) + "." + std::to_string(minor) + "." +
            std::to_string(patch) + " (" + plugin.Path() + ")";
    return true;
}

int ReportError(bool json, int exitStatus, const std::string& message) {
    if (json) {
        nlohmann::ordered_json error;
        error["error"]["exit"] = exitStatus;
        error["error"]["message"] = message;
        std::cout << error.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                  << std::endl;
    } else {
        std::cerr << "kxsnap: " << message << std::endl;
    }
    return exitStatus;
}

}  // namespace kxsnap
