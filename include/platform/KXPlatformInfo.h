// The settings store: an INI file named by KXSO_SETTINGS_FILE (default
// /etc/kxso/settings.ini). Section "Ferrolink" holds the plug-in's keys and
// section "GlobalParam" the installation-wide parameters.
//
// File format: "[section]" lines, "key=value" lines (blanks around '=' and at
// both ends are ignored), comment lines starting with ';' or '#'. Section and
// key names compare exactly. A key with an empty value exists and reads "".
// Flags: true/false, yes/no, on/off, 1/0 in any letter case. Numbers: decimal,
// an optional sign, nothing after the digits, in range for the type asked for.
// A key given twice in a section reads as its last value. A ';' or '#' after
// a value is part of the value: only whole lines are comments.
//
// A missing or unreadable file means every key is absent; so does a file of
// more than 1 MB (1048576 bytes), refused with one line in the platform log
// per read, since no real settings file comes near that size and a path
// naming endless input must not grow memory without bound. A line that is not
// a section, a comment or key=value, and a value of the wrong kind, are
// reported once per read in the platform log and treated as absent.
// The file is read on each call, so there is no cached state to share between
// threads or to go stale between jobs.
#pragma once

#include <cstdint>
#include <string>

namespace KXPlatformInfo {
// Each returns nonzero when the key exists and holds a value of that kind, and
// only then writes `value`; callers preset their defaults.
int getBoolean(const std::string& section, const std::string& key, bool& value);
int getNumber(const std::string& section, const std::string& key, int32_t& value);
int getNumber(const std::string& section, const std::string& key, uint32_t& value);
int getNumber(const std::string& section, const std::string& key, int64_t& value);
int getNumber(const std::string& section, const std::string& key, uint64_t& value);
int getString(const std::string& section, const std::string& key, std::string& value);
int getValue(const std::string& section, const std::string& key, std::string& value);

// Path of the settings file in use.
std::string SettingsFilePath();
}  // namespace KXPlatformInfo

// The section every setting of the plug-in lives in.
#define KX_SETTINGS_SECTION "Ferrolink"

namespace KXGlobalParam {
// Installation-wide parameters, section "GlobalParam". Return 0 on success and
// only then write `value`. The third argument is unused (pass nullptr).
int get(const std::string& name, int& value, void* unused);
int get(const std::string& name, std::string& value, void* unused);
}  // namespace KXGlobalParam

// Names of the installation-wide proxy parameters.
extern const char* const SENDLOGS_USE_HTTP_PROXY;
extern const char* const SENDLOGS_HTTP_PROXY_SITE;
extern const char* const SENDLOGS_HTTP_PROXY_PORT;
extern const char* const SENDLOGS_HTTP_PROXY_USER;
extern const char* const SENDLOGS_HTTP_PROXY_PASSWORD;
extern const char* const MARLGATE_USE_PROXY_AUTHENTICATION;
