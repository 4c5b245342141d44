#include "KXSnapCloud/KXSnapAzureNetAppDryRecord.h"

int AnfDryRecord::setSnapName(const std::string& name) {
    snapName_ = name;
    return 0;
}

int AnfDryRecord::setArrayName(const std::string&) {
    return 0;
}

int AnfDryRecord::setStatus(int status) {
    status_ = status;
    return 0;
}

int AnfDryRecord::setRevertedDevicePath(const std::string&) {
    return 0;
}

int AnfDryRecord::setMappedDevicePath(const std::string& path) {
    mappedPath_ = path;
    return 0;
}

int AnfDryRecord::setSnapMetadata(int id, const std::string& value) {
    metadata_[id] = value;
    return 0;
}

int AnfDryRecord::setError(int code, const std::string& text) {
    errorCode_ = code;
    errorText_ = text;
    return 0;
}

int AnfDryRecord::getError(int* code, std::string* text, int* reserved) {
    if (!errorCode_) {
        return record_.getError(code, text, reserved);
    }
    if (code != nullptr) {
        *code = *errorCode_;
    }
    if (text != nullptr) {
        *text = errorText_;
    }
    if (reserved != nullptr) {
        *reserved = 0;
    }
    return 0;
}

void AnfDryRecord::logMessage(int, const char*, const char*, ...) {}

int AnfDryRecord::setSnapEngineId(short engineId) {
    engineId_ = engineId;
    return 0;
}

short AnfDryRecord::getSnapEngineId() {
    return engineId_ ? *engineId_ : record_.getSnapEngineId();
}

int AnfDryRecord::setSnapTransientMetadata(int id, const std::string& value) {
    metadata_[id] = value;
    return 0;
}

int AnfDryRecord::setSnapFlags(uint64_t flags) {
    flags_ |= flags;
    return 0;
}

bool AnfDryRecord::getSnapName(std::string& name) {
    if (!snapName_) {
        return record_.getSnapName(name);
    }
    name = *snapName_;
    return true;
}

bool AnfDryRecord::getMappedDevicePath(std::string& path) {
    if (!mappedPath_) {
        return record_.getMappedDevicePath(path);
    }
    path = *mappedPath_;
    return true;
}

bool AnfDryRecord::getSnapMetadata(int id, std::string& value) {
    const auto found = metadata_.find(id);
    if (found == metadata_.end()) {
        return record_.getSnapMetadata(id, value);
    }
    value = found->second;
    return true;
}

bool AnfDryRecord::getSnapMetadataString(int id, std::string& value) {
    const auto found = metadata_.find(id);
    if (found == metadata_.end()) {
        return record_.getSnapMetadataString(id, value);
    }
    value = found->second;
    return true;
}
