// The NetApp Files client's answer handlers: token, instance metadata,
// Azure errors, asynchronous-operation documents, snapshots, volumes, lists
// and the discovery documents. Each may fail on bad
// input; none may crash or let an exception out.
#include "FuzzInput.h"
#include "KXSnapCloud/KXSnapAzureNetAppAPI.h"

namespace {

// Reaches the handlers the client keeps to itself.
class HandlerAccess : public KXSnapAzureNetAppAPI {
public:
    HandlerAccess() : KXSnapAzureNetAppAPI(nullptr) {}
    using KXSnapAzureNetAppAPI::processGetAccessTokenResp;
    using KXSnapAzureNetAppAPI::processGetInstanceDetailsResp;
    using KXSnapAzureNetAppAPI::processGetSnapshotInfo;
    using KXSnapAzureNetAppAPI::processGetVolumeInfo;
    using KXSnapAzureNetAppAPI::processListResourceGroups;
    using KXSnapAzureNetAppAPI::processListSubscriptions;
    using KXSnapAzureNetAppAPI::processCreateSnapResp;
    using KXSnapAzureNetAppAPI::populateNICCacheFromResponse;
    using KXSnapAzureNetAppAPI::NicCache;
};

// The status codes the write handlers are judged on.
constexpr int64_t kStatuses[] = {200, 201, 202, 204, 400, 404, 409, 500};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kxfuzz::Selected input = kxfuzz::Select(data, size, 13);
    HandlerAccess api;
    AzureNetApp::AzureInstanceInfo instance;
    AzureNetApp::AzureAsyncOpInfo asyncOp;
    switch (input.choice) {
        case 0:
            api.processGetAccessTokenResp(input.text);
            break;
        case 1:
            api.processGetInstanceDetailsResp(input.text, instance, 0);
            break;
        case 2:
            api.processGetInstanceDetailsResp(input.text, instance,
                                              ANF_API_CONST::ANF_GET_INSTANCE_FLAG_EXTENDED);
            break;
        case 3:
            api.extractErrorMessage(input.text, false);
            break;
        case 4:
            api.extractErrorMessage(input.text, true);
            break;
        case 5:
            api.processGetAsyncOpDetailsResp(input.text, asyncOp);
            break;
        case 6: {
            AzureNetApp::AzureNetAppSnapshotInfo snapshot;
            api.processGetSnapshotInfo(input.text, snapshot);
            break;
        }
        case 7:
        case 8: {
            AzureNetApp::AzureNetAppVolumeInfo volume;
            api.processGetVolumeInfo(input.text, volume, input.choice == 8);
            break;
        }
        case 9: {
            std::vector<std::string> names;
            api.processListSubscriptions(input.text, names);
            break;
        }
        case 10: {
            std::vector<std::string> names;
            api.processListResourceGroups(input.text, names);
            break;
        }
        case 11: {
            AnfJson::Value document;
            AnfJson::parse(input.text, document);
            HandlerAccess::NicCache cache;
            api.populateNICCacheFromResponse(document, cache);
            break;
        }
        default: {
            std::string link;
            const int64_t status = kStatuses[input.text.size() % 8];
            api.processCreateSnapResp(status, input.text, link);
            break;
        }
    }
    return 0;
}
