// Constants of the cloud snap framework.
#pragma once

#include <cstdint>

namespace KXSnapCloudConstants {

// Service-engine id of a device that no engine supports.
constexpr int KXSnapCloud_Unsupported = -1;

// Cloud providers.
constexpr int KXSnapCloud_Provider_Azure = 100;

// Service engines.
constexpr int ServiceEngine_Azure_NetAppFiles = 101;

// The host's snap-engine id of the NetApp Files engine. Prepare stores it on
// every record it takes, and later operations identify the record by it
// before they fall back to the cloud metadata.
constexpr short KXSnapCloud_SnapEngine_AzureNetAppFiles = 83;

// Cloud metadata on a record: "<vendor id>|<service-engine id>" in decimal,
// under host metadata id 160.
constexpr const char* MetadataDelimiter = "|";
constexpr int KXSnapCloud_Metadata_Id = 160;

// Set on every record the cloud framework takes during prepare; later
// operations choose the cloud path by it.
constexpr uint64_t KXSnapCloud_SnapFlag = 0x1000000000000ULL;

// Marks a NetApp Files source device path: the characters l, u, n, u, u, i,
// d, colon, backslash, slash.
constexpr const char* CloudSnapIdentifier = "lunuuid:\\/";

// Operation codes; the exported operations pass the same numbers when they
// choose their path.
enum KXSnapCloudOperation : int {
    KXSnapCloud_Op_Delete = 1,
    KXSnapCloud_Op_Map = 2,
    KXSnapCloud_Op_Unmap = 3,
    KXSnapCloud_Op_Revert = 4,
    KXSnapCloud_Op_Prepare = 5,
    KXSnapCloud_Op_Snap = 6,
    KXSnapCloud_Op_Reconcile = 7,
    KXSnapCloud_Op_PostSnap = 15,
};

// The error code the host expects on a failed record of each operation; 0 for
// an operation without a fixed code.
constexpr int HostErrorCodeForOperation(int operation) {
    switch (operation) {
        case KXSnapCloud_Op_Delete:
            return 60004;
        case KXSnapCloud_Op_Map:
            return 62009;
        case KXSnapCloud_Op_Unmap:
            return 62010;
        case KXSnapCloud_Op_Revert:
            return 60005;
        case KXSnapCloud_Op_Prepare:
            return 62008;
        case KXSnapCloud_Op_Snap:
        case KXSnapCloud_Op_PostSnap:
            return 60001;
        case KXSnapCloud_Op_Reconcile:
            return 60298;
        default:
            return 0;
    }
}

}  // namespace KXSnapCloudConstants
