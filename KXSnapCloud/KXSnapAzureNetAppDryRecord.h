// A host record as a dry run sees it (see KXSnapAzureNetAppAnswerScript.h):
// reads come from the host's record, with what the run itself wrote laid
// over them; writes are kept here and reach nobody, and log lines are
// dropped. The run for real writes the record and the log.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "kxso/KXSOSnapInfo.h"

class AnfDryRecord : public KXSO::SnapInfo {
public:
    explicit AnfDryRecord(KXSO::SnapInfo& record) : record_(record) {}
    AnfDryRecord(const AnfDryRecord&) = delete;
    AnfDryRecord& operator=(const AnfDryRecord&) = delete;

    int setSnapName(const std::string& name) override;
    int setArrayName(const std::string& name) override;
    bool isSnapOptionSet(uint32_t option) override { return record_.isSnapOptionSet(option); }
    int getStatus() override { return status_ ? *status_ : record_.getStatus(); }
    int setStatus(int status) override;
    int setRevertedDevicePath(const std::string& path) override;
    int setMappedDevicePath(const std::string& path) override;
    int setSnapMetadata(int id, const std::string& value) override;
    int setError(int code, const std::string& text) override;
    int getError(int* code, std::string* text, int* reserved) override;
    void logMessage(int level, const char* tag, const char* format, ...) override
        __attribute__((format(printf, 4, 5)));
    int getCloneIndex() override { return record_.getCloneIndex(); }
    int setSnapEngineId(short engineId) override;
    short getSnapEngineId() override;
    int getConfigValue(const std::string& key, int* value) override {
        return record_.getConfigValue(key, value);
    }
    int setSnapTransientMetadata(int id, const std::string& value) override;
    int getArrayId() override { return record_.getArrayId(); }
    bool isSnapFlagSet(uint64_t mask) override { return (getSnapFlags() & mask) == mask; }
    int setSnapFlags(uint64_t flags) override;
    uint64_t getSnapFlags() override { return record_.getSnapFlags() | flags_; }
    int64_t getSnapId() override { return record_.getSnapId(); }
    bool getSnapName(std::string& name) override;
    bool getArrayInfo(KXSO::ArrayInfo** info) override { return record_.getArrayInfo(info); }
    void releaseArrayInfo(KXSO::ArrayInfo* info) override { record_.releaseArrayInfo(info); }
    bool getSourceDevicePath(std::string& path) override {
        return record_.getSourceDevicePath(path);
    }
    bool getMappedDevicePath(std::string& path) override;
    bool getSnapMetadata(int id, std::string& value) override;
    bool getSnapMetadataString(int id, std::string& value) override;
    bool generateSnapUuid(const std::string& separator, uint64_t* reserved,
                          std::string& uuid) override {
        return record_.generateSnapUuid(separator, reserved, uuid);
    }

private:
    KXSO::SnapInfo& record_;
    std::optional<std::string> snapName_;
    std::optional<int> status_;
    std::optional<std::string> mappedPath_;
    std::optional<short> engineId_;
    std::optional<int> errorCode_;
    std::string errorText_;
    uint64_t flags_ = 0;
    std::map<int, std::string> metadata_;
};
