// --state: the Azure side saved after every change, so that emulator runs one after another
// (and the kxsnap processes talking to them) see one Azure.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Model.h"

namespace azemu {

struct SavedState {
    AzureState azure;
    std::vector<TokenRecord> tokens;
};

// nullopt when the file does not exist; throws std::runtime_error when it cannot be read.
std::optional<SavedState> loadStateFile(const std::string& path);
// Written to a temporary file and renamed into place: a crash never leaves half a state.
void saveStateFile(const std::string& path, const SavedState& state);

}  // namespace azemu
