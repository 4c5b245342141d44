// A minimal host record for the REST client's tests: it keeps the log lines
// and answers the few getters the client and the naming rules read.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "kxso/KXSOSnapInfo.h"

namespace apitest {

struct LogLine {
    int level;
    std::string tag;
    std::string text;
};

class FakeSnapInfo : public KXSO::SnapInfo {
public:
    std::vector<LogLine> lines;
    std::string snapName;
    uint32_t options = 0;
    int cloneIndex = 0;

    // True when some line holds `needle`.
    bool Logged(const std::string& needle) const {
        for (const LogLine& line : lines) {
            if (line.text.find(needle) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    bool LoggedExactly(const std::string& text) const {
        for (const LogLine& line : lines) {
            if (line.text == text) {
                return true;
            }
        }
        return false;
    }
    std::string AllText() const {
        std::string all;
        for (const LogLine& line : lines) {
            all += line.text + "\n";
        }
        return all;
    }

    int setSnapName(const std::string& name) override {
        snapName = name;
        return 0;
    }
    int setArrayName(const std::string&) override { return 0; }
    bool isSnapOptionSet(uint32_t option) override { return (options & option) != 0; }
    int getStatus() override { return 0; }
    int setStatus(int) override { return 0; }
    int setRevertedDevicePath(const std::string&) override { return 0; }
    int setMappedDevicePath(const std::string&) override { return 0; }
    int setSnapMetadata(int, const std::string&) override { return 0; }
    int setError(int, const std::string&) override { return 0; }
    int getError(int* code, std::string*, int*) override {
        if (code != nullptr) {
            *code = 0;
        }
        return 0;
    }
    void logMessage(int level, const char* tag, const char* format, ...) override
        __attribute__((format(printf, 4, 5))) {
        va_list args;
        va_start(args, format);
        char buffer[16384];
        vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        lines.push_back({level, tag ? tag : "", buffer});
    }
    int getCloneIndex() override { return cloneIndex; }
    int setSnapEngineId(short) override { return 0; }
    short getSnapEngineId() override { return 0; }
    int getConfigValue(const std::string&, int*) override { return 1; }
    int setSnapTransientMetadata(int, const std::string&) override { return 0; }
    int getArrayId() override { return 0; }
    bool isSnapFlagSet(uint64_t) override { return false; }
    int setSnapFlags(uint64_t) override { return 0; }
    uint64_t getSnapFlags() override { return 0; }
    int64_t getSnapId() override { return 0; }
    bool getSnapName(std::string& name) override {
        name = snapName;
        return true;
    }
    bool getArrayInfo(KXSO::ArrayInfo**) override { return true; }
    void releaseArrayInfo(KXSO::ArrayInfo*) override {}
    bool getSourceDevicePath(std::string&) override { return false; }
    bool getMappedDevicePath(std::string& path) override {
        path.clear();
        return true;
    }
    bool getSnapMetadata(int, std::string&) override { return false; }
    bool getSnapMetadataString(int, std::string&) override { return false; }
    bool generateSnapUuid(const std::string&, uint64_t*, std::string&) override { return false; }
};

}  // namespace apitest
