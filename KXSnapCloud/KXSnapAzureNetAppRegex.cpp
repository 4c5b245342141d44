#include "KXSnapCloud/KXSnapAzureNetAppRegex.h"

#include "KXSnapCloud/KXSnapAzureNetAppDS.h"

namespace AzureNetApp {

namespace {

size_t CountOccurrences(const std::string& text, const std::string& separator) {
    size_t count = 0;
    for (size_t at = text.find(separator); at != std::string::npos;
         at = text.find(separator, at + separator.size())) {
        ++count;
    }
    return count;
}

bool WithinMatchingBounds(const std::string& text, const std::vector<std::string>& separators) {
    if (text.size() > kMaxRegexInputLength) {
        return false;
    }
    for (const std::string& separator : separators) {
        if (CountOccurrences(text, separator) > kMaxSeparatorOccurrences) {
            return false;
        }
    }
    return true;
}

}  // namespace

const std::regex& rawVolumePathRegex() {
    static const std::regex expression(ANF_RAW_VOL_PATH_REGEX, std::regex::ECMAScript);
    return expression;
}

const std::regex& rawSnapshotPathRegex() {
    static const std::regex expression(ANF_RAW_SNAPSHOT_PATH_REGEX, std::regex::ECMAScript);
    return expression;
}

const std::regex& sourceDeviceNameRegex() {
    static const std::regex expression(ANF_SOURCE_DEVICE_NAME_REGEX, std::regex::ECMAScript);
    return expression;
}

const std::vector<std::string>& resourceIdSeparators() {
    static const std::vector<std::string> separators{"/resourceGroups/", "/netAppAccounts/",
                                                     "/capacityPools/", "/volumes/", "/snapshots/"};
    return separators;
}

const std::vector<std::string>& sourceDeviceNameSeparators() {
    static const std::vector<std::string> separators{",type:", ",lunuuid:", ",targethostname:"};
    return separators;
}

bool matchWhole(const std::string& text, const std::regex& expression,
                const std::vector<std::string>& separators, std::smatch& match) {
    match = std::smatch();
    if (!WithinMatchingBounds(text, separators)) {
        return false;
    }
    try {
        return std::regex_match(text, match, expression);
    } catch (const std::exception&) {
        // error_complexity / error_stack: the text is not one we can read.
        match = std::smatch();
        return false;
    }
}

}  // namespace AzureNetApp
