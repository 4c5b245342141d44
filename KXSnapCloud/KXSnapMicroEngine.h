// The base of every service engine: the phases a cloud engine drives it
// through. NetApp Files (KXSnapAzureNetApp) is the one implementation.
//
// A service engine lives for one controller call. `initialize` runs first and
// must succeed before any other phase is called; every phase answers true on
// success and leaves per-record outcomes on the host's records.
#pragma once

#include <memory>
#include <vector>

#include "KXSnapCloud/KXSnapCloudUtil.h"
#include "kxso/KXSOSnapInfo.h"

class KXSnapMicroEngine {
public:
    // A new engine for `serviceEngineId`, or empty for an id this build does
    // not know.
    static std::unique_ptr<KXSnapMicroEngine> getInstance(int serviceEngineId);

    // The virtual operations stand in this slot order.
    virtual ~KXSnapMicroEngine() = default;
    virtual bool initialize(std::vector<KXSO::SnapInfo*>& devices,
                            const std::shared_ptr<KXSnapCloudUtil>& cloudUtil,
                            short const& opType) = 0;
    virtual bool processDeviceDetails() = 0;
    virtual bool getArrayDetails() = 0;
    virtual bool connectToArray() = 0;
    virtual bool discoverVolumeDetails() = 0;
    virtual bool createSnaps() = 0;
    virtual bool mapSnaps() = 0;
    virtual bool unmapSnaps() = 0;
    virtual bool deleteSnaps() = 0;
    virtual bool postSnapDevices() = 0;
    virtual bool validateForMap() = 0;
    virtual bool reconSnaps() = 0;
    virtual bool validateForRevert() = 0;
    virtual bool revertSnaps() = 0;
};
