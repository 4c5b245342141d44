// The cloud engine of one vendor: builds one service engine per service-engine
// id that the vendor utility holds and hands every phase to all of them, in
// ascending id.
//
// The controller owns its engines; an engine owns its service engines and
// shares the vendor utility with them. Everything lives for one call.
#pragma once

#include <map>
#include <memory>

#include "KXSnapCloud/KXSnapCloudUtil.h"
#include "KXSnapCloud/KXSnapMicroEngine.h"

class EvDebugLog;

class KXSnapCloudEngineInterface {
public:
    // A new KXSnapCloudEngine built on `cloudUtil`.
    static std::unique_ptr<KXSnapCloudEngineInterface> getInstance(
        const std::shared_ptr<KXSnapCloudUtil>& cloudUtil);

    // The virtual operations stand in this slot order; from deleteSnaps on it
    // differs from KXSnapMicroEngine's.
    virtual ~KXSnapCloudEngineInterface() = default;
    virtual bool initializeServiceEngines(short const& operation) = 0;
    virtual bool processDeviceDetails() = 0;
    virtual bool getArrayDetails() = 0;
    virtual bool connectToArray() = 0;
    virtual bool discoverVolumeDetails() = 0;
    virtual bool deleteSnaps() = 0;
    virtual bool createSnaps() = 0;
    virtual bool postSnapDevices() = 0;
    virtual bool unmapSnaps() = 0;
    virtual bool mapSnaps() = 0;
    virtual bool validateForMap() = 0;
    virtual bool reconSnaps() = 0;
    virtual bool validateForRevert() = 0;
    virtual bool revertSnaps() = 0;
};

class KXSnapCloudEngine : public KXSnapCloudEngineInterface {
public:
    explicit KXSnapCloudEngine(std::shared_ptr<KXSnapCloudUtil> cloudUtil);
    ~KXSnapCloudEngine() override;
    KXSnapCloudEngine(const KXSnapCloudEngine&) = delete;
    KXSnapCloudEngine& operator=(const KXSnapCloudEngine&) = delete;

    bool initializeServiceEngines(short const& operation) override;
    bool processDeviceDetails() override;
    bool getArrayDetails() override;
    bool connectToArray() override;
    bool discoverVolumeDetails() override;
    bool deleteSnaps() override;
    bool createSnaps() override;
    bool postSnapDevices() override;
    bool unmapSnaps() override;
    bool mapSnaps() override;
    bool validateForMap() override;
    bool reconSnaps() override;
    bool validateForRevert() override;
    bool revertSnaps() override;

private:
    using Phase = bool (KXSnapMicroEngine::*)();
    // Runs `phase` on the service engine of every id the utility holds; stops
    // at the first failure.
    bool runOnServiceEngines(Phase phase);

    std::shared_ptr<KXSnapCloudUtil> cloudUtil_;
    std::map<int, std::unique_ptr<KXSnapMicroEngine>> serviceEngines_;
    const EvDebugLog* debug_;
};
