#include "KXSnapCloud/KXSnapMicroEngine.h"

#include "KXSnapCloud/KXSnapAzureNetApp.h"
#include "KXSnapCloud/KXSnapCloudConstants.h"

std::unique_ptr<KXSnapMicroEngine> KXSnapMicroEngine::getInstance(int serviceEngineId) {
    if (serviceEngineId == KXSnapCloudConstants::ServiceEngine_Azure_NetAppFiles) {
        return std::make_unique<KXSnapAzureNetApp>();
    }
    return nullptr;
}
