#include "KxSnapAzureMetadataText.h"

#include <vector>

#include "platform/FXString.h"

namespace {

constexpr const char* kMetadataFormat =
    "snapURL:%s;sourceDiskURL:%s;sourceDiskName:%s;sourceDiskSku:%s;";

// Assigns `value` to the field that `key` names; false for a key we do not
// know. Keys compare case-sensitively: the text is ours and stored as written.
bool AssignMetadataField(const std::string& key, const std::string& value,
                         AzureSnapMetadata& metadata) {
    if (key == "snapURL") {
        metadata.snapURL = value;
    } else if (key == "sourceDiskURL") {
        metadata.sourceDiskURL = value;
    } else if (key == "sourceDiskSku") {
        metadata.sourceDiskSku = value;
    } else if (key == "sourceDiskName") {
        metadata.sourceDiskName = value;
    } else {
        return false;
    }
    return true;
}

}  // namespace

void FormatAzureSnapMetaData(const AzureSnapMetadata& metadata, std::string& text) {
    text =
        FXString::Format(kMetadataFormat, metadata.snapURL.c_str(), metadata.sourceDiskURL.c_str(),
                         metadata.sourceDiskName.c_str(), metadata.sourceDiskSku.c_str());
}

bool ReadAzureSnapMetadataText(const std::string& text, AzureSnapMetadata& metadata,
                               std::string& problem) {
    const std::vector<std::string> tokens = FXString::Split(text, ";", FXString::SPLIT_DROP_EMPTY);
    if (tokens.empty()) {
        problem = "Snap metadata buffer is empty. Failed to parse the snap metadata.";
        return false;
    }
    for (const std::string& token : tokens) {
        // The splitter keeps an empty trailing part, so "sourceDiskSku:" is
        // a key with an empty value, as the formatter writes it.
        const std::vector<std::string> parts = FXString::Split(token, ":");
        if (parts.size() != 2) {
            problem =
                "Snap metadata buffer is incorrectly formatted. Failed to parse the snap "
                "metadata.";
            return false;
        }
        if (!AssignMetadataField(parts[0], parts[1], metadata)) {
            problem = "Snap metadata has unknown information [" + parts[0] +
                      "]. Failed to parse the snap metadata.";
            return false;
        }
    }
    return true;
}
