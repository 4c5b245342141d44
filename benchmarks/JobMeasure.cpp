#include "JobMeasure.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace {

std::atomic<pid_t> g_countedThread{0};
std::atomic<int64_t> g_sleptNs{0};

double Now(clockid_t clock) {
    struct timespec now {};
    clock_gettime(clock, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

double ChildrenCpuMs() {
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double ThreadCpuMs() {
    return Now(CLOCK_THREAD_CPUTIME_ID);
}

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0) {
            return std::atol(line.c_str() + length);
        }
    }
    return 0;
}

// Writing 5 to clear_refs sets the peak resident size back to the current one,
// so each call's peak is its own.
void ResetPeakRss() {
    const int fd = open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        ssize_t ignored = write(fd, "5", 1);
        (void)ignored;
        close(fd);
    }
}

}  // namespace

// The plug-in sleeps through nanosleep (UXSleep); this definition in the program
// takes precedence over the C library's and forwards to it after counting.
extern "C" int nanosleep(const struct timespec* request, struct timespec* remaining) {
    using Real = int (*)(const struct timespec*, struct timespec*);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "nanosleep"));
    if (request != nullptr && gettid() == g_countedThread.load()) {
        g_sleptNs += static_cast<int64_t>(request->tv_sec) * 1000000000 + request->tv_nsec;
    }
    return real(request, remaining);
}

namespace jobbench {

void CountSleepsOfThisThread() {
    g_countedThread = gettid();
}

long CurrentRssKb() {
    return StatusKb("VmRSS:");
}

void Meter::Start() {
    ResetPeakRss();
    rssStartKb_ = CurrentRssKb();
    sleepStart_ = g_sleptNs.load() / 1e6;
    cpuStart_ = ThreadCpuMs();
    childCpuStart_ = ChildrenCpuMs();
    wallStart_ = Now(CLOCK_MONOTONIC);
}

Usage Meter::Stop() {
    Usage usage;
    usage.wallMs = Now(CLOCK_MONOTONIC) - wallStart_;
    usage.cpuMs = ThreadCpuMs() - cpuStart_;
    usage.childCpuMs = ChildrenCpuMs() - childCpuStart_;
    usage.sleepMs = g_sleptNs.load() / 1e6 - sleepStart_;
    usage.peakGrowthKb = std::max(0L, StatusKb("VmHWM:") - rssStartKb_);
    return usage;
}

std::string RequestKind(const azemu::RequestRecord& request) {
    if (request.listener == "http") {
        if (request.path.find("/identity/oauth2/token") != std::string::npos) {
            return "IMDS token";
        }
        if (request.path.rfind("/metadata/instance", 0) == 0) {
            return "IMDS instance";
        }
        return "IMDS " + request.path;
    }
    std::vector<std::string> segments;
    size_t begin = 1;
    while (begin <= request.path.size()) {
        size_t end = request.path.find('/', begin);
        if (end == std::string::npos) {
            end = request.path.size();
        }
        if (end > begin) {
            segments.push_back(request.path.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    if (segments.empty()) {
        return request.method + " /";
    }
    // Ids alternate type and name; a path ending on a type names a collection or an action.
    const std::string& type =
        segments.size() % 2 == 1 ? segments.back() : segments[segments.size() - 2];
    return request.method + " " + type;
}

void CountRequests(const std::vector<azemu::RequestRecord>& log, JobResult& result) {
    for (const azemu::RequestRecord& request : log) {
        const std::string kind = RequestKind(request);
        ++result.requestsByKind[kind];
        ++result.requests;
        if (kind == "IMDS token") {
            ++result.tokenRequests;
        }
        if ((request.method == "PUT" || request.method == "PATCH") &&
            kind.find("virtualMachines") != std::string::npos) {
            ++result.vmUpdates;
        }
        // A 404 to a GET is how the plug-in learns that a name is free.
        const bool notFound = request.method == "GET" && request.status == 404;
        if (request.status == 0 || (request.status >= 400 && !notFound)) {
            ++result.failedRequests;
        }
    }
}

}  // namespace jobbench
