// The platform log: a file named by KXSO_LOG_FILE (default
// /var/log/kxso/kxso.log). Never stdout. A file that cannot be opened (not
// root, read-only disk) silently drops the lines: logging never fails a call.
// Thread-safe: lines from concurrent calls do not interleave.
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
