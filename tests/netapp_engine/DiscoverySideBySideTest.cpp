// Prepare's volume discovery over many resource groups, one request at a
// time and side by side: the records, the engine's log and the requests
// sent are the same, also when one group's interface list is hit by a fault.
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "NetAppEngineFixture.h"
#include "kxso/kxso_exports.h"

namespace enginetest {
namespace {

constexpr int kGroups = 40;
constexpr int kMounted = 3;
constexpr const char* kNicList = "/providers/Microsoft.Network/networkInterfaces";

std::string GroupName(int group) {
    return "rg-" + std::to_string(group);
}

// Mounted volume k lives in an account and pool of its own; its mount
// target is on a network of group 10k + 5, among kGroups groups.
std::string MountAddress(int k) {
    return "10.3" + std::to_string(k) + ".1.4";
}

std::string MountGroup(int k) {
    return GroupName(10 * k + 5);
}

azemu::Json ManyGroupScenario() {
    azemu::Json scenario = {
        {"subscriptionId", "3f2a9c10-7d4e-4b6a-9c8d-1e2f3a4b5c6d"},
        {"resourceGroup", "kx-anf-rg"},
        {"location", "westeurope"},
        {"vm",
         {{"name", "kxanfvm"},
          {"networkInterfaces",
           {{{"privateIpAddresses", {"10.20.0.4"}}, {"subnet", "10.20.0.0/24"}}}}}},
        {"resourceGroups", azemu::Json::array()},
        {"virtualNetworks", azemu::Json::array()},
        {"netAppAccounts", azemu::Json::array()}};
    for (int group = 0; group < kGroups; ++group) {
        scenario["resourceGroups"].push_back(GroupName(group));
    }
    for (int k = 0; k < kMounted; ++k) {
        const std::string vnet = "vnet" + std::to_string(k);
        scenario["virtualNetworks"].push_back(
            {{"name", vnet},
             {"resourceGroup", MountGroup(k)},
             {"subnets",
              {{{"name", "anf"}, {"addressPrefix", "10.3" + std::to_string(k) + ".1.0/24"}}}}});
        scenario["netAppAccounts"].push_back({{"name", "acct" + std::to_string(k)},
                                              {"resourceGroup", GroupName(10 * k + 7)},
                                              {"capacityPools",
                                               {{{"name", "pool1"},
                                                 {"volumes",
                                                  {{{"name", "share" + std::to_string(k)},
                                                    {"creationToken", "share" + std::to_string(k)},
                                                    {"mountTargetIp", MountAddress(k)},
                                                    {"subnet", vnet + "/anf"}}}}}}}});
    }
    return scenario;
}

// The same with one more pool behind the last share's mount target, which
// the walk reaches only after every share is found ("rg-9" sorts after "rg-27").
azemu::Json SparePoolScenario() {
    azemu::Json scenario = ManyGroupScenario();
    scenario["netAppAccounts"].push_back(
        {{"name", "spare"},
         {"resourceGroup", GroupName(9)},
         {"capacityPools",
          {{{"name", "pool1"},
            {"volumes",
             {{{"name", "unmounted"},
               {"mountTargetIp", MountAddress(kMounted - 1)},
               {"subnet", "vnet" + std::to_string(kMounted - 1) + "/anf"}}}}}}}});
    return scenario;
}

// What a prepare leaves: per record, and the requests it took.
struct Outcome {
    int result = -1;
    // status, metadata, transient metadata, error code and text
    std::vector<
        std::tuple<int, std::map<int, std::string>, std::map<int, std::string>, int, std::string>>
        records;
    std::vector<std::string> engineLog;  // the client's and the engine's lines, in order
    size_t nicLists = 0;
    size_t volumeLists = 0;
    size_t armRequests = 0;
    // Interface lists that reached Azure before the one before them could
    // have been answered: sent side by side.
    size_t overlapping = 0;
};

struct Fault {
    const char* name;
    azemu::FaultAction action;
    int status;
    const char* code;
    bool shareFound;  // the list is read in the end
};

class DiscoverySideBySideTest : public kxtest::EmulatorBench,
                                public ::testing::WithParamInterface<Fault> {
protected:
    void SetUp() override { StartEmulator(ManyGroupScenario()); }

    // Prepare of the kMounted shares with `width` ("" for the default), the
    // fault (if any) fired twice on the interface list of the group that
    // holds the first share's mount target. Prepare reads only: both runs
    // see the same emulator, generated ids included.
    Outcome Prepare(const std::string& width, const Fault* fault) {
        emu_->clearRequestLog();
        std::string settings = "[Ferrolink]\nnAzureRESTAPIMaxRetryDelaySecs=0\n";
        if (!width.empty()) {
            settings += "nAzureRESTAPIMaxParallelRequests=" + width + "\n";
        }
        UseSettings(settings);
        if (fault != nullptr) {
            InjectFault("GET", ".*/resourceGroups/" + MountGroup(0) + kNicList, fault->action, 2,
                        fault->status, fault->code, fault->action == azemu::FaultAction::Drop);
        }
        kxtest::TestHost host(41);
        for (int k = 0; k < kMounted; ++k) {
            kxsnap::RecordData data;
            data.sourceDevicePath = SourceDeviceName("share" + std::to_string(k), MountAddress(k));
            data.snapId = k + 1;
            data.snapUuid = "4d1c9a2e-5b3f-4a6d-9e8c-7f0a1b2c3d5" + std::to_string(k);
            host.Add(data);
        }
        Outcome outcome;
        outcome.result = kxso_prepareDevices(host.devices(), host.count(), host.util());
        for (int16_t i = 0; i < host.count(); ++i) {
            const kxsnap::RecordData& data = host.Record(i).data();
            outcome.records.push_back({data.status, data.metadata, data.transientMetadata,
                                       data.errorCode, data.errorText});
        }
        for (const kxsnap::LogEntry& entry : host.Log()) {
            if (entry.tag.rfind("KXSnapAzureNet", 0) == 0) {
                outcome.engineLog.push_back(entry.tag + " " + entry.text);
            }
        }
        const std::vector<azemu::RequestRecord> nicLists = Sent("GET", kNicList);
        outcome.nicLists = nicLists.size();
        for (size_t i = 1; i < nicLists.size(); ++i) {
            if (nicLists[i].timeMs - nicLists[i - 1].timeMs < latencyMs_) {
                ++outcome.overlapping;
            }
        }
        outcome.volumeLists = Sent("GET", "/capacityPools/pool1/volumes?").size();
        outcome.armRequests = Sent("*", "/subscriptions").size();
        return outcome;
    }

    int latencyMs_ = 0;

    static void ExpectSame(const Outcome& one, const Outcome& wide, bool sameVolumeLists = true) {
        EXPECT_EQ(one.result, wide.result);
        EXPECT_EQ(one.records, wide.records);
        EXPECT_EQ(one.engineLog, wide.engineLog);
        EXPECT_EQ(one.nicLists, wide.nicLists);
        if (sameVolumeLists) {
            EXPECT_EQ(one.volumeLists, wide.volumeLists);
            EXPECT_EQ(one.armRequests, wide.armRequests);
        }
    }
};

TEST_F(DiscoverySideBySideTest, EveryGroupListedOnceAndEveryShareFoundAtBothWidths) {
    latencyMs_ = 50;
    Tune(&azemu::Settings::requestLatencyMs, latencyMs_);
    const Outcome one = Prepare("1", nullptr);
    const Outcome wide = Prepare("", nullptr);
    ExpectSame(one, wide);
    EXPECT_EQ(0u, one.overlapping);
    EXPECT_GT(wide.overlapping, 0u);
    EXPECT_EQ(0, wide.result);
    // The VM's own group, kGroups more, and nothing listed twice.
    EXPECT_EQ(static_cast<size_t>(kGroups + 1), wide.nicLists);
    EXPECT_EQ(static_cast<size_t>(kMounted), wide.volumeLists);
    for (const auto& record : wide.records) {
        EXPECT_EQ(0, std::get<3>(record)) << std::get<4>(record);
        EXPECT_NE(std::string::npos, std::get<1>(record).at(6).find("pool1|share"));
    }
}

TEST_F(DiscoverySideBySideTest, VolumeListsEndWhereEveryShareIsFound) {
    StartEmulator(SparePoolScenario());
    const Outcome one = Prepare("1", nullptr);
    EXPECT_EQ(0, one.result);
    EXPECT_EQ(static_cast<size_t>(kMounted), one.volumeLists);
    EXPECT_TRUE(Sent("GET", "/netAppAccounts/spare/").empty());
    // Side by side the spare pool may have been asked for already; it is
    // never read, so nothing else differs.
    const Outcome wide = Prepare("", nullptr);
    ExpectSame(one, wide, false);
}

TEST_P(DiscoverySideBySideTest, FaultOnOneGroupsListEndsAlikeAtBothWidths) {
    const Fault& fault = GetParam();
    const Outcome one = Prepare("1", &fault);
    const Outcome wide = Prepare("", &fault);
    ExpectSame(one, wide);
    if (fault.shareFound) {
        // Lost answers and server errors of a read are read again; the share is found.
        EXPECT_EQ(0, wide.result);
    } else {
        // A refused list leaves the share behind it unresolved.
        EXPECT_EQ(1, wide.result);
        EXPECT_NE(std::string::npos,
                  std::get<4>(wide.records[0]).find("Failed to find volume information for"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    PinnedToOneGroup, DiscoverySideBySideTest,
    ::testing::Values(
        Fault{"LostAnswer", azemu::FaultAction::Drop, 0, "", true},
        Fault{"Refused", azemu::FaultAction::Error, 403, "AuthorizationFailed", false},
        Fault{"ServerError", azemu::FaultAction::Error, 500, "InternalServerError", true}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace enginetest
