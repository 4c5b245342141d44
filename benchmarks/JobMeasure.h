// What one exported call costs: wall and CPU time, peak memory, time asleep,
// and what it sent (taken from the emulator's request log).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "AzureEmulator.h"

namespace jobbench {

struct Usage {
    double wallMs = 0;
    double cpuMs = 0;       // the calling thread: the plug-in's own work
    double childCpuMs = 0;  // programs it ran and waited for (udevadm)
    double sleepMs = 0;     // nanosleep called on the calling thread
    long peakGrowthKb = 0;
};

struct JobResult {
    std::string path;  // "managed disks" or "NetApp Files"
    std::string mode;  // "bulk" or "per-device"
    std::string step;
    int count = 0;
    int resultCode = 0;
    Usage usage;
    std::map<std::string, int> requestsByKind;
    int requests = 0;
    int vmUpdates = 0;
    int tokenRequests = 0;
    uint64_t armConnections = 0;
    uint64_t imdsConnections = 0;  // the udevadm stand-in's admin calls share this listener
    int failedRequests = 0;
    size_t logLines = 0;  // lines handed to the host's log
    size_t logBytes = 0;
};

// Measures `call` on this thread. Emulator threads run in this process too;
// their CPU is left out by reading this thread's clock only.
class Meter {
public:
    void Start();
    Usage Stop();

private:
    double wallStart_ = 0;
    double cpuStart_ = 0;
    double childCpuStart_ = 0;
    double sleepStart_ = 0;
    long rssStartKb_ = 0;
};

// The calling thread becomes the one whose sleeps are counted.
void CountSleepsOfThisThread();
long CurrentRssKb();

// "GET disks", "PUT virtualMachines", "IMDS token"...
std::string RequestKind(const azemu::RequestRecord& request);
void CountRequests(const std::vector<azemu::RequestRecord>& log, JobResult& result);

}  // namespace jobbench
