#include "platform/KXPlatformInfo.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sstream>

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "DecimalText.h"
#include "platform/EvDebug.h"
#include "platform/FXString.h"

const char* const SENDLOGS_USE_HTTP_PROXY = "SENDLOGS_USE_HTTP_PROXY";
const char* const SENDLOGS_HTTP_PROXY_SITE = "SENDLOGS_HTTP_PROXY_SITE";
const char* const SENDLOGS_HTTP_PROXY_PORT = "SENDLOGS_HTTP_PROXY_PORT";
const char* const SENDLOGS_HTTP_PROXY_USER = "SENDLOGS_HTTP_PROXY_USER";
const char* const SENDLOGS_HTTP_PROXY_PASSWORD = "SENDLOGS_HTTP_PROXY_PASSWORD";
const char* const MARLGATE_USE_PROXY_AUTHENTICATION = "MARLGATE_USE_PROXY_AUTHENTICATION";

namespace {

constexpr const char* kDefaultSettingsFile = "/etc/kxso/settings.ini";
constexpr const char* kGlobalParamSection = "GlobalParam";
constexpr const char* kLogTag = "KXPlatformInfo";
constexpr const char* kBlanks = " \t\r\n";
constexpr size_t kMaxLoggedValue = 64;
// Far above any real settings file; a larger one is refused whole.
constexpr size_t kMaxSettingsFileBytes = 1024 * 1024;
// No trimmed line holds a line break, so no real section has this name.
constexpr const char* kNoSection = "\n";

struct MalformedLines {
    int count = 0;
    int firstLine = 0;
};

bool IsCommentOrBlank(const std::string& line) {
    return line.empty() || line[0] == ';' || line[0] == '#';
}

// "[name]" gives name; anything else that starts with '[' is malformed.
bool ParseSectionLine(const std::string& line, std::string& section, bool& malformed) {
    if (line[0] != '[') {
        return false;
    }
    malformed = line.back() != ']' || line.size() < 3;
    if (!malformed) {
        section = FXString::Trim(line.substr(1, line.size() - 2), kBlanks);
    }
    return true;
}

bool ParseKeyValueLine(const std::string& line, std::string& key, std::string& value) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    key = FXString::Trim(line.substr(0, equals), kBlanks);
    value = FXString::Trim(line.substr(equals + 1), kBlanks);
    return !key.empty();
}

// Walks the whole file so that the last of duplicate keys wins and every
// malformed line is counted for the one report per read.
std::optional<std::string> FindValue(std::istream& in, const std::string& section,
                                     const std::string& key, MalformedLines& malformed) {
    std::optional<std::string> found;
    std::string currentSection;
    std::string line;
    for (int lineNumber = 1; std::getline(in, line); ++lineNumber) {
        if (lineNumber == 1 && FXString::StartsWith(line, "\xEF\xBB\xBF")) {
            line = line.substr(3);  // editors on other systems add a byte-order mark
        }
        line = FXString::Trim(line, kBlanks);
        std::string lineKey;
        std::string lineValue;
        bool badSection = false;
        if (IsCommentOrBlank(line)) {
            continue;
        }
        if (ParseSectionLine(line, currentSection, badSection)) {
            if (!badSection) {
                continue;
            }
            // Keys under a broken header belong to no section rather than
            // silently to the one before it.
            currentSection = kNoSection;
        } else if (ParseKeyValueLine(line, lineKey, lineValue)) {
            if (currentSection == section && lineKey == key) {
                found = lineValue;
            }
            continue;
        }
        if (malformed.count++ == 0) {
            malformed.firstLine = lineNumber;
        }
    }
    return found;
}

enum class FileRead { kRead, kMissing, kTooLarge };

// Reads at most kMaxSettingsFileBytes + 1 bytes, so that a settings path that
// names something endless (/dev/zero, a pipe that is never closed) cannot grow
// memory without bound. The open does not wait for a pipe's writer.
FileRead ReadBoundedFile(const std::string& path, std::string& text) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return FileRead::kMissing;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    text.clear();
    char buffer[65536];
    while (text.size() <= kMaxSettingsFileBytes) {
        const size_t wanted = std::min(sizeof buffer, kMaxSettingsFileBytes + 1 - text.size());
        const ssize_t got = read(fd, buffer, wanted);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;  // the end, or a read error: what was read so far counts
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    if (text.size() > kMaxSettingsFileBytes) {
        text.clear();
        return FileRead::kTooLarge;
    }
    return FileRead::kRead;
}

