// What a person sees while a job waits on Azure: one status line on the
// terminal, redrawn a few times a second with the elapsed time and the
// plug-in's latest log line; where no status line can be drawn (cron,
// systemd, TERM=dumb), the plug-in's steps one line each on standard error;
// and, with -v, every log line as it arrives.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "kxsnap/HostRecord.h"

namespace kxsnap {

class JobProgress {
public:
    // `statusLine`: draw the live line on standard output (a terminal only);
    // `verbose`: print every plug-in line on standard error; `stepLines`:
    // print the plug-in's information lines on standard error, with the
    // elapsed time.
    JobProgress(bool statusLine, bool verbose, bool stepLines = false);
    ~JobProgress();
    JobProgress(const JobProgress&) = delete;
    JobProgress& operator=(const JobProgress&) = delete;

    void Start(const std::string& title);
    void OnLogLine(const LogEntry& entry);
    void Stop();

private:
    void Redraw();
    void Loop();
    void ClearLine();

    bool statusLine_;
    bool verbose_;
    bool stepLines_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread drawer_;
    bool running_ = false;
    std::string title_;
    std::string latest_;
    std::chrono::steady_clock::time_point started_;
    unsigned frame_ = 0;
};

// Whether a live status line can be drawn: standard output and standard
// error are terminals and TERM is not "dumb".
bool CanDrawStatusLine();

// "[info] AZUREAPI >>>>>: Created snapshot [...]" for -v and the job log.
std::string FormatLogLine(const LogEntry& entry);

}  // namespace kxsnap
