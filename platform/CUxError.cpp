#include "platform/CUxError.h"

#include <cstdarg>

#include "platform/EvDebug.h"
#include "platform/FXString.h"

namespace {

constexpr const char* kLogTag = "FXError";

// Source paths are build-tree specific; the file name alone finds the line.
std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DescribeFrame(const FXCodeLocation& frame) {
    return FXString::Format("%s:%d %s", BaseName(frame.file).c_str(), frame.line,
                            frame.function.c_str());
}

class PlatformLogWriter : public FXLogWriter {
public:
    void Write(const char* format, ...) const override {
        va_list args;
        va_start(args, format);
        const std::string text = FXString::FormatV(format, args);
        va_end(args);
        EvDebug().WriteLine(-1, kLogTag, text.c_str());
    }
};

const PlatformLogWriter kPlatformLogWriter;

}  // namespace

const FXLogWriter* const g_ptrLogWriter = &kPlatformLogWriter;

CUxError::CUxError(int32_t code, std::string message, const FXCodeLocation& where) : code_(code) {
    // Success carries no detail, so that copies of it stay free.
    if (code_ != 0) {
        detail_ = std::make_shared<Detail>();
        detail_->message = std::move(message);
        detail_->trace.push_back(where);
    }
}

const std::string& CUxError::Message() const {
    static const std::string kNoMessage;
    return detail_ ? detail_->message : kNoMessage;
}

const std::vector<FXCodeLocation>& CUxError::Trace() const {
    static const std::vector<FXCodeLocation> kNoTrace;
    return detail_ ? detail_->trace : kNoTrace;
}

CUxError& CUxError::Push(const FXCodeLocation& where) {
    if (detail_) {
        detail_->trace.push_back(where);
    }
    return *this;
}

std::string CUxError::AsString() const {
    return AsString(EErrorOutputFormat::Full);
}

std::string CUxError::AsString(EErrorOutputFormat format) const {
    if (IsSuccess()) {
        return std::string();
    }
    const std::string& message = Message();
    if (format == EErrorOutputFormat::Message) {
        return message.empty() ? FXString::Format("error [code %d]", code_)
                               : FXString::Format("%s [code %d]", message.c_str(), code_);
    }
    std::string text = FXString::Format("error %d: %s", code_, message.c_str());
    if (format == EErrorOutputFormat::Compact) {
        return text;
    }
    std::vector<std::string> frames;
    for (const FXCodeLocation& frame : Trace()) {
        frames.push_back(DescribeFrame(frame));
    }
    if (!frames.empty()) {
        text += " [at " + FXString::Join(frames, " <- ") + "]";
    }
    return text;
}

namespace FXErrorUtil {

CUxError ErrorErrNo(const FXCodeLocation& where, int32_t code, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = FXString::FormatV(format, args);
    va_end(args);
    g_ptrLogWriter->Write("%s: %s", DescribeFrame(where).c_str(), message.c_str());
    return CUxError(code, std::move(message), where);
}

void LogError(const CUxError& error) {
    if (error.IsSuccess()) {
        return;
    }
    const std::vector<FXCodeLocation>& trace = error.Trace();
    const std::string where = trace.empty() ? std::string("error") : DescribeFrame(trace.back());
    g_ptrLogWriter->Write("%s: %s", where.c_str(), error.AsString().c_str());
}

}  // namespace FXErrorUtil