std::optional<std::string> ReadSetting(const std::string& section, const std::string& key) {
    const std::string path = KXPlatformInfo::SettingsFilePath();
    std::string text;
    const FileRead read = ReadBoundedFile(path, text);
    if (read == FileRead::kMissing) {
        return std::nullopt;  // no file: every key keeps its built-in default
    }
    if (read == FileRead::kTooLarge) {
        EvDebug().Error(kLogTag,
                        "settings file [%s] is larger than %zu bytes; refused, every setting "
                        "keeps its built-in default",
                        path.c_str(), kMaxSettingsFileBytes);
        return std::nullopt;
    }
    std::istringstream in(text);
    MalformedLines malformed;
    std::optional<std::string> value = FindValue(in, section, key, malformed);
    if (malformed.count > 0) {
        EvDebug().Error(kLogTag,
                        "settings file [%s] has %d malformed line(s), first at line %d; "
                        "each must be [section], key=value or a ';'/'#' comment; ignored",
                        path.c_str(), malformed.count, malformed.firstLine);
    }
    return value;
}

bool LooksSecret(const std::string& key) {
    const std::string lower = FXString::ToLower(key);
    return lower.find("pass") != std::string::npos || lower.find("pwd") != std::string::npos;
}

void ReportWrongKind(const std::string& section, const std::string& key, const std::string& value,
                     const char* kind) {
    const std::string shown =
        LooksSecret(key) ? std::string("***") : value.substr(0, kMaxLoggedValue);
    EvDebug().Error(kLogTag, "setting [%s] %s = '%s' is not %s; ignored", section.c_str(),
                    key.c_str(), shown.c_str(), kind);
}

std::optional<bool> ParseFlag(const std::string& text) {
    const std::string lower = FXString::ToLower(text);
    if (lower == "true" || lower == "yes" || lower == "on" || lower == "1") {
        return true;
    }
    if (lower == "false" || lower == "no" || lower == "off" || lower == "0") {
        return false;
    }
    return std::nullopt;
}

template <typename Integer>
int GetInteger(const std::string& section, const std::string& key, Integer& value) {
    const std::optional<std::string> text = ReadSetting(section, key);
    if (!text) {
        return 0;
    }
    Integer parsed{};
    if (!KxDecimalText::Parse(*text, parsed)) {
        ReportWrongKind(section, key, *text, "a decimal number in range");
        return 0;
    }
    value = parsed;
    return 1;
}

}  // namespace

namespace KXPlatformInfo {

std::string SettingsFilePath() {
    const char* path = getenv("KXSO_SETTINGS_FILE");
    return (path != nullptr && *path != '\0') ? std::string(path)
                                              : std::string(kDefaultSettingsFile);
}

int getBoolean(const std::string& section, const std::string& key, bool& value) {
    const std::optional<std::string> text = ReadSetting(section, key);
    if (!text) {
        return 0;
    }
    const std::optional<bool> flag = ParseFlag(*text);
    if (!flag) {
        ReportWrongKind(section, key, *text, "a flag (true/false, yes/no, on/off, 1/0)");
        return 0;
    }
    value = *flag;
    return 1;
}

int getNumber(const std::string& section, const std::string& key, int32_t& value) {
    return GetInteger(section, key, value);
}

int getNumber(const std::string& section, const std::string& key, uint32_t& value) {
    return GetInteger(section, key, value);
}

int getNumber(const std::string& section, const std::string& key, int64_t& value) {
    return GetInteger(section, key, value);
}

int getNumber(const std::string& section, const std::string& key, uint64_t& value) {
    return GetInteger(section, key, value);
}

int getString(const std::string& section, const std::string& key, std::string& value) {
    const std::optional<std::string> text = ReadSetting(section, key);
    if (!text) {
        return 0;
    }
    value = *text;
    return 1;
}

int getValue(const std::string& section, const std::string& key, std::string& value) {
    return getString(section, key, value);
}

}  // namespace KXPlatformInfo

namespace KXGlobalParam {

int get(const std::string& name, int& value, void* /*unused*/) {
    return GetInteger(kGlobalParamSection, name, value) != 0 ? 0 : 1;
}

int get(const std::string& name, std::string& value, void* /*unused*/) {
    return KXPlatformInfo::getString(kGlobalParamSection, name, value) != 0 ? 0 : 1;
}

}  // namespace KXGlobalParam
