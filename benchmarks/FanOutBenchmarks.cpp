// The freeze window and the calls that send one request per record, against
// the in-process emulator answering every Resource Manager request after
// 200 ms: at 1, 8 and 31 disks (a VM that takes 64 data disks), each at the
// default width and one request at a time, in the same run. Appends its
// section (table and budget verdicts) to the file given; exits 1 when a
// budget is missed.
//
//   kxso_fanout_benchmarks --out docs/benchmarks.md
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AzureEmulator.h"
#include "kxso/kxso_exports.h"
#include "support/EmulatorEnv.h"
#include "support/TestEnv.h"
#include "support/TestHost.h"

namespace {

using Export = KXSO::ResultCode (*)(KXSO::SnapInfo**, int16_t, KXSO::KXOSUtil*);

constexpr int kLatencyMs = 200;
constexpr const char* kSettings =
    "[Ferrolink]\n"
    "nAzureRESTAPIReqPollIntervalSecs=0\n"
    "nAzureRESTAPIReqWaitTimeSecs=60\n"
    "nAzureWaitTimeForDeviceRefresh=0\n";

azemu::Json DiskScenario(int disks) {
    azemu::Json dataDisks = azemu::Json::array();
    for (int lun = 0; lun < disks; ++lun) {
        dataDisks.push_back(
            {{"lun", lun}, {"name", "data" + std::to_string(lun)}, {"sku", "Premium_LRS"}});
    }
    return {{"resourceGroup", "kx-rg"},
            {"location", "westeurope"},
            {"vm",
             {{"name", "kxvm"},
              {"size", "Standard_E64s_v5"},
              {"maxDataDisks", 64},
              {"dataDisks", dataDisks}}}};
}

struct Row {
    int disks = 0;
    std::string width;
    double prepareMs = 0;
    double snapMs = 0;  // the freeze window
    double putSpreadMs = 0;
    double postSnapMs = 0;
    double deleteMs = 0;
    int snapRequests = 0;
};

double TimeCall(Export call, kxtest::TestHost& host, int& result) {
    const auto start = std::chrono::steady_clock::now();
    result = call(host.devices(), host.count(), host.util());
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

Row Measure(int disks, const std::string& width) {
    kxtest::TempDir dir;
    azemu::Emulator emu(DiskScenario(disks), dir / "root");
    emu.start();
    auto env = kxtest::PointPluginAtEmulator(emu, dir / "kxso.log");
    kxtest::ScopedSettings settings(std::string(kSettings) +
                                    "nAzureRESTAPIMaxParallelRequests=" + width + "\n");
    azemu::Settings emuSettings = emu.settings();
    emuSettings.requestLatencyMs = kLatencyMs;
    emu.setSettings(emuSettings);

    kxtest::TestHost host(11);
    for (int lun = 0; lun < disks; ++lun) {
        for (const azemu::BlockDevice& device : emu.devices()) {
            if (device.lun == lun) {
                host.Add(kxtest::DiskRecord("/dev/" + device.name));
            }
        }
    }
    Row row;
    row.disks = disks;
    row.width = width;
    int result = 0;
    row.prepareMs = TimeCall(kxso_prepareDevices, host, result);
    emu.clearRequestLog();
    row.snapMs = TimeCall(kxso_snapDevices, host, result);
    int64_t first = -1;
    int64_t last = -1;
    for (const azemu::RequestRecord& request : emu.requestLog()) {
        if (request.listener == "https") {
            ++row.snapRequests;
        }
        if (request.method == "PUT" && request.path.find("/snapshots/") != std::string::npos) {
            first = first < 0 ? request.timeMs : std::min(first, request.timeMs);
            last = std::max(last, request.timeMs);
        }
    }
    row.putSpreadMs = static_cast<double>(last - first);
    row.postSnapMs = TimeCall(kxso_postSnapDevices, host, result);
    kxtest::TestHost later(23);
    for (int16_t i = 0; i < host.count(); ++i) {
        kxsnap::RecordData data = host.Record(i).data();
        data.transientMetadata.clear();
        data.statusHistory.clear();
        later.Add(data);
    }
    row.deleteMs = TimeCall(kxso_deleteSnaps, later, result);
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
    for (int disks : {1, 8, 31}) {
        for (const char* width : {"32", "1"}) {
            rows.push_back(Measure(disks, width));
            std::cerr << "measured " << disks << " disks at width " << width << "\n";
        }
    }
    std::ostringstream table;
    table << "\n## Requests side by side (200 ms per Resource Manager request)\n\n"
          << "Width 32 is the default of nAzureRESTAPIMaxParallelRequests; width 1 sends one "
             "request after another. The snapshot call is the host's freeze window. The devices "
             "settle once per snapshot call (not once per device).\n\n"
          << "| disks | width | prepare ms | snapshot (freeze window) ms | first to last snapshot "
             "PUT ms | ARM requests of the snapshot call | post-snapshot ms | delete ms |\n"
          << "|---|---|---|---|---|---|---|---|\n";
    for (const Row& row : rows) {
        table << "| " << row.disks << " | " << row.width << " | " << Fixed(row.prepareMs) << " | "
              << Fixed(row.snapMs) << " | " << Fixed(row.putSpreadMs) << " | " << row.snapRequests
              << " | " << Fixed(row.postSnapMs) << " | " << Fixed(row.deleteMs) << " |\n";
    }
    auto at = [&rows](int disks, const std::string& width) -> const Row& {
        for (const Row& row : rows) {
            if (row.disks == disks && row.width == width) {
                return row;
            }
        }
        return rows.front();
    };
    struct Budget {
        std::string text;
        bool met;
    };
    const Row& one = at(1, "32");
    const Row& many = at(31, "32");
    const std::vector<Budget> budgets = {
        {"freeze window at 31 disks within 1.5x the 1-disk window (default width)",
         many.snapMs <= 1.5 * one.snapMs},
        {"first to last snapshot PUT of 31 disks within one request time (200 ms)",
         many.putSpreadMs <= kLatencyMs},
        {"delete of 31 within 2x delete of 1 (default width)", many.deleteMs <= 2 * one.deleteMs},
    };
    bool allMet = true;
    table << "\n";
    for (const Budget& budget : budgets) {
        table << "- " << (budget.met ? "met" : "MISSED") << ": " << budget.text << "\n";
        allMet = allMet && budget.met;
    }
    std::ofstream file(out, std::ios::app);
    file << table.str();
    std::cout << table.str();
    return allMet ? 0 : 1;
}
