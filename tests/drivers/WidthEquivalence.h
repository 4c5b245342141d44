// Requests sent side by side must leave what sending them one at a time
// leaves. The suites that pin this run one call twice on a fresh resource
// group, once with one request at a time and once at the default width, with
// the same fault pinned to one record's resource, and compare the records,
// the log lines they name and the emulator's final state.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DriverFixture.h"

namespace drivertest {

// A fault on the requests that match; an empty method injects none.
struct PinnedFault {
    const char* method;
    const char* path;
    azemu::FaultAction action;
    int times;
    int status;
    bool afterProcessing;
    int skip = 0;
};

inline constexpr PinnedFault kNoFault = {"", "", azemu::FaultAction::Error, 0, 0, false};

// Azure answers `status` to `times` matching requests (-1: every one) after
// letting `skip` through, without carrying them out.
inline PinnedFault Refused(const char* method, const char* path, int status, int times = -1,
                           int skip = 0) {
    return {method, path, azemu::FaultAction::Error, times, status, false, skip};
}
// Azure carries the requests out and then answers `status`.
inline PinnedFault FailedAfterwards(const char* method, const char* path, int status) {
    return {method, path, azemu::FaultAction::Error, -1, status, true};
}
// The first two answers are lost after Azure carried the requests out.
inline PinnedFault LostTwice(const char* method, const char* path) {
    return {method, path, azemu::FaultAction::Drop, 2, 0, true};
}

// What one run leaves, generated times taken out.
struct Outcome {
    int result = -1;
    int fired = 0;  // how often the fault fired
    std::vector<std::string> records;
    std::vector<std::string> logLines;  // those that contain the marker, in order
    std::vector<std::string> state;     // disks, snapshots and attached LUNs, sorted
};

class WidthEquivalenceTest : public DriverTest {
protected:
    // Makes the host for one run once the resource group is fresh.
    using Prepare = std::function<std::unique_ptr<kxtest::TestHost>()>;

    Outcome RunAtWidth(int width, const PinnedFault& fault, const Prepare& prepare, Export call,
                       const std::string& logMarker);
    // Runs at width 1 and at the default width; the first run must end in
    // `expectedResult` and both must agree. Returns the first run's outcome.
    Outcome ExpectSameAtBothWidths(const PinnedFault& fault, const Prepare& prepare, Export call,
                                   int expectedResult, const std::string& logMarker = "");
};

}  // namespace drivertest
