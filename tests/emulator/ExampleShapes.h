// Comparing the emulator's documents with the published examples in tests/data/azure-examples.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace azemu::test {

Json loadExample(const std::string& file);
// The body of response `status` in an x-ms-examples file.
Json exampleBody(const std::string& file, const std::string& status = "200");
// Paths ("properties.storageProfile.dataDisks[].lun") present in `expected` but missing from
// `actual` or of another JSON type. Arrays: every element of `actual` is checked against the
// example's first element. Paths in `ignored` (and below them) are skipped; tags are free-form.
std::vector<std::string> differences(const Json& expected, const Json& actual,
                                     const std::set<std::string>& ignored = {});
// Each dotted path (through arrays' first elements) is present in `doc`.
void expectMembers(const Json& doc, std::initializer_list<const char*> paths);

}  // namespace azemu::test
