#include "StateFile.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace azemu {

namespace {
constexpr int kFormat = 1;
}

std::optional<SavedState> loadStateFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    try {
        Json j = Json::parse(text.str());
        if (j.value("format", 0) != kFormat) {
            throw std::runtime_error("unknown format version");
        }
        SavedState s;
        s.azure = j.at("azure").get<AzureState>();
        s.tokens = j.value("tokens", std::vector<TokenRecord>{});
        return s;
    } catch (const Json::exception& e) {
        throw std::runtime_error("state file " + path + " is unreadable: " + e.what());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("state file " + path + " is unreadable: " + e.what());
    }
}

void saveStateFile(const std::string& path, const SavedState& state) {
    Json j = {{"format", kFormat}, {"azure", state.azure}, {"tokens", state.tokens}};
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << j.dump(1) << "\n";
        if (!out) throw std::runtime_error("cannot write " + tmp);
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        throw std::runtime_error("cannot replace " + path);
    }
}

}  // namespace azemu
