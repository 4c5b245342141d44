#include "platform/EvDebug.h"

#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <string>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/FXString.h"

namespace {

constexpr const char* kDefaultLogFile = "/var/log/kxso/kxso.log";

// Read at each call's first line (or each line outside a call) so that a test
// (or an operator) can move the log without restarting the host.
std::string LogFilePath() {
    const char* path = getenv("KXSO_LOG_FILE");
    return (path != nullptr && *path != '\0') ? std::string(path) : std::string(kDefaultLogFile);
}

void MakeParentDirectories(const std::string& filePath) {
    for (size_t slash = filePath.find('/', 1); slash != std::string::npos;
         slash = filePath.find('/', slash + 1)) {
        // EEXIST and EACCES are both fine here: the open that follows decides.
        mkdir(filePath.substr(0, slash).c_str(), 0750);
    }
}

int OpenLogFile() {
    const std::string path = LogFilePath();
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY;
    int fd = open(path.c_str(), flags, 0640);
    if (fd < 0 && errno == ENOENT) {
        MakeParentDirectories(path);
        fd = open(path.c_str(), flags, 0640);
    }
    return fd;
}

std::string Timestamp() {
    struct timeval now {};
    gettimeofday(&now, nullptr);
    struct tm local {};
    localtime_r(&now.tv_sec, &local);
    char date[32];
    strftime(date, sizeof(date), "%Y-%m-%d %H:%M:%S", &local);
    return FXString::Format("%s.%03ld", date, static_cast<long>(now.tv_usec / 1000));
}

std::string LevelName(int level) {
    return level < 0 ? std::string("ERROR") : FXString::Format("DEBUG%d", level);
}

// A line break inside the text would let logged external text forge lines of
// its own, and breaks grep; every record stays on one line.
std::string OneLine(const char* text) {
    std::string line(text != nullptr ? text : "");
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return line;
}

// The call scope active on this thread, or nullptr. Each thread sees only its
// own: this is the current call's context, never shared between calls.
thread_local EvDebugCallScope* tCurrentCall = nullptr;

void WriteRecord(int fd, const std::string& record) {
    ssize_t ignored = write(fd, record.data(), record.size());
    (void)ignored;
}

// One write() on an O_APPEND descriptor per line keeps lines of concurrent
// threads and processes whole without a lock.
void AppendToLogFile(const std::string& record) {
    if (tCurrentCall != nullptr) {
        const int fd = tCurrentCall->Descriptor();
        if (fd >= 0) {
            WriteRecord(fd, record);
        }
        return;
    }
    const int fd = OpenLogFile();
    if (fd < 0) {
        return;
    }
    WriteRecord(fd, record);
    close(fd);
}

}  // namespace

EvDebugCallScope::EvDebugCallScope() {
    if (tCurrentCall == nullptr) {
        tCurrentCall = this;
        active_ = true;
    }
}

EvDebugCallScope::~EvDebugCallScope() {
    if (active_) {
        tCurrentCall = nullptr;
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

int EvDebugCallScope::Descriptor() {
    if (!opened_) {
        opened_ = true;
        fd_ = OpenLogFile();
    }
    return fd_;
}

void EvDebugLog::WriteLine(int level, const char* tag, const char* text) const {
    const std::string record =
        FXString::Format("%s [%d/%d] %s %s: %s\n", Timestamp().c_str(), static_cast<int>(getpid()),
                         static_cast<int>(gettid()), LevelName(level).c_str(),
                         tag != nullptr ? tag : "", OneLine(text).c_str());
    AppendToLogFile(record);
}

void EvDebugLog::DebugLvl(int level, const char* tag, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const std::string text = FXString::FormatV(format, args);
    va_end(args);
    WriteLine(level, tag, text.c_str());
}

void EvDebugLog::Debug(const char* tag, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const std::string text = FXString::FormatV(format, args);
    va_end(args);
    WriteLine(0, tag, text.c_str());
}

void EvDebugLog::Error(const char* tag, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const std::string text = FXString::FormatV(format, args);
    va_end(args);
    WriteLine(-1, tag, text.c_str());
}

const EvDebugLog& EvDebug(const void* /*context*/) {
    // The logger holds no state; one constant instance serves every thread.
    static const EvDebugLog log;
    return log;
}
