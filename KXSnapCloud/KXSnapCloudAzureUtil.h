// The Azure vendor utility: NetApp Files is its one service engine.
#pragma once

#include <vector>

#include "KXSnapCloud/KXSnapCloudUtil.h"

class KXSnapCloudAzureUtil : public KXSnapCloudUtil {
public:
    // Enters the NetApp Files engine with no records, so that the cloud engine
    // builds it and drives it through every phase even when no record is
    // filed under it.
    explicit KXSnapCloudAzureUtil(KXSO::KXOSUtil* util);

    bool checkSupport(std::vector<KXSO::SnapInfo*>& devices) override;
    bool assignDeviceToServiceEngine(KXSO::SnapInfo* device, int const& serviceEngineId) override;
    bool getCachedServiceEngine(std::vector<KXSO::SnapInfo*>& devices) override;

    // False only when the record's source path cannot be read; an unsupported
    // device answers true with KXSnapCloud_Unsupported.
    bool identifyServiceEngine(KXSO::SnapInfo* device, int& serviceEngineId);
    // Stores "100|<id>" as cloud metadata and sets the cloud snap flag.
    bool addCloudMetadataToDevice(KXSO::SnapInfo* device, int const& serviceEngineId);
    // The host's snap-engine id for a service engine, 0 when there is none.
    short getSnapEngineIdFromServiceEngine(int const& serviceEngineId);
    bool assignSnapEngine(KXSO::SnapInfo* device, int& serviceEngineId);
};
