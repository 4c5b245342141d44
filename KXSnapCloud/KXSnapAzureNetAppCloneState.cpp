// A clone found with the name the map wants is only used when Azure finished
// making it. One still being made is waited for; one whose creation failed
// holds nothing usable and is deleted, so that it can be made again.
#include <string>

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "src/AzureOperationStatus.h"

using AzureNetApp::KxSnapANFSnapObj;

KXSnapAzureNetApp::ExistingClone KXSnapAzureNetApp::settleExistingClone(KxSnapANFSnapObj& snapObj) {
    const AzureNetApp::AzureNetAppVolumeInfo& clone = snapObj.cloneVolumeInfo;
    std::string state;
    const int result = api->rest_waitForVolumeState(clone, state);
    if (result == ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND) {
        return ExistingClone::kAbsent;
    }
    if (result != ANF_API_CONST::ANF_RC_SUCCESS) {
        replaceError(result, "Clone volume [" + clone.volumeName +
                                 "] did not reach a final state. Last state [" + state + "].");
        return ExistingClone::kUnusable;
    }
    if (azureops::ClassifyStatus(state) == azureops::OperationState::kSucceeded) {
        return ExistingClone::kReady;
    }
    logLine(KXSO::LOG_INFO, "Clone [%s] is in state [%s] - deleting it to create it again",
            clone.volumeName.c_str(), state.c_str());
    AzureNetApp::AzureNetAppVolumeInfo doomed = clone;
    const int deleted = api->rest_deleteClone(doomed);
    std::string after;
    if ((deleted == ANF_API_CONST::ANF_RC_SUCCESS ||
         deleted == ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND) &&
        api->rest_waitForVolumeState(clone, after) == ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND) {
        return ExistingClone::kAbsent;
    }
    replaceError(ANF_API_CONST::ANF_RC_ASYNC_OP_FAILED, "Failed to delete clone volume [" +
                                                            clone.volumeName + "] left in state [" +
                                                            state + "]. " + apiErrorText());
    return ExistingClone::kUnusable;
}
