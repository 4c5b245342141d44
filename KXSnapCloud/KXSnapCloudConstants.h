// Constants of the cloud snap framework.
#pragma once

namespace KXSnapCloudConstants {

// Cloud providers.
constexpr int KXSnapCloud_Provider_Azure = 100;

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

}  // namespace KXSnapCloudConstants
