// NetApp Files prepare, whose volume discovery lists the network interfaces
// of every resource group the VM can see: 500 groups, against the
// in-process emulator answering every Resource Manager request after
// 200 ms, at the default width and one request at a time, in the same run.
// Appends its section (table and budget verdict) to the file given; exits 1
// when the budget is missed.
//
//   kxso_netapp_discovery_benchmarks --out docs/benchmarks.md
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "AzureEmulator.h"
#include "kxso/kxso_exports.h"
#include "support/EmulatorEnv.h"
#include "support/TestEnv.h"
#include "support/TestHost.h"

namespace {

constexpr int kLatencyMs = 200;
constexpr int kGroups = 500;  // the VM's own among them
constexpr int kMounted = 2;
constexpr const char* kMountAddress = "10.30.1.4";
constexpr const char* kSettings =
    "[Ferrolink]\n"
    "nAzureRESTAPIReqWaitTimeSecs=60\n";

std::string GroupName(int group) {
    return "rg-" + std::to_string(group);
}

// The mounted shares' pool and mount target sit in groups near the end of
// the list, so that the walk needs every group's interfaces.
azemu::Json DiscoveryScenario() {
    azemu::Json groups = azemu::Json::array();
    for (int group = 1; group < kGroups; ++group) {
        groups.push_back(GroupName(group));
    }
    azemu::Json volumes = azemu::Json::array();
    for (int k = 0; k < kMounted; ++k) {
        volumes.push_back({{"name", "share" + std::to_string(k)},
                           {"creationToken", "share" + std::to_string(k)},
                           {"mountTargetIp", kMountAddress},
                           {"subnet", "anf-vnet/anf"}});
    }
    return {{"subscriptionId", "3f2a9c10-7d4e-4b6a-9c8d-1e2f3a4b5c6d"},
            {"resourceGroup", GroupName(0)},
            {"location", "westeurope"},
            {"vm",
             {{"name", "kxanfvm"},
              {"networkInterfaces",
               {{{"privateIpAddresses", {"10.20.0.4"}}, {"subnet", "10.20.0.0/24"}}}}}},
            {"resourceGroups", groups},
            {"virtualNetworks",
             {{{"name", "anf-vnet"},
               {"resourceGroup", GroupName(kGroups - 2)},
               {"subnets", {{{"name", "anf"}, {"addressPrefix", "10.30.1.0/24"}}}}}}},
            {"netAppAccounts",
             {{{"name", "kxacct"},
               {"resourceGroup", GroupName(kGroups - 1)},
               {"capacityPools", {{{"name", "pool1"}, {"volumes", volumes}}}}}}}};
}

struct Row {
    std::string width;
    double prepareMs = 0;
    int result = -1;
    size_t armRequests = 0;
    size_t nicLists = 0;
};

Row Measure(const std::string& width) {
    kxtest::TempDir dir;
    azemu::Emulator emu(DiscoveryScenario(), dir / "root");
    emu.start();
    auto env = kxtest::PointPluginAtEmulator(emu, dir / "kxso.log");
    kxtest::ScopedSettings settings(std::string(kSettings) +
                                    "nAzureRESTAPIMaxParallelRequests=" + width + "\n");
    azemu::Settings emuSettings = emu.settings();
    emuSettings.requestLatencyMs = kLatencyMs;
    emu.setSettings(emuSettings);

    kxtest::TestHost host(51);
    for (int k = 0; k < kMounted; ++k) {
        kxsnap::RecordData data;
        data.sourceDevicePath = "{idatype:NFS,type:nfs,lunuuid:\\/share" + std::to_string(k) +
                                ",targethostname:" + kMountAddress + "}";
        data.snapId = k + 1;
        data.snapUuid = "5e2d0b3f-6c4a-4b7e-8f9d-0a1b2c3d4e5" + std::to_string(k);
        host.Add(data);
    }
    Row row;
    row.width = width;
    const auto start = std::chrono::steady_clock::now();
    row.result = kxso_prepareDevices(host.devices(), host.count(), host.util());
    row.prepareMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    for (const azemu::RequestRecord& request : emu.requestLog()) {
        if (request.listener != "https") {
            continue;
        }
        ++row.armRequests;
        if (request.path.find("/providers/Microsoft.Network/networkInterfaces") !=
            std::string::npos) {
            ++row.nicLists;
        }
    }
    emu.stop();
    return row;
}

std::string Fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.0f", value);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string out = "docs/benchmarks.md";
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--out") {
            out = argv[i + 1];
        }
    }
    std::vector<Row> rows;
    for (const char* width : {"32", "1"}) {
        rows.push_back(Measure(width));
        std::cerr << "measured width " << width << ": " << Fixed(rows.back().prepareMs) << " ms\n";
    }
    const Row& wide = rows[0];
    const Row& one = rows[1];
    std::ostringstream table;
    table << "\n## NetApp Files discovery side by side (" << kGroups
          << " resource groups, 200 ms per Resource Manager request)\n\n"
          << "Prepare of " << kMounted
          << " mounted exports; its discovery lists the network interfaces of every resource "
             "group the VM can see and the volumes of the capacity pools they serve. Width 32 is "
             "the default of nAzureRESTAPIMaxParallelRequests; width 1 sends one request after "
             "another.\n\n"
          << "| resource groups | width | prepare ms | result | ARM requests | interface lists |\n"
          << "|---|---|---|---|---|---|\n";
    for (const Row& row : rows) {
        table << "| " << kGroups << " | " << row.width << " | " << Fixed(row.prepareMs) << " | "
              << row.result << " | " << row.armRequests << " | " << row.nicLists << " |\n";
    }
    const double speedUp = wide.prepareMs > 0 ? one.prepareMs / wide.prepareMs : 0;
    const bool sameWork = wide.result == 0 && one.result == 0 &&
                          wide.armRequests == one.armRequests && wide.nicLists == one.nicLists;
    const bool met = sameWork && speedUp >= 10;
    table << "\n- " << (met ? "met" : "MISSED") << ": discovery over " << kGroups
          << " resource groups at least 10x faster at the default width than at width 1 "
             "(measured "
          << Fixed(speedUp) << "x, same requests and result at both widths)\n";
    std::ofstream file(out, std::ios::app);
    file << table.str();
    std::cout << table.str();
    return met ? 0 : 1;
}
