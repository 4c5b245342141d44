// The NetApp Files service engine: the one KXSnapMicroEngine of this build.
// It ties each host record to its volume, snapshot and clone (one work object
// per record) and carries out the cloud framework's phases through
// KXSnapAzureNetAppAPI.
//
// Built by KXSnapMicroEngine::getInstance(101) for one controller call;
// `initialize` runs first. Engine-wide failures are recorded on the first
// record, per-device failures on the record concerned, never overwriting an
// error the record already carries.
//
// The files: KXSnapAzureNetAppSetup.cpp (initialisation, device details,
// array configuration, connection), KXSnapAzureNetAppErrors.cpp (error
// recording), KXSnapAzureNetAppPending.cpp (the phases that have no body yet:
// each fails honestly until its own file replaces it).
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "KXSnapCloud/KXSnapAzureNetAppDS.h"
#include "KXSnapCloud/KXSnapCloudUtil.h"
#include "KXSnapCloud/KXSnapMicroEngine.h"

class KXSnapAzureNetApp : public KXSnapMicroEngine {
public:
    KXSnapAzureNetApp();
    ~KXSnapAzureNetApp() override;
    KXSnapAzureNetApp(const KXSnapAzureNetApp&) = delete;
    KXSnapAzureNetApp& operator=(const KXSnapAzureNetApp&) = delete;

    // --- Phases, in slot order ------------------------------------------------------------
    bool initialize(std::vector<KXSO::SnapInfo*>& devices,
                    const std::shared_ptr<KXSnapCloudUtil>& cloudUtil,
                    short const& opType) override;
    bool processDeviceDetails() override;
    bool getArrayDetails() override;
    bool connectToArray() override;
    bool discoverVolumeDetails() override;
    bool createSnaps() override;
    bool mapSnaps() override;
    bool unmapSnaps() override;
    bool deleteSnaps() override;
    bool postSnapDevices() override;
    bool validateForMap() override;
    bool reconSnaps() override;
    bool validateForRevert() override;
    bool revertSnaps() override;

    // --- Set-up ---------------------------------------------------------------------------
    // True when initialize left the engine with its utility, host utility,
    // log record and at least one work object.
    bool selfValidate();
    // Reads the array's tunables from the host and hands them to every work object.
    bool fetchConfigs();
    // Splits the record's source device name into DevInfo.
    bool parseSourceDeviceName(AzureNetApp::KxSnapANFSnapObj& snapObj);

    // --- Error recording ---------------------------------------------------------------------
    void resetError();
    // Appends the REST client's own error text, or else Azure's.
    void copyAPIErrorBuffer();
    // Records the operation's error code and `message` (or the current error
    // text) on the device, unless it already carries an error.
    void setErrorDetailsForSnapObj(AzureNetApp::KxSnapANFSnapObj& snapObj, int code = 0,
                                   const std::string& message = "");

    // --- Discovery, metadata and snapshot work (arrive with their own files) ------------------
    bool findAccessibleResourceGroups(AzureNetApp::AzureInstanceInfo& vmInstance);
    bool updateMetadata();
    bool generateUUID(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool setSnapMetadata(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool updateSnapMetadataWithSnapInfo(AzureNetApp::KxSnapANFSnapObj& snapObj);
    // Defined in KXSnapAzureNetAppPending.cpp until the metadata file replaces it.
    bool fillSnapObjFromMetadata();
    bool parseUUIDMetadata(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool parseLocationMetadata(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool parseExtendedDetailMetadata(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool parseTransientMetadata(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool generateCloneVolDetails(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool processCloneDetails();
    bool processRevertedVolumeDetails();
    bool setSnapFlags(uint64_t flags);

protected:
    // The honest answer of a phase that has no body in this build: logs and
    // records why on the first device and fails. Goes with the last pending phase.
    bool failUnavailablePhase(const char* phase);
    // An engine-wide failure of a REST call: `prefix` and the client's error
    // text become the error, logged and recorded on the first device. False.
    bool failOnFirstDevice(int result, const char* prefix);
    // The first work object: where engine-wide failures are recorded.
    AzureNetApp::KxSnapANFSnapObj* firstSnapObj();
    // Log lines of the engine (tag "KXSnapAzureNetapp"); outside text only
    // ever as an argument.
    void logLine(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    KXSO::KXOSUtil* osUtil = nullptr;
    std::shared_ptr<KXSnapCloudUtil> cloudUtil;
    std::unique_ptr<KXSnapAzureNetAppAPI> api;
    KXSO::SnapInfo* logger = nullptr;
    int16_t opType = 0;
    int32_t lastError = 0;
    std::ostringstream error;
    std::shared_ptr<AzureNetApp::ANFArrayConfigs> arrayConfigs;
    AzureNetApp::AzureInstanceInfo instance;
    AzureNetApp::SnapObjMap snapObjs;
};
