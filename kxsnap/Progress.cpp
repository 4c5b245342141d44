#include "kxsnap/Progress.h"

#include <cstdlib>

#include <sys/ioctl.h>
#include <unistd.h>

namespace kxsnap {

namespace {

const char* LevelName(int level) {
    switch (level) {
        case KXSO::LOG_DETAIL:
            return "detail";
        case KXSO::LOG_INFO:
            return "info";
        case KXSO::LOG_ERROR:
            return "error";
        default:
            return "log";
    }
}

size_t TerminalWidth() {
    struct winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 80;
}

// Log lines carry text from Azure: keep the status line one plain line.
std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text)
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    return out;
}

}  // namespace

std::string FormatLogLine(const LogEntry& entry) {
    return std::string("[") + LevelName(entry.level) + "] " + entry.tag + ": " + entry.text;
}

bool CanDrawStatusLine() {
    const char* term = getenv("TERM");
    return isatty(STDOUT_FILENO) && isatty(STDERR_FILENO) && term != nullptr &&
           std::string(term) != "dumb" && *term != '\0';
}

JobProgress::JobProgress(bool statusLine, bool verbose, bool stepLines)
    : statusLine_(statusLine), verbose_(verbose), stepLines_(stepLines && !verbose) {}

JobProgress::~JobProgress() {
    Stop();
}

void JobProgress::Start(const std::string& title) {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = std::chrono::steady_clock::now();
    if (!statusLine_)
        return;
    title_ = title;
    latest_.clear();
    running_ = true;
    drawer_ = std::thread([this] { Loop(); });
}

void JobProgress::OnLogLine(const LogEntry& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (verbose_) {
        if (running_)
            ClearLine();
        fprintf(stderr, "%s\n", Printable(FormatLogLine(entry)).c_str());
        fflush(stderr);
    }
    if (stepLines_ && entry.level >= KXSO::LOG_INFO) {
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - started_)
                           .count();
        fprintf(stderr, "  [%llds] %s\n", static_cast<long long>(seconds),
                Printable(entry.text).c_str());
        fflush(stderr);
    }
    // Detail lines are the plug-in's inner chatter; the status line shows the
    // steps a person can follow.
    if (entry.level >= KXSO::LOG_INFO || latest_.empty())
        latest_ = entry.text;
    if (running_)
        Redraw();
}

void JobProgress::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_)
            return;
        running_ = false;
    }
    wake_.notify_all();
    drawer_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    ClearLine();
}

void JobProgress::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_) {
        Redraw();
        wake_.wait_for(lock, std::chrono::milliseconds(200));
    }
}

void JobProgress::ClearLine() {
    fputs("\r\033[K", stdout);
    fflush(stdout);
}

void JobProgress::Redraw() {
    static const char* const kFrames[] = {"|", "/", "-", "\\"};
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::steady_clock::now() - started_)
                       .count();
    std::string line =
        std::string(kFrames[frame_++ % 4]) + " " + title_ + " (" + std::to_string(seconds) + "s)";
    if (!latest_.empty())
        line += ": " + Printable(latest_);
    size_t width = TerminalWidth() - 1;
    if (line.size() > width)
        line = line.substr(0, width - 3) + "...";
    fprintf(stdout, "\r\033[K%s", line.c_str());
    fflush(stdout);
}

}  // namespace kxsnap
