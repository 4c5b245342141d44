// A VM update whose answer was lost, refused by a passing fault or cut short
// by a failed status poll may still be carried out by Azure. Before anything
// is decided from it, the VM is waited for until its provisioning state has
// settled and read again, so that the instance record shows which disks are
// really attached. An update that was in fact carried out counts as done; an
// update preempted by a later one, and a detach that did not happen, are
// applied once more.
#include <ctime>
#include <exception>
#include <string>

#include "AzureOperationStatus.h"
#include "KxSnapAzureAPI.h"
#include "platform/FXString.h"
#include "platform/UXSleep.h"

namespace {

uint64_t NowSecs() {
    return static_cast<uint64_t>(std::time(nullptr));
}

std::string ProvisioningStateOf(const std::string& vmJson) {
    KxJson::Value document;
    KxJson::Value properties;
    if (!KxJson::TryUnserialize(vmJson, document) || !document.is_object() ||
        !KxJson::FindObjectValue(document, "properties", properties)) {
        return "";
    }
    try {
        return KxJson::GetStringValue(properties, "provisioningState");
    } catch (const std::exception&) {
        return "";
    }
}

}  // namespace

CUxError KxSnapAzureAPI::UpdateVMDataDisks(AzureOperation operation, AzureInstanceInfo& instance,
                                           const DataDiskEdit& edit, const UpdateDone& done) {
    lastVMUpdateOutcome = VMUpdateOutcome::kNotSent;
    for (int attempt = 0;; ++attempt) {
        KxJson::Value properties;
        KxJson::Value* dataDisks = nullptr;
        CUxError err = ReadVMDataDisks(instance, properties, dataDisks);
        if (!err) {
            err = edit(*dataDisks);
        }
        if (err) {
            return err.Push(FXCODE_LOCATION());
        }
        err = SendVMUpdate(operation, instance, properties);
        if (!err) {
            return CUxError::Success();
        }
        bool reapply = false;
        if (!RecoverFailedVMUpdate(operation, instance, done, reapply).IsError()) {
            return CUxError::Success();
        }
        if (!reapply || attempt > 0) {
            return err.Push(FXCODE_LOCATION());
        }
        Log(1, "%s", "Applying the VM update once more on the VM as it now is");
    }
}

CUxError KxSnapAzureAPI::RecoverFailedVMUpdate(AzureOperation operation,
                                               AzureInstanceInfo& instance, const UpdateDone& done,
                                               bool& reapply) {
    reapply = false;
    const AzureOperationError operationError = lastOperationError;
    const bool preempted = operationError.canceled &&
                           FXString::EqualsNoCase(operationError.code, "OperationPreempted");
    // A refusal (4xx other than 408 and 429) of the PUT itself changed nothing.
    if (!lastPutAccepted && !azureops::IsTransientStatus(GetLastHttpStatus())) {
        lastVMUpdateOutcome = VMUpdateOutcome::kNotSent;
        return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                       "The VM update was refused");
    }
    Log(1, "%s", "The VM update did not report success; waiting for the VM to settle");
    CUxError err = WaitForVMToSettle(instance);
    if (err) {
        lastVMUpdateOutcome = VMUpdateOutcome::kUnsettled;
        return err.Push(FXCODE_LOCATION());
    }
    lastVMUpdateOutcome = VMUpdateOutcome::kSettled;
    if (done(instance)) {
        Log(1, "%s", "The VM shows the update carried out");
        return CUxError::Success();
    }
    // Our own update overtaken by a later one (a re-sent PUT), or a detach
    // that left the disk listed (a VM that ended Failed keeps its disks):
    // the disks are still to be changed, on the VM as it now is.
    reapply = preempted || operation == AZURE_OP_DETACH_DISK;
    return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_GENERAL, "%s",
                                   "The VM update was not carried out");
}

CUxError KxSnapAzureAPI::WaitForVMToSettle(AzureInstanceInfo& instance) {
    const std::string url = managementEndpoint + FXString::TrimLeft(instance.id, "/") +
                            "?api-version=" + std::string(AZURE_API_VERSION);
    const uint64_t start = NowSecs();
    int failures = 0;
    while (true) {
        std::string response;
        const CUxError fetchErr = SendGetRequest(url, AZURE_OP_GET_VM_INFO, response, false);
        if (fetchErr && !azureops::IsTransientStatus(GetLastHttpStatus())) {
            return fetchErr;
        }
        if (fetchErr) {
            ++failures;
        } else {
            failures = 0;
            const std::string state = ProvisioningStateOf(response);
            const azureops::OperationState parsed = azureops::ClassifyStatus(state);
            if (parsed == azureops::OperationState::kSucceeded ||
                parsed == azureops::OperationState::kFailed) {
                AzureInstanceInfo updated = instance;
                CUxError err = ParseVMInfoFromJSONReponse(response, updated);
                if (err) {
                    return err.Push(FXCODE_LOCATION());
                }
                instance = updated;
                Log(1, "VM settled in provisioning state [%s]", state.c_str());
                return CUxError::Success();
            }
            Log(0, "VM provisioning state [%s], waiting for it to settle", state.c_str());
        }
        const uint64_t now = NowSecs();
        if ((now > start ? now - start : 0) > maxWaitSecs) {
            Log(2, "Maximum wait time [%lu secs] exceeded while waiting for the VM to settle",
                static_cast<unsigned long>(maxWaitSecs));
            return FXErrorUtil::ErrorErrNo(FXCODE_LOCATION(), AZURE_ERR_TIMEOUT, "%s",
                                           "Timed out while waiting for the VM to settle");
        }
        UXSLEEP(azureops::NextPollDelayMs(pollIntervalSecs * 1000, failures, RetryAfterMs()));
    }
}
