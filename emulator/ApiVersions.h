// The api-versions the emulated services accept, and the features tied to them.
#pragma once

#include <string>
#include <vector>

namespace azemu {

const std::vector<std::string>& computeApiVersions();
bool isComputeApiVersion(const std::string& v);
// Incremental snapshots, diskState, uniqueId and toBeDetached exist from this version on.
constexpr const char* kComputeIncrementalSince = "2019-03-01";
const std::string& newestComputeApiVersion();

const std::vector<std::string>& netAppApiVersions();
bool isNetAppApiVersion(const std::string& v);

const std::vector<std::string>& networkApiVersions();
bool isNetworkApiVersion(const std::string& v);

// "2019-10-01, 2019-11-01": the list an unsupported-version error names.
std::string joinVersions(const std::vector<std::string>& versions);

const std::vector<std::string>& imdsApiVersions();
bool isImdsApiVersion(const std::string& v);

// Versions are dates ("2019-03-01", optionally "-preview"): their text order is their age.
bool apiAtLeast(const std::string& v, const std::string& minimum);

}  // namespace azemu
