// The parts of kxsnap's command line that CLI11 does not give: `help CMD`,
// suggestions for a mistyped command, the array settings the plug-in knows,
// the version text, and one way to report an error to a person or a script.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kxsnap {

// Edit distance: inserted, removed, replaced and swapped neighbouring
// characters ("shwo" is one step from "show").
size_t EditDistance(const std::string& a, const std::string& b);

// The candidate nearest to `word` when it is near enough to be a slip of the
// fingers, else "".
std::string Suggestion(const std::string& word, const std::vector<std::string>& candidates);

// "unknown command 'lst'; did you mean 'list'?"
std::string UnknownCommandMessage(const std::string& word,
                                  const std::vector<std::string>& commands);

// The array settings the plug-in reads from a record's configuration, with
// the range of values each accepts.
struct ArrayConfigKey {
    const char* name;
    int minimum;
    int maximum;
    const char* meaning;
};
const std::vector<ArrayConfigKey>& KnownArrayConfigKeys();

// Checks one "KEY=NUMBER" item: "" when usable, else why not (without the
// option's name, which CLI11 puts first).
std::string ArrayConfigProblem(const std::string& item);
// The items as a map; throws UsageError for an unusable one.
std::map<std::string, int> ParseArrayConfig(const std::vector<std::string>& items);
// The --array-config help text, listing the known keys.
std::string ArrayConfigHelp();

// Checks a --lock-timeout value: "" when usable, else why not.
std::string LockTimeoutProblem(const std::string& text);

// "kxsnap 1.0.0" and the plug-in's own version (or why it cannot be loaded).
// Answers false when the plug-in could not be loaded.
bool VersionText(const std::string& pluginPath, std::string& text);

// Prints an error: "kxsnap: MESSAGE" on standard error, or with `json`
// {"error": {"exit": N, "message": "..."}} on standard output, where a script
// reads. Answers `exitStatus`.
int ReportError(bool json, int exitStatus, const std::string& message);

}  // namespace kxsnap
