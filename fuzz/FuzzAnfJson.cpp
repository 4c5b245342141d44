// The NetApp Files client's answer handlers: token, instance metadata,
// Azure errors and asynchronous-operation documents. Each may fail on bad
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
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kxfuzz::Selected input = kxfuzz::Select(data, size, 6);
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
        default:
            api.processGetAsyncOpDetailsResp(input.text, asyncOp);
            break;
    }
    return 0;
}
