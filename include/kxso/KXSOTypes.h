// Values shared by the snapshot host and the plug-in: result codes, record
// statuses, metadata ids and snap flags. These numbers are stored by the host
// with each record and read back by later versions, so they never change.
#pragma once

#include <cstdint>

namespace KXSO {

// What a device operation returns; per-record outcomes stay on the records.
enum ResultCode : int {
    RESULT_SUCCESS = 0,
    RESULT_FAILURE = 1,
    RESULT_PARTIAL = 2,
};

// Status values the plug-in writes with SnapInfo::setStatus. Every operation
// first sets its failure value on all records and replaces it on success.
enum SnapStatus : int {
    SNAP_STATUS_NONE = 0,
    SNAP_STATUS_PREPARED = 1,
    SNAP_STATUS_PREPARE_FAILED = 2,
    SNAP_STATUS_SNAP_CREATED = 5,
    SNAP_STATUS_SNAP_FAILED = 6,
    SNAP_STATUS_ATTACHED_NO_DEVICE = 9,
    SNAP_STATUS_MAP_FAILED = 11,
    SNAP_STATUS_MAPPED = 12,
    SNAP_STATUS_UNMAPPED = 14,
    SNAP_STATUS_UNMAP_FAILED = 15,
    SNAP_STATUS_DELETED = 20,
    SNAP_STATUS_DELETE_FAILED = 21,
    SNAP_STATUS_REVERTED = 22,
    SNAP_STATUS_REVERT_FAILED = 23,
    SNAP_STATUS_DELETED_EXTERNALLY = 24,
};

// Metadata ids a record carries (setSnapMetadata / setSnapTransientMetadata).
enum MetadataId : int {
    METADATA_SNAPSHOT = 6,
    METADATA_TRANSIENT = 102,
    METADATA_CLOUD_LOCATION = 154,
    METADATA_OPERATION_LINK = 155,
    METADATA_CLOUD_CONTROLLER = 160,
    METADATA_EXTENDED_DETAILS = 161,
};

// Snap flag bits.
constexpr uint64_t SNAP_FLAG_CLOUD_SNAP = 0x1000000000000ULL;  // NetApp Files record
constexpr uint64_t SNAP_FLAG_AZURE_DISK_SNAP = 0x8000000ULL;   // managed-disk snapshot taken

// Snap option: several clones of one snapshot; clone names carry the clone index.
constexpr uint32_t SNAP_OPTION_CLONE_INDEX = 0x8000;

// Log levels of SnapInfo::logMessage.
enum LogLevel : int {
    LOG_DETAIL = 0,
    LOG_INFO = 1,
    LOG_ERROR = 2,
};

}  // namespace KXSO
