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
// The files, one concern each: KXSnapAzureNetAppSetup.cpp (initialisation,
// device details, array configuration, connection), ...Discovery.cpp
// (accessible resource groups, volume discovery), ...Metadata.cpp (the four
// metadata records: written at prepare, completed after the snapshot, read back
// by every later operation), ...Create.cpp (snapshot and post-snapshot),
// ...Map.cpp (clones: map and unmap), ...Delete.cpp, ...Revert.cpp,
// ...Recon.cpp, and ...Errors.cpp (error recording).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"
#include "KXSnapCloud/KXSnapAzureNetAppDS.h"
#include "KXSnapCloud/KXSnapCloudUtil.h"
#include "KXSnapCloud/KXSnapMicroEngine.h"

class AnfSideBySide;

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

    // --- Discovery ---------------------------------------------------------------------------
    // Every (subscription, resource group) this machine may read, into
    // vmInstance.accessibleResGroups.
    bool findAccessibleResourceGroups(AzureNetApp::AzureInstanceInfo& vmInstance);
    // After discovery: a snapshot name and the metadata records for every
    // device, then status 1.
    bool updateMetadata();

    // --- Metadata records ----------------------------------------------------------------------
    // The record's own UUID ("-" separated) as snapName.
    bool generateUUID(AzureNetApp::KxSnapANFSnapObj& snapObj);
    // Writes records 6, 154, 161 and transient 102 before the snapshot exists.
    bool setSnapMetadata(AzureNetApp::KxSnapANFSnapObj& snapObj);
    // Completes records 6 and 161 with the snapshot's name and id.
    bool updateSnapMetadataWithSnapInfo(AzureNetApp::KxSnapANFSnapObj& snapObj);
    // Reads the records back into every work object; what a missing field
    // means depends on opType.
    bool fillSnapObjFromMetadata();
    bool parseUUIDMetadata(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool parseLocationMetadata(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool parseExtendedDetailMetadata(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool parseTransientMetadata(AzureNetApp::KxSnapANFSnapObj& snapObj);

    // --- Snapshot operations -------------------------------------------------------------------
    // Names the clone of the device's snapshot and copies the source volume's
    // coordinates into cloneVolumeInfo (map also reads the volume's quota and subnet).
    bool generateCloneVolDetails(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool processCloneDetails();
    // What a clone that already exists under the map's name is good for,
    // once it has settled (see KXSnapAzureNetAppCloneState.cpp).
    enum class ExistingClone { kReady, kAbsent, kUnusable };
    ExistingClone settleExistingClone(AzureNetApp::KxSnapANFSnapObj& snapObj);
    bool processRevertedVolumeDetails();
    bool setSnapFlags(uint64_t flags);

protected:
    // --- One record's step of an operation (run side by side: KXSnapAzureNetAppSideBySide.h) ---
    friend class AnfSideBySide;
    // Each returns what the walk over the records goes by: 0 for a record
    // done (a snapshot requested, completed or deleted, a clone made,
    // deleted or processed; a clone request Azure accepted gives 26),
    // otherwise the failure.
    int createSnapFor(AzureNetApp::KxSnapANFSnapObj& snapObj);
    int postSnapFor(AzureNetApp::KxSnapANFSnapObj& snapObj);
    int deleteSnapFor(AzureNetApp::KxSnapANFSnapObj& snapObj);
    int unmapSnapFor(AzureNetApp::KxSnapANFSnapObj& snapObj);
    int requestCloneFor(AzureNetApp::KxSnapANFSnapObj& snapObj);
    int processCloneFor(AzureNetApp::KxSnapANFSnapObj& snapObj);
    // Deletes the snapshot or clone that was made for a record the walk
    // never reached: a log line when deleted, an error naming it on the
    // record when not.
    int undoSnapFor(AzureNetApp::KxSnapANFSnapObj& made);
    int undoCloneFor(AzureNetApp::KxSnapANFSnapObj& made);
    // The outcome of deleting what Azure made for a record the walk never
    // reached: `deleted` names it in the log line of a delete that went
    // through, `leftover` opens the record's error when it did not.
    int settleUndo(AzureNetApp::KxSnapANFSnapObj& made, int result, const std::string& deleted,
                   const std::string& leftover);
    // The work objects in the records' order.
    std::vector<AzureNetApp::KxSnapANFSnapObj*> workObjects();
    // Runs `undo` side by side for every record after `stoppedAt` whose
    // step in `made` reached Azure, on the work object its dry run left.
    void undoAfterStop(const AnfSideBySide& made, size_t stoppedAt,
                       const std::function<int(AzureNetApp::KxSnapANFSnapObj&)>& undo);

    // `text` replaces the error text, `code` the last error code.
    void replaceError(int code, const std::string& text);
    // The REST client's error text (its own, else Azure's), for messages.
    std::string apiErrorText() const;
    // The REST client's further reason, with a leading blank, to follow a
    // message's usual text; empty when it gave none.
    std::string apiErrorDetail() const;
    // How a device is named in messages: the mounted export when prepare
    // parsed it, else the source volume.
    static const std::string& displayName(const AzureNetApp::KxSnapANFSnapObj& snapObj);
    // The snapshot's resource id from the coordinates the records carry.
    static std::string snapshotResourceId(const AzureNetApp::KxSnapANFSnapObj& snapObj);
    // True for the operations that must go on without complete records: a
    // delete retires what prepare never finished, a reconcile skips it.
    bool toleratesIncompleteMetadata() const;
    // A metadata record as stored; an operation that tolerates incomplete
    // metadata reads a record the host does not have as an empty one.
    bool readMetadataRecord(AzureNetApp::KxSnapANFSnapObj& snapObj, int id, std::string& record);
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
