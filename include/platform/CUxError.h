// The platform error value: a 32-bit code (0 = success, anything else is an
// error) and shared detail holding the message and the trace frames added at
// every hand-over. Cheap to copy; returned by value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct FXCodeLocation {
    FXCodeLocation(const char* file, const char* function, int line)
        : file(file ? file : ""), function(function ? function : ""), line(line) {}
    std::string file;
    std::string function;
    int line;
};

#define FXCODE_LOCATION() FXCodeLocation(__FILE__, __func__, __LINE__)

enum class EErrorOutputFormat : int {
    Full = 0,     // code, message and every trace frame
    Compact = 1,  // code and message
    Message = 2,  // the text shown to a person on a record
};

class CUxError {
public:
    CUxError() = default;
    CUxError(int32_t code, std::string message, const FXCodeLocation& where);

    int32_t Code() const { return code_; }
    bool IsSuccess() const { return code_ == 0; }
    bool IsError() const { return code_ != 0; }
    explicit operator bool() const { return IsError(); }

    // The message without code or trace; "" on success.
    const std::string& Message() const;
    const std::vector<FXCodeLocation>& Trace() const;

    // Adds a trace frame; returns *this so a caller can `return err.Push(...)`.
    // Copies share the detail, so a frame pushed on one shows on all of them.
    // On success there is no detail and nothing is added.
    CUxError& Push(const FXCodeLocation& where);

    // Text forms; "" on success.
    //   Full (AsString()): "error 774: <message> [at a.cpp:10 f <- b.cpp:42 g]",
    //                      the first frame is where the error arose, each "<-"
    //                      the caller that handed it on.
    //   Compact:           "error 774: <message>"
    //   Message:           "<message> [code 774]" ("error [code 774]" without text)
    std::string AsString() const;
    std::string AsString(EErrorOutputFormat format) const;

    static CUxError Success() { return CUxError(); }

private:
    struct Detail {
        std::string message;
        std::vector<FXCodeLocation> trace;
    };
    int32_t code_ = 0;
    std::shared_ptr<Detail> detail_;
};

// Where errors without a host record are written: the platform log, as "%s: %s"
// (location, text). Thread-safe; never null.
class FXLogWriter {
public:
    virtual ~FXLogWriter() = default;
    virtual void Write(const char* format, ...) const __attribute__((format(printf, 2, 3))) = 0;
};
extern const FXLogWriter* const g_ptrLogWriter;

namespace FXErrorUtil {
// Builds an error from a printf-style format (a constant of ours; external text
// goes in through "%s"), writes it to g_ptrLogWriter and returns it.
CUxError ErrorErrNo(const FXCodeLocation& where, int32_t code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Writes an error's text to g_ptrLogWriter.
void LogError(const CUxError& error);
}  // namespace FXErrorUtil
