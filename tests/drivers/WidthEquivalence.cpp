#include "WidthEquivalence.h"

#include <algorithm>
#include <regex>

namespace drivertest {
namespace {

// A revert names its new disks after the source disk and the time; the time
// differs from run to run.
std::string WithoutTimes(const std::string& text) {
    static const std::regex kSeconds("-[0-9]{9,}");
    return std::regex_replace(text, kSeconds, "-T");
}

std::string Describe(const kxsnap::RecordData& data) {
    std::string text = "status " + std::to_string(data.status) + " error " +
                       std::to_string(data.errorCode) + " [" + data.errorText + "] name [" +
                       data.snapName.value_or("") + "] flags " + std::to_string(data.snapFlags) +
                       " mapped [" + data.mappedDevicePath + "] reverted [" +
                       data.revertedDevicePath + "]";
    for (const auto& entry : data.metadata) {
        text += " md" + std::to_string(entry.first) + " [" + entry.second + "]";
    }
    return WithoutTimes(text);
}

std::vector<std::string> FinalState(azemu::Emulator& emu) {
    emu.completePending();
    std::vector<std::string> state;
    const azemu::Json dump = emu.state();
    for (const char* kind : {"disks", "snapshots"}) {
        for (const azemu::Json& resource : dump[kind]) {
            state.push_back(std::string(kind) + " " + resource["name"].get<std::string>());
        }
    }
    for (const azemu::AttachedDisk& disk : emu.dataDisks()) {
        state.push_back("lun " + std::to_string(disk.lun) + " " + disk.name);
    }
    for (std::string& line : state) {
        line = WithoutTimes(line);
    }
    std::sort(state.begin(), state.end());
    return state;
}

}  // namespace

Outcome WidthEquivalenceTest::RunAtWidth(int width, const PinnedFault& fault,
                                         const Prepare& prepare, Export call,
                                         const std::string& logMarker) {
    emu_->reset();
    emu_->setSettings(azemu::Settings());
    UseSettings("nAzureRESTAPIMaxParallelRequests=" + std::to_string(width) + "\n");
    std::unique_ptr<kxtest::TestHost> host = prepare();
    if (*fault.method != '\0') {
        InjectFault(fault.method, fault.path, fault.action, fault.times, fault.status, "Conflict",
                    fault.afterProcessing, fault.skip);
    }
    Outcome outcome;
    outcome.result = call(host->devices(), host->count(), host->util());
    for (const azemu::FaultInfo& info : emu_->faults()) {
        outcome.fired += info.fired;
    }
    emu_->clearFaults();
    for (int16_t i = 0; i < host->count(); ++i) {
        outcome.records.push_back(Describe(host->Record(i).data()));
    }
    for (const kxsnap::LogEntry& line : host->Log()) {
        if (!logMarker.empty() && line.text.find(logMarker) != std::string::npos) {
            outcome.logLines.push_back(WithoutTimes(line.text));
        }
    }
    outcome.state = FinalState(*emu_);
    return outcome;
}

Outcome WidthEquivalenceTest::ExpectSameAtBothWidths(const PinnedFault& fault,
                                                     const Prepare& prepare, Export call,
                                                     int expectedResult,
                                                     const std::string& logMarker) {
    const Outcome sequential = RunAtWidth(1, fault, prepare, call, logMarker);
    const Outcome sideBySide = RunAtWidth(32, fault, prepare, call, logMarker);
    EXPECT_EQ(sequential.result, expectedResult);
    // A fault that never fired would make the two runs agree for nothing; a
    // lost answer must be lost on the re-sent request as well.
    const int firings = fault.times == 0                           ? 0
                        : fault.action == azemu::FaultAction::Drop ? fault.times
                                                                   : 1;
    EXPECT_GE(sequential.fired, firings);
    EXPECT_GE(sideBySide.fired, firings);
    EXPECT_EQ(sideBySide.result, sequential.result);
    EXPECT_EQ(sideBySide.records, sequential.records);
    EXPECT_EQ(sideBySide.logLines, sequential.logLines);
    EXPECT_EQ(sideBySide.state, sequential.state);
    return sequential;
}

}  // namespace drivertest
