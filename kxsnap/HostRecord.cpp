#include "kxsnap/HostRecord.h"

#include <cstdarg>
#include <cstdio>
#include <random>
#include <utility>

namespace kxsnap {

void JobLog::Add(LogEntry entry) {
    Listener listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listener = listener_;
    }
    if (listener) {
        listener(entry);
    }
    if (retain_) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(std::move(entry));
    }
}

void JobLog::SetListener(Listener listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

std::vector<LogEntry> JobLog::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

std::vector<LogEntry> JobLog::TakeEntries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(entries_, {});
}

void JobArrays::Seed(const std::string& name, int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    ids_.emplace(name, id);
}

int JobArrays::IdFor(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = ids_.find(name);
    if (found != ids_.end()) {
        return found->second;
    }
    int highest = 0;
    for (const auto& entry : ids_) {
        highest = std::max(highest, entry.second);
    }
    ids_.emplace(name, highest + 1);
    return highest + 1;
}

const std::set<std::string>& SnapInfoOperationNames() {
    static const std::set<std::string> names{"setSnapName",
                                             "setArrayName",
                                             "isSnapOptionSet",
                                             "getStatus",
                                             "setStatus",
                                             "setRevertedDevicePath",
                                             "setMappedDevicePath",
                                             "setSnapMetadata",
                                             "setError",
                                             "getError",
                                             "logMessage",
                                             "getCloneIndex",
                                             "setSnapEngineId",
                                             "getSnapEngineId",
                                             "getConfigValue",
                                             "setSnapTransientMetadata",
                                             "getArrayId",
                                             "isSnapFlagSet",
                                             "setSnapFlags",
                                             "getSnapFlags",
                                             "getSnapId",
                                             "getSnapName",
                                             "getArrayInfo",
                                             "releaseArrayInfo",
                                             "getSourceDevicePath",
                                             "getMappedDevicePath",
                                             "getSnapMetadata",
                                             "getSnapMetadataString",
                                             "generateSnapUuid"};
    return names;
}

class HostArrayInfo final : public KXSO::ArrayInfo {
public:
    explicit HostArrayInfo(std::string name) : name_(std::move(name)) {}
    bool getArrayName(std::string& name) const override {
        name = name_;
        return true;
    }

private:
    std::string name_;
};

namespace {

std::string FormatLine(const char* format, va_list args) {
    if (format == nullptr) {
        return "";
    }
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int needed = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) {
        return "";
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        return std::string(small, static_cast<size_t>(needed));
    }
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(needed));
    return text;
}

}  // namespace

