// The controller this build offers until the NetApp Files engine is in place:
// every operation fails honestly on the first record, so that a host never
// mistakes an operation that did nothing for a success.
#include "KXSnapCloud/KXSnapCloudControllerInterface.h"

namespace {

constexpr const char* kTag = "KXSnapCloudController";
constexpr int kCloudNotAvailableError = 60001;
constexpr const char* kMessage =
    "Azure NetApp Files snapshots are not available in this build of the plug-in";

class PendingCloudController : public KXSnapCloudControllerInterface {
public:
    KXSO::ResultCode kxso_prepareDevices(KXSO::SnapInfo** d, int16_t n, KXSO::KXOSUtil*) override {
        return Refuse(d, n);
    }
    KXSO::ResultCode kxso_snapDevices(KXSO::SnapInfo** d, int16_t n, KXSO::KXOSUtil*) override {
        return Refuse(d, n);
    }
    KXSO::ResultCode kxso_deleteSnaps(KXSO::SnapInfo** d, int16_t n, KXSO::KXOSUtil*) override {
        return Refuse(d, n);
    }
    KXSO::ResultCode kxso_mapSnaps(KXSO::SnapInfo** d, int16_t n, KXSO::KXOSUtil*) override {
        return Refuse(d, n);
    }
    KXSO::ResultCode kxso_unmapSnaps(KXSO::SnapInfo** d, int16_t n, KXSO::KXOSUtil*) override {
        return Refuse(d, n);
    }
    KXSO::ResultCode kxso_revertSnaps(KXSO::SnapInfo** d, int16_t n, KXSO::KXOSUtil*) override {
        return Refuse(d, n);
    }
    KXSO::ResultCode kxso_reconcileSnaps(KXSO::SnapInfo** d, int16_t n, KXSO::KXOSUtil*) override {
        return Refuse(d, n);
    }
    KXSO::ResultCode kxso_postSnapDevices(KXSO::SnapInfo** d, int16_t n, KXSO::KXOSUtil*) override {
        return Refuse(d, n);
    }

private:
    static KXSO::ResultCode Refuse(KXSO::SnapInfo** devices, int16_t count) {
        if (count > 0 && devices != nullptr && devices[0] != nullptr) {
            devices[0]->logMessage(KXSO::LOG_ERROR, kTag, "%s", kMessage);
            devices[0]->setError(kCloudNotAvailableError, kMessage);
        }
        return KXSO::RESULT_FAILURE;
    }
};

}  // namespace

std::unique_ptr<KXSnapCloudControllerInterface> KXSnapCloudControllerInterface::getInstance(
    const std::list<int>&) {
    return std::make_unique<PendingCloudController>();
}
