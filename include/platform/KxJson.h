// JSON for both REST paths, over nlohmann-json, behind small helpers that keep
// the platform's failure signals: a parse failure surfaces as
// std::runtime_error; an absent key reads as "" / false / the given default.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace KxJson {
using Value = nlohmann::json;

// Answers larger or deeper than this are refused before they can exhaust the
// stack or memory; no Azure document comes near them.
constexpr size_t kMaxDocumentBytes = 16 * 1024 * 1024;
constexpr size_t kMaxDepth = 256;

// Parses text; throws std::runtime_error on malformed, oversized or
// over-deep input.
Value Unserialize(const std::string& text);
// Like Unserialize, but answers false instead of throwing.
bool TryUnserialize(const std::string& text, Value& out);
std::string Serialize(const Value& value, bool pretty = false);

// The member `key` of `object` when it is an object / array. False when
// `object` is not an object, the key is absent or the member is of another kind.
bool FindObjectValue(const Value& object, const std::string& key, Value& out);
bool FindArrayValue(const Value& object, const std::string& key, Value& out);
bool HasKey(const Value& object, const std::string& key);

// Scalars. GetStringValue reads a string; an absent or null member gives "",
// and a member of any other kind throws std::runtime_error (which the parsers
// catch): a name or id that arrives as a number means the document is not the
// one we think, and reading it as text would make a disk look detached.
// GetScalarText also turns numbers and booleans into text, for the few
// fields that services send either way. Numeric strings are read by the
// number getters (the instance metadata service writes every leaf as a
// string); anything else gives the default.
std::string GetStringValue(const Value& object, const std::string& key);
std::string GetScalarText(const Value& object, const std::string& key);
int GetIntValue(const Value& object, const std::string& key, int absent = -1);
int64_t GetInt64Value(const Value& object, const std::string& key, int64_t absent = -1);
uint64_t GetUInt64Value(const Value& object, const std::string& key, uint64_t absent = 0);
bool GetBoolValue(const Value& object, const std::string& key, bool absent = false);
}  // namespace KxJson