std::string NewUuid() {
    std::random_device entropy;
    std::mt19937_64 generator((static_cast<uint64_t>(entropy()) << 32) ^ entropy());
    uint64_t high = generator();
    uint64_t low = generator();
    high = (high & 0xFFFFFFFFFFFF0FFFULL) | 0x0000000000004000ULL;  // version 4
    low = (low & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;    // RFC 4122 variant
    char text[37];
    snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(high >> 32),
             static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
             static_cast<unsigned>(low >> 48),
             static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
    return text;
}

HostRecord::HostRecord(int index, RecordData data, JobLog& log, JobArrays& arrays)
    : index_(index), data_(std::move(data)), log_(log), arrays_(arrays) {
    if (data_.arrayId != 0 && data_.arrayName) {
        arrays_.Seed(*data_.arrayName, data_.arrayId);
    }
}

HostRecord::~HostRecord() = default;

void HostRecord::ClearError() {
    data_.errorCode = 0;
    data_.errorText.clear();
}

int HostRecord::setSnapName(const std::string& name) {
    if (Refuses("setSnapName"))
        return 1;
    data_.snapName = name;
    return 0;
}

int HostRecord::setArrayName(const std::string& name) {
    if (Refuses("setArrayName"))
        return 1;
    data_.arrayName = name;
    data_.arrayId = arrays_.IdFor(name);
    return 0;
}

bool HostRecord::isSnapOptionSet(uint32_t option) {
    if (Refuses("isSnapOptionSet"))
        return false;
    return (data_.snapOptions & option) != 0;
}

int HostRecord::getStatus() {
    if (Refuses("getStatus"))
        return 0;
    return data_.status;
}

int HostRecord::setStatus(int status) {
    if (Refuses("setStatus"))
        return 1;
    data_.status = status;
    data_.statusHistory.push_back(status);
    return 0;
}

int HostRecord::setRevertedDevicePath(const std::string& path) {
    if (Refuses("setRevertedDevicePath"))
        return 1;
    data_.revertedDevicePath = path;
    return 0;
}

int HostRecord::setMappedDevicePath(const std::string& path) {
    if (Refuses("setMappedDevicePath"))
        return 1;
    data_.mappedDevicePath = path;
    return 0;
}

int HostRecord::setSnapMetadata(int id, const std::string& value) {
    if (Refuses("setSnapMetadata"))
        return 1;
    data_.metadata[id] = value;
    return 0;
}

int HostRecord::setError(int code, const std::string& text) {
    if (Refuses("setError"))
        return 1;
    data_.errorCode = code;
    data_.errorText = text;
    return 0;
}

int HostRecord::getError(int* code, std::string* text, int*) {
    if (Refuses("getError"))
        return 1;
    if (code)
        *code = data_.errorCode;
    if (text)
        *text = data_.errorText;
    return 0;
}

void HostRecord::logMessage(int level, const char* tag, const char* format, ...) {
    if (Refuses("logMessage"))
        return;
    va_list args;
    va_start(args, format);
    std::string text = FormatLine(format, args);
    va_end(args);
    log_.Add(LogEntry{index_, level, tag ? tag : "", std::move(text)});
}

int HostRecord::getCloneIndex() {
    if (Refuses("getCloneIndex"))
        return 0;
    return data_.cloneIndex;
}

int HostRecord::setSnapEngineId(short engineId) {
    if (Refuses("setSnapEngineId"))
        return 1;
    data_.snapEngineId = engineId;
    return 0;
}

short HostRecord::getSnapEngineId() {
    if (Refuses("getSnapEngineId"))
        return 0;
    return data_.snapEngineId;
}

int HostRecord::getConfigValue(const std::string& key, int* value) {
    if (Refuses("getConfigValue"))
        return 1;
    auto found = data_.config.find(key);
    if (found == data_.config.end())
        return 1;
    if (value)
        *value = found->second;
    return 0;
}

int HostRecord::setSnapTransientMetadata(int id, const std::string& value) {
    if (Refuses("setSnapTransientMetadata"))
        return 1;
    data_.transientMetadata[id] = value;
    return 0;
}

int HostRecord::getArrayId() {
    if (Refuses("getArrayId"))
        return 0;
    return data_.arrayId;
}

bool HostRecord::isSnapFlagSet(uint64_t mask) {
    if (Refuses("isSnapFlagSet"))
        return false;
    return mask != 0 && (data_.snapFlags & mask) == mask;
}

int HostRecord::setSnapFlags(uint64_t flags) {
    if (Refuses("setSnapFlags"))
        return 1;
    data_.snapFlags |= flags;
    return 0;
}

uint64_t HostRecord::getSnapFlags() {
    if (Refuses("getSnapFlags"))
        return 0;
    return data_.snapFlags;
}

int64_t HostRecord::getSnapId() {
    if (Refuses("getSnapId"))
        return 0;
    return data_.snapId;
}

bool HostRecord::getSnapName(std::string& name) {
    if (Refuses("getSnapName") || !data_.snapName)
        return false;
    name = *data_.snapName;
    return true;
}

bool HostRecord::getArrayInfo(KXSO::ArrayInfo** info) {
    if (info == nullptr || Refuses("getArrayInfo") || !data_.arrayName)
        return true;
    lentArrayInfos_.push_back(std::make_unique<HostArrayInfo>(*data_.arrayName));
    *info = lentArrayInfos_.back().get();
    return false;
}

void HostRecord::releaseArrayInfo(KXSO::ArrayInfo* info) {
    if (Refuses("releaseArrayInfo"))
        return;
    for (auto lent = lentArrayInfos_.begin(); lent != lentArrayInfos_.end(); ++lent) {
        if (lent->get() == info) {
            lentArrayInfos_.erase(lent);
            return;
        }
    }
}

bool HostRecord::getSourceDevicePath(std::string& path) {
    if (Refuses("getSourceDevicePath") || !data_.sourceDevicePath)
        return false;
    path = *data_.sourceDevicePath;
    return true;
}

bool HostRecord::getMappedDevicePath(std::string& path) {
    if (Refuses("getMappedDevicePath"))
        return false;
    path = data_.mappedDevicePath;
    return true;
}

bool HostRecord::LookupMetadata(int id, std::string& value) const {
    auto stored = data_.metadata.find(id);
    if (stored != data_.metadata.end()) {
        value = stored->second;
        return true;
    }
    auto transient = data_.transientMetadata.find(id);
    if (transient != data_.transientMetadata.end()) {
        value = transient->second;
        return true;
    }
    return false;
}

bool HostRecord::getSnapMetadata(int id, std::string& value) {
    if (Refuses("getSnapMetadata"))
        return false;
    return LookupMetadata(id, value);
}

bool HostRecord::getSnapMetadataString(int id, std::string& value) {
    if (Refuses("getSnapMetadataString"))
        return false;
    return LookupMetadata(id, value);
}

bool HostRecord::generateSnapUuid(const std::string& separator, uint64_t* reserved,
                                  std::string& uuid) {
    if (reserved)
        *reserved = 0;
    if (Refuses("generateSnapUuid"))
        return false;
    if (!data_.snapUuid) {
        data_.snapUuid = NewUuid();
    }
    uuid.clear();
    for (char c : *data_.snapUuid) {
        if (c == '-') {
            uuid += separator;
        } else {
            uuid += c;
        }
    }
    return true;
}

}  // namespace kxsnap
