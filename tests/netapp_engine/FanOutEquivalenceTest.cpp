// The NetApp Files engine's requests sent side by side leave what the walk
// over the records leaves: the same fault, pinned to one volume's path and
// met while Azure is still working, is run once with one request at a time
// and once at the default width, and the records and the emulator's final
// state must agree apart from the names and times Azure generates. Three
// records: vol1, vol2 and vol1 again, so that one volume has two records.
#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "NetAppEngineFixture.h"
#include "kxso/kxso_exports.h"

namespace enginetest {
namespace {

using azemu::FaultAction;

constexpr const char* kSnapUuid3 = "4d1c9a2e-5b3f-4a6d-9e8c-7f0a1b2c3d43";
constexpr int kOperationDelayMs = 300;

enum class Call { kSnap, kPostSnap, kDelete, kMap, kUnmap };

struct FaultCase {
    const char* name;
    Call call;
    const char* method;
    const char* path;  // regex in the URL path; pinned to vol2's record
    FaultAction action;
    int times;
    int status;
    bool afterProcessing;
    int delayMs;
    int expectedResult;
    // At the default width a later record of vol1 was requested before the
    // walk stopped at vol2, and what it made was deleted again.
    bool undoneSideBySide;
};

struct Outcome {
    int result = -1;
    bool undone = false;
    std::vector<std::string> records;
    std::vector<std::string> volumes;
};

// Azure's generated ids (snapshot ids, operation names) and the addresses it
// gives new clones, in the order it makes them, differ between two runs; the
// snapshot names the host hands out do not.
std::string WithoutGeneratedIds(const std::string& raw) {
    static const std::regex kGuid(
        "[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}");
    static const std::regex kExportAddress("[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+:/");
    const std::string text = std::regex_replace(raw, kExportAddress, "<address>:/");
    std::string out;
    auto last = text.cbegin();
    for (std::sregex_iterator it(text.begin(), text.end(), kGuid), end; it != end; ++it) {
        const std::string id = it->str();
        const bool ours = id == kSnapUuid1 || id == kSnapUuid2 || id == kSnapUuid3;
        out.append(last, text.cbegin() + it->position()).append(ours ? id : "<id>");
        last = text.cbegin() + it->position() + it->length();
    }
    return out.append(last, text.cend());
}

std::string Describe(const kxsnap::RecordData& data) {
    std::string text = "status " + std::to_string(data.status) + " error " +
                       std::to_string(data.errorCode) + " [" + data.errorText + "] name [" +
                       data.snapName.value_or("") + "] path [" + data.mappedDevicePath +
                       "] flags " + std::to_string(data.snapFlags);
    for (const auto& entry : data.metadata) {
        text += " md" + std::to_string(entry.first) + " [" + entry.second + "]";
    }
    for (const auto& entry : data.transientMetadata) {
        text += " tmd" + std::to_string(entry.first) + " [" + entry.second + "]";
    }
    return WithoutGeneratedIds(text);
}

std::string Describe(const azemu::NetAppVolumeView& volume) {
    std::string text = volume.creationToken + " " + volume.provisioningState + " [" +
                       volume.content + "] from [" + volume.clonedFrom + "]";
    std::vector<std::string> snapshots;
    for (const azemu::NetAppSnapshotView& snapshot : volume.snapshots) {
        snapshots.push_back(snapshot.name + " " + snapshot.provisioningState + " [" +
                            snapshot.content + "]");
    }
    std::sort(snapshots.begin(), snapshots.end());
    for (const std::string& snapshot : snapshots) {
        text += " {" + snapshot + "}";
    }
    return WithoutGeneratedIds(text);
}

class AnfFanOutEquivalenceTest : public NetAppEngineTest {
protected:
    void UseWidth(const std::string& width) {
        UseSettings("[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n"
                    "nAzureRESTAPIMaxParallelRequests=" +
                    width + "\n");
    }
    // vol1, vol2, vol1: operations polled every second.
    static std::unique_ptr<kxtest::TestHost> ThreeRecordHost() {
        auto host = std::make_unique<kxtest::TestHost>(31);
        const char* shares[] = {"vol1", "vol2", "vol1"};
        const char* uuids[] = {kSnapUuid1, kSnapUuid2, kSnapUuid3};
        for (int i = 0; i < 3; ++i) {
            kxsnap::RecordData data;
            data.sourceDevicePath = SourceDeviceName(shares[i], kServerAddress);
            data.snapId = i + 1;
            data.snapUuid = uuids[i];
            PollEverySecond(data);
            host->Add(data);
        }
        return host;
    }
    static void PollEverySecond(kxsnap::RecordData& data) {
        data.config["SMCONFIG_ANF_OP_PROGRESS_INTERVAL_IN_SEC_KEY"] = 1;
        data.config["SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY"] = 60;
    }
    static std::unique_ptr<kxtest::TestHost> NextJob(kxtest::TestHost& previous) {
        auto host = LaterJob(previous);
        for (int16_t i = 0; i < host->count(); ++i) {
            PollEverySecond(host->Record(i).data());
        }
        return host;
    }
    Outcome Collect(int result, kxtest::TestHost& host) const {
        Outcome outcome;
        outcome.result = result;
        for (int16_t i = 0; i < host.count(); ++i) {
            outcome.records.push_back(Describe(host.Record(i).data()));
        }
        for (const azemu::NetAppVolumeView& volume : emu_->netAppVolumes()) {
            outcome.volumes.push_back(Describe(volume));
        }
        std::sort(outcome.volumes.begin(), outcome.volumes.end());
        return outcome;
    }
};

class AnfFaultEquivalenceTest : public AnfFanOutEquivalenceTest,
                                public ::testing::WithParamInterface<FaultCase> {
protected:
    // The host of the call under test, with everything before it done.
    std::unique_ptr<kxtest::TestHost> HostBefore(Call call) {
        auto host = ThreeRecordHost();
        EXPECT_EQ(0, Run(kxso_prepareDevices, *host));
        if (call == Call::kSnap) {
            return host;
        }
        EXPECT_EQ(0, Run(kxso_snapDevices, *host));
        if (call == Call::kPostSnap) {
            return host;
        }
        EXPECT_EQ(0, Run(kxso_postSnapDevices, *host));
        auto later = NextJob(*host);
        if (call != Call::kUnmap) {
            return later;
        }
        EXPECT_EQ(0, Run(kxso_mapSnaps, *later));
        return NextJob(*later);
    }
    static Export ExportOf(Call call) {
        switch (call) {
            case Call::kSnap:
                return kxso_snapDevices;
            case Call::kPostSnap:
                return kxso_postSnapDevices;
            case Call::kDelete:
                return kxso_deleteSnaps;
            case Call::kMap:
                return kxso_mapSnaps;
            case Call::kUnmap:
                return kxso_unmapSnaps;
        }
        return nullptr;
    }
    Outcome RunAtWidth(const std::string& width) {
        emu_->reset();
        UseWidth(width);
        Tune(&azemu::Settings::asyncOperationDelayMs, 0);
        const FaultCase& c = GetParam();
        auto host = HostBefore(c.call);
        Tune(&azemu::Settings::asyncOperationDelayMs, kOperationDelayMs);
        azemu::FaultSpec fault;
        fault.method = c.method;
        fault.path = c.path;
        fault.action = c.action;
        fault.times = c.times;
        fault.status = c.status;
        fault.code = "Conflict";
        fault.afterProcessing = c.afterProcessing;
        fault.delayMs = c.delayMs;
        emu_->injectFault(fault);
        const int result = Run(ExportOf(c.call), *host);
        emu_->clearFaults();
        // What Azure still had under way ends as it would have.
        emu_->completePending();
        Outcome outcome = Collect(result, *host);
        outcome.undone = host->Logged("the call stopped at an earlier device");
        return outcome;
    }
};

TEST_P(AnfFaultEquivalenceTest, OneAtATimeAndSideBySideLeaveTheSame) {
    const Outcome sequential = RunAtWidth("1");
    const Outcome sideBySide = RunAtWidth("32");
    EXPECT_EQ(GetParam().expectedResult, sequential.result);
    EXPECT_EQ(sequential.result, sideBySide.result);
    ASSERT_EQ(sequential.records.size(), sideBySide.records.size());
    for (size_t i = 0; i < sequential.records.size(); ++i) {
        EXPECT_EQ(sequential.records[i], sideBySide.records[i]) << "record " << i;
    }
    EXPECT_EQ(sequential.volumes, sideBySide.volumes);
    EXPECT_FALSE(sequential.undone);
    EXPECT_EQ(GetParam().undoneSideBySide, sideBySide.undone);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, AnfFaultEquivalenceTest,
    ::testing::Values(
        FaultCase{"SnapRefused", Call::kSnap, "PUT", "volumes/vol2/snapshots/", FaultAction::Error,
                  -1, 409, false, 400, 1, true},
        FaultCase{"SnapAnswerLostTwice", Call::kSnap, "PUT", "volumes/vol2/snapshots/",
                  FaultAction::Drop, 2, 0, true, 0, 0, false},
        FaultCase{"PostSnapReadFails", Call::kPostSnap, "GET", "volumes/vol2/snapshots/",
                  FaultAction::Error, -1, 409, false, 0, 1, false},
        FaultCase{"DeleteRefused", Call::kDelete, "DELETE", "volumes/vol2/snapshots/",
                  FaultAction::Error, -1, 409, false, 0, 2, false},
        FaultCase{"DeleteAnswerLostTwice", Call::kDelete, "DELETE", "volumes/vol2/snapshots/",
                  FaultAction::Drop, 2, 0, true, 0, 0, false},
        FaultCase{"MapRefused", Call::kMap, "PUT", "volumes/KXClone-4d1c9a2e.*42$",
                  FaultAction::Error, -1, 409, false, 400, 1, true},
        // The map finds the clone its lost request made and stops there.
        FaultCase{"MapAnswerLostTwice", Call::kMap, "PUT", "volumes/KXClone-4d1c9a2e.*42$",
                  FaultAction::Drop, 2, 0, true, 400, 1, true},
        // The last record's clone is made, but its request fails: no success.
        FaultCase{"MapLastAnswerLostTwice", Call::kMap, "PUT", "volumes/KXClone-4d1c9a2e.*43$",
                  FaultAction::Drop, 2, 0, true, 0, 1, false},
        FaultCase{"UnmapRefused", Call::kUnmap, "DELETE", "volumes/KXClone-4d1c9a2e.*42$",
                  FaultAction::Error, -1, 409, false, 0, 2, false}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// Records of one volume wait for each other; records of different volumes do
// not. Every request is answered 200 ms late, so two requests that were
// under way at once started less than that apart.
TEST_F(AnfFanOutEquivalenceTest, TwoRecordsOfOneVolumeNeverHaveRequestsUnderWayAtOnce) {
    constexpr int64_t kLatencyMs = 200;
    UseWidth("32");
    auto host = ThreeRecordHost();
    ASSERT_EQ(0, Run(kxso_prepareDevices, *host));
    Tune(&azemu::Settings::requestLatencyMs, kLatencyMs);
    emu_->clearRequestLog();
    ASSERT_EQ(0, Run(kxso_snapDevices, *host));
    const std::vector<azemu::RequestRecord> vol1 = Sent("PUT", "volumes/vol1/snapshots/");
    const std::vector<azemu::RequestRecord> vol2 = Sent("PUT", "volumes/vol2/snapshots/");
    ASSERT_EQ(2u, vol1.size());
    ASSERT_EQ(1u, vol2.size());
    EXPECT_GE(vol1[1].timeMs - vol1[0].timeMs, kLatencyMs);
    EXPECT_LT(std::abs(vol2[0].timeMs - vol1[0].timeMs), kLatencyMs);
}

}  // namespace
}  // namespace enginetest
