// The engine's phases that have no body in this build yet. Each fails
// honestly, so that a host never mistakes an operation that did nothing for a
// success; each goes as soon as its own file defines it.
#include "KXSnapCloud/KXSnapAzureNetApp.h"

bool KXSnapAzureNetApp::failUnavailablePhase(const char* phase) {
    resetError();
    error << "Azure NetApp Files " << phase << " is not available in this build of the plug-in";
    logLine(KXSO::LOG_ERROR, "%s", error.str().c_str());
    if (AzureNetApp::KxSnapANFSnapObj* first = firstSnapObj()) {
        setErrorDetailsForSnapObj(*first);
    }
    return false;
}

bool KXSnapAzureNetApp::fillSnapObjFromMetadata() {
    return failUnavailablePhase("snapshot metadata reading");
}
bool KXSnapAzureNetApp::discoverVolumeDetails() {
    return failUnavailablePhase("volume discovery");
}
bool KXSnapAzureNetApp::createSnaps() {
    return failUnavailablePhase("snapshot creation");
}
bool KXSnapAzureNetApp::mapSnaps() {
    return failUnavailablePhase("snapshot mapping");
}
bool KXSnapAzureNetApp::unmapSnaps() {
    return failUnavailablePhase("snapshot unmapping");
}
bool KXSnapAzureNetApp::deleteSnaps() {
    return failUnavailablePhase("snapshot deletion");
}
bool KXSnapAzureNetApp::postSnapDevices() {
    return failUnavailablePhase("post-snapshot");
}
bool KXSnapAzureNetApp::validateForMap() {
    return failUnavailablePhase("map validation");
}
bool KXSnapAzureNetApp::reconSnaps() {
    return failUnavailablePhase("snapshot reconciliation");
}
bool KXSnapAzureNetApp::validateForRevert() {
    return failUnavailablePhase("revert validation");
}
bool KXSnapAzureNetApp::revertSnaps() {
    return failUnavailablePhase("volume revert");
}
