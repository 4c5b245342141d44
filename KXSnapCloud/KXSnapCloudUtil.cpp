#include "KXSnapCloud/KXSnapCloudUtil.h"

#include "KXSnapCloud/KXSnapCloudAzureUtil.h"
#include "KXSnapCloud/KXSnapCloudConstants.h"

std::shared_ptr<KXSnapCloudUtil> KXSnapCloudUtil::getInstance(int vendorId, KXSO::KXOSUtil* util) {
    if (vendorId == KXSnapCloudConstants::KXSnapCloud_Provider_Azure) {
        return std::make_shared<KXSnapCloudAzureUtil>(util);
    }
    return nullptr;
}
