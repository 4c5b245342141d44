// The platform exception. The exported operations catch it and log
// "End with errors [file][line][message]"; it never leaves the plug-in.
#pragma once

#include <stdexcept>
#include <string>

class KxException : public std::runtime_error {
public:
    KxException(const char* file, int line, const std::string& message)
        : std::runtime_error(message), file_(file ? file : ""), line_(line) {}
    const std::string& File() const { return file_; }
    int Line() const { return line_; }
    std::string Message() const { return what(); }

private:
    std::string file_;
    int line_;
};

#define KX_THROW(message) throw KxException(__FILE__, __LINE__, (message))
