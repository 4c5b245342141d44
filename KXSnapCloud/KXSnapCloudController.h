// The cloud controller: the entry of the cloud path. It sorts the call's
// records by vendor and service engine, builds one cloud engine per vendor and
// drives every engine through the operation's phases.
//
// One controller serves exactly one exported call. The controller writes only
// the starting status of the operation; the service engines write every other
// per-record outcome. Results are 0 (every step succeeded) or 1; unmap and
// delete, whose records succeed or fail one by one, answer 0 when every record
// is done, 2 when some are and 1 when none is.
#pragma once

#include <initializer_list>
#include <map>
#include <memory>
#include <vector>

#include "KXSnapCloud/KXSnapCloudControllerInterface.h"
#include "KXSnapCloud/KXSnapCloudEngine.h"

class KXSnapCloudController : public KXSnapCloudControllerInterface {
public:
    explicit KXSnapCloudController(std::vector<int> vendors);
    ~KXSnapCloudController() override;
    KXSnapCloudController(const KXSnapCloudController&) = delete;
    KXSnapCloudController& operator=(const KXSnapCloudController&) = delete;

    KXSO::ResultCode kxso_prepareDevices(KXSO::SnapInfo** devices, short count,
                                         KXSO::KXOSUtil* util) override;
    KXSO::ResultCode kxso_snapDevices(KXSO::SnapInfo** devices, short count,
                                      KXSO::KXOSUtil* util) override;
    KXSO::ResultCode kxso_deleteSnaps(KXSO::SnapInfo** devices, short count,
                                      KXSO::KXOSUtil* util) override;
    KXSO::ResultCode kxso_mapSnaps(KXSO::SnapInfo** devices, short count,
                                   KXSO::KXOSUtil* util) override;
    KXSO::ResultCode kxso_unmapSnaps(KXSO::SnapInfo** devices, short count,
                                     KXSO::KXOSUtil* util) override;
    KXSO::ResultCode kxso_revertSnaps(KXSO::SnapInfo** devices, short count,
                                      KXSO::KXOSUtil* util) override;
    KXSO::ResultCode kxso_reconcileSnaps(KXSO::SnapInfo** devices, short count,
                                         KXSO::KXOSUtil* util) override;
    KXSO::ResultCode kxso_postSnapDevices(KXSO::SnapInfo** devices, short count,
                                          KXSO::KXOSUtil* util) override;

    // False, with nothing logged, for a null util or record array, a count
    // below 1 or a null record; also when a record refuses its starting status,
    // which that record's error then names.
    bool initializeCloudController(KXSO::SnapInfo** devices, short count, KXSO::KXOSUtil* util,
                                   short operation);
    bool initializeSnapStatus(KXSO::SnapInfo** devices, short const& count, short const& operation);
    void reportRefusedStatus(KXSO::SnapInfo* device, int status, short operation);
    // Prepare: decides each record's vendor from the record itself and tags it.
    bool discoverCloudVendorServices();
    // Every other operation: decides from what prepare stored on the record.
    bool identifyCloudVendorServices();
    bool getCloudEngineInfoFromSnapEngine(KXSO::SnapInfo* device, int& vendorId,
                                          int& serviceEngineId);
    bool getCloudMetadataFromDevice(KXSO::SnapInfo* device, int& vendorId, int& serviceEngineId);
    bool initializeServiceEngines();

private:
    using EnginePhase = bool (KXSnapCloudEngineInterface::*)();
    // One phase of an operation and the line logged (with the vendor id) when
    // an engine fails it.
    struct PhaseStep {
        EnginePhase phase;
        const char* failureFormat;
    };

    // The common sequence: set-up, vendor discovery (prepare) or identification
    // (the others), service engines, then the operation's phases in order.
    // With a `doneStatus`, the result after the last phase comes from the
    // records (resultFromRecords).
    KXSO::ResultCode runOperation(KXSO::SnapInfo** devices, short count, KXSO::KXOSUtil* util,
                                  short operation, std::initializer_list<PhaseStep> phases,
                                  int doneStatus = 0);
    // 0 when every record carries `doneStatus`, 2 when some do, 1 when none does.
    KXSO::ResultCode resultFromRecords(int doneStatus);
    bool runPhase(const PhaseStep& step);
    bool storeEngine(int vendorId, const std::shared_ptr<KXSnapCloudUtil>& cloudUtil);
    void logError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void logDetail(const char* format, ...) __attribute__((format(printf, 2, 3)));

    std::vector<KXSO::SnapInfo*> devices_;
    KXSO::KXOSUtil* util_ = nullptr;
    KXSO::SnapInfo* logger_ = nullptr;
    short operation_ = 0;
    std::vector<int> vendors_;
    std::map<int, std::unique_ptr<KXSnapCloudEngineInterface>> cloudEngines_;
};
