// The platform log: a file named by KXSO_LOG_FILE (default
// /var/log/kxso/kxso.log). Never stdout. A file that cannot be opened (not
// root, read-only disk) silently drops the lines: logging never fails a call.
// Thread-safe: lines from concurrent calls do not interleave. Within a call
// the file is opened once (EvDebugCallScope).
#pragma once

class EvDebugLog {
public:
    // Levels follow the host's: -1 error, 0..3 detail.
    void DebugLvl(int level, const char* tag, const char* format, ...) const
        __attribute__((format(printf, 4, 5)));
    void Debug(const char* tag, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    void Error(const char* tag, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    // Writes one already formatted line.
    void WriteLine(int level, const char* tag, const char* text) const;
};

// The process-wide log. The argument is the caller's context and is unused.
const EvDebugLog& EvDebug(const void* context = nullptr);

// One plug-in call's hold on the log file: every export creates one on its
// stack, so the file is opened at the call's first line (KXSO_LOG_FILE as it
// is then) and closed when the call returns, instead of once for every line.
// It belongs to the calling thread alone: concurrent calls each have their
// own. A scope inside another on the same thread leaves the outer one in
// charge. Lines written on a thread with no call scope open the file for
// that line only.
class EvDebugCallScope {
public:
    EvDebugCallScope();
    ~EvDebugCallScope();
    EvDebugCallScope(const EvDebugCallScope&) = delete;
    EvDebugCallScope& operator=(const EvDebugCallScope&) = delete;

    // The descriptor of this call's log file, opened at the first use; -1
    // when it cannot be opened (the lines are then dropped, as always).
    int Descriptor();

private:
    int fd_ = -1;
    bool opened_ = false;
    bool active_ = false;  // false for a scope nested in another
};
