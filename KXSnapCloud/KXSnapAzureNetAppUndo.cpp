// What the records' steps run side by side share: the work objects in the
// records' order, and removing what Azure made for records the walk never
// reached.
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapAzureNetAppSideBySide.h"

using AzureNetApp::KxSnapANFSnapObj;

std::vector<KxSnapANFSnapObj*> KXSnapAzureNetApp::workObjects() {
    std::vector<KxSnapANFSnapObj*> objects;
    objects.reserve(snapObjs.size());
    for (auto& entry : snapObjs) {
        objects.push_back(entry.second.get());
    }
    return objects;
}

void KXSnapAzureNetApp::undoAfterStop(const AnfSideBySide& made, size_t stoppedAt,
                                      const std::function<int(KxSnapANFSnapObj&)>& undo) {
    std::vector<KxSnapANFSnapObj> leftovers;
    for (size_t i = stoppedAt + 1; i < snapObjs.size(); ++i) {
        if (made.reachedAzure(i)) {
            leftovers.push_back(made.dryWork(i));
        }
    }
    if (leftovers.empty()) {
        return;
    }
    // The error the walk stopped with stays the operation's error.
    const int32_t stopCode = lastError;
    const std::string stopText = error.str();
    std::vector<KxSnapANFSnapObj*> pointers;
    for (KxSnapANFSnapObj& leftover : leftovers) {
        pointers.push_back(&leftover);
    }
    AnfSideBySide undoing(*this, undo);
    undoing.prefetch(pointers);
    for (size_t i = 0; i < leftovers.size(); ++i) {
        undoing.run(i, leftovers[i]);
    }
    replaceError(stopCode, stopText);
}

int KXSnapAzureNetApp::settleUndo(KxSnapANFSnapObj& made, int result, const std::string& deleted,
                                  const std::string& leftover) {
    if (result == ANF_API_CONST::ANF_RC_RESOURCE_NOT_FOUND) {
        return ANF_API_CONST::ANF_RC_SUCCESS;  // Azure never made it
    }
    if (result == ANF_API_CONST::ANF_RC_SUCCESS) {
        logLine(KXSO::LOG_INFO, "Deleted %s: the call stopped at an earlier device",
                deleted.c_str());
        return result;
    }
    const std::string message =
        leftover + " after the call stopped at an earlier device and could not be deleted. " +
        apiErrorText();
    logLine(KXSO::LOG_ERROR, "%s", message.c_str());
    setErrorDetailsForSnapObj(made, result, message);
    return result;
}
