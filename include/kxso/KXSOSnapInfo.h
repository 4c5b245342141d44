// The snapshot host's interface: the record of one device or snapshot
// (SnapInfo), the job utility (KXOSUtil) and the array description.
//
// The host owns every object here. The plug-in only calls their operations and
// never keeps a pointer past the exported call that received it. The virtual
// operations stand in the host's slot order: do not reorder, insert or remove.
// None of these interfaces has a virtual destructor: the host's tables start
// with the first operation listed, and a destructor slot in front would shift
// every call by two slots. The destructors are protected so that nobody can
// delete a host object through these interfaces.
#pragma once

#include <cstdint>
#include <string>

#include "kxso/KXSOTypes.h"

namespace KXSO {

// The array (storage system) a record is filed under.
class ArrayInfo {
public:
    virtual bool getArrayName(std::string& name) const = 0;

protected:
    ~ArrayInfo() = default;
};

class SnapInfo {
public:
    virtual int setSnapName(const std::string& name) = 0;
    virtual int setArrayName(const std::string& name) = 0;  // 1 = failure
    virtual bool isSnapOptionSet(uint32_t option) = 0;
    virtual int getStatus() = 0;
    virtual int setStatus(int status) = 0;  // non-0 = failure
    virtual int setRevertedDevicePath(const std::string& path) = 0;
    virtual int setMappedDevicePath(const std::string& path) = 0;  // "" clears
    virtual int setSnapMetadata(int id, const std::string& value) = 0;  // 0 = stored
    virtual int setError(int code, const std::string& text) = 0;
    // Writes the stored error code; the two further arguments are passed as 0.
    virtual int getError(int* code, std::string* text, int* reserved) = 0;
    // printf-style; level 0 detail, 1 information, 2 error. External text is
    // always passed as an argument of "%s", never as the format.
    virtual void logMessage(int level, const char* tag, const char* format, ...)
        __attribute__((format(printf, 4, 5))) = 0;
    virtual int getCloneIndex() = 0;
    virtual int setSnapEngineId(short engineId) = 0;
    virtual short getSnapEngineId() = 0;
    virtual int getConfigValue(const std::string& key, int* value) = 0;  // 0 = found
    virtual int setSnapTransientMetadata(int id, const std::string& value) = 0;
    virtual int getArrayId() = 0;  // 0 = none yet
    virtual bool isSnapFlagSet(uint64_t mask) = 0;
    virtual int setSnapFlags(uint64_t flags) = 0;  // turns the bits on; 0 = success
    virtual uint64_t getSnapFlags() = 0;
    virtual int64_t getSnapId() = 0;
    virtual bool getSnapName(std::string& name) = 0;
    virtual bool getArrayInfo(ArrayInfo** info) = 0;  // false = success
    virtual void releaseArrayInfo(ArrayInfo* info) = 0;
    virtual bool getSourceDevicePath(std::string& path) = 0;
    virtual bool getMappedDevicePath(std::string& path) = 0;  // empty = none
    virtual bool getSnapMetadata(int id, std::string& value) = 0;        // true = present
    virtual bool getSnapMetadataString(int id, std::string& value) = 0;  // true = present
    // The record's own snapshot UUID, the same text on every call; the second
    // argument is set to 0.
    virtual bool generateSnapUuid(const std::string& separator, uint64_t* reserved,
                                  std::string& uuid) = 0;

protected:
    ~SnapInfo() = default;
};

class KXOSUtil {
public:
    virtual long long getJobId() = 0;

protected:
    ~KXOSUtil() = default;
};

}  // namespace KXSO
