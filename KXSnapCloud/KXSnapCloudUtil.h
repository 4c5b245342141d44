// The vendor utility of the cloud snap framework: decides which service engine
// serves each device record, tags the records it takes, and holds the records
// grouped by service engine for the cloud engine built on it.
//
// One utility serves one controller call. It is shared (std::shared_ptr)
// between the controller's identification, the cloud engine and the service
// engines, and never outlives the call. The host owns the records.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "kxso/KXSOSnapInfo.h"

class KXSnapCloudUtil {
public:
    // Records by service-engine id, in ascending id.
    using ServiceEngineDevices = std::map<int, std::vector<KXSO::SnapInfo*>>;

    // The utility of `vendorId`, or empty for a vendor this build does not know.
    static std::shared_ptr<KXSnapCloudUtil> getInstance(int vendorId, KXSO::KXOSUtil* util);

    // The virtual operations stand in this slot order.
    virtual ~KXSnapCloudUtil() = default;
    // Prepare: takes every record of `devices` that one of the vendor's service
    // engines supports, tags it and removes it from `devices`. False when a
    // record could not be read or tagged.
    virtual bool checkSupport(std::vector<KXSO::SnapInfo*>& devices) = 0;
    // Later operations: files an already identified record under its engine.
    virtual bool assignDeviceToServiceEngine(KXSO::SnapInfo* device,
                                             int const& serviceEngineId) = 0;
    virtual bool getCachedServiceEngine(std::vector<KXSO::SnapInfo*>& devices) = 0;

    const ServiceEngineDevices& serviceEngineDevices() const { return serviceEngineDevices_; }
    KXSO::KXOSUtil* osUtil() const { return osUtil_; }

protected:
    explicit KXSnapCloudUtil(KXSO::KXOSUtil* util) : osUtil_(util) {}
    void addDevice(int serviceEngineId, KXSO::SnapInfo* device) {
        serviceEngineDevices_[serviceEngineId].push_back(device);
    }
    void addServiceEngine(int serviceEngineId) { serviceEngineDevices_[serviceEngineId]; }

private:
    ServiceEngineDevices serviceEngineDevices_;
    KXSO::KXOSUtil* osUtil_;
};
