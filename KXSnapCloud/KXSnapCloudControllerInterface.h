// The cloud snap controller as the exported operations see it: one controller
// per call, owned by the caller through a unique pointer.
#pragma once

#include <cstdint>
#include <vector>
#include <memory>

#include "kxso/KXSOSnapInfo.h"

class KXSnapCloudControllerInterface {
public:
    // Always answers a controller for the given providers.
    static std::unique_ptr<KXSnapCloudControllerInterface> getInstance(
        std::vector<int>& vendors);

    // The virtual operations stand in this slot order.
    virtual ~KXSnapCloudControllerInterface() = default;
    virtual KXSO::ResultCode kxso_prepareDevices(KXSO::SnapInfo** devices, int16_t count,
                                                 KXSO::KXOSUtil* util) = 0;
    virtual KXSO::ResultCode kxso_snapDevices(KXSO::SnapInfo** devices, int16_t count,
                                              KXSO::KXOSUtil* util) = 0;
    virtual KXSO::ResultCode kxso_deleteSnaps(KXSO::SnapInfo** devices, int16_t count,
                                              KXSO::KXOSUtil* util) = 0;
    virtual KXSO::ResultCode kxso_mapSnaps(KXSO::SnapInfo** devices, int16_t count,
                                           KXSO::KXOSUtil* util) = 0;
    virtual KXSO::ResultCode kxso_unmapSnaps(KXSO::SnapInfo** devices, int16_t count,
                                             KXSO::KXOSUtil* util) = 0;
    virtual KXSO::ResultCode kxso_revertSnaps(KXSO::SnapInfo** devices, int16_t count,
                                              KXSO::KXOSUtil* util) = 0;
    virtual KXSO::ResultCode kxso_reconcileSnaps(KXSO::SnapInfo** devices, int16_t count,
                                                 KXSO::KXOSUtil* util) = 0;
    virtual KXSO::ResultCode kxso_postSnapDevices(KXSO::SnapInfo** devices, int16_t count,
                                                  KXSO::KXOSUtil* util) = 0;
};
