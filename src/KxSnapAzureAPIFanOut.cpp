// Requests of one call sent side by side: the pool's connections are set up
// as the client's own one (trace, proxy), and its width comes from the settings.
#include <vector>

#include "KxSnapAzureAPI.h"
#include "KxSnapWebProxy.h"
#include "platform/KXFanOut.h"
#include "platform/KXLibCurl.h"
#include "platform/KXPlatformInfo.h"

namespace {

constexpr const char* kCurlTraceKey = "bEnableLibCurlTrace";

bool TraceWanted() {
    bool trace = false;
    return KXPlatformInfo::getBoolean(KX_SETTINGS_SECTION, kCurlTraceKey, trace) && trace;
}

}  // namespace

size_t KxSnapAzureAPI::RunSideBySide(const std::vector<KXFanOut::Job*>& jobs,
                                     KXFanOut::Statistics* statistics) {
    KXFanOut::Options options;
    options.maxParallel = KXFanOut::MaxParallelFromSettings();
    options.policy = RetryPolicy();
    const bool trace = TraceWanted();
    const HttpWebProxyInfo proxy = proxyInfo;
    options.configure = [trace, proxy](KXLibCurl& client) {
        return client.KXLibCurlInit(HTTP_CONTENT_TYPE_JSON, true, trace) &&
               kxproxy::ApplyWebProxy(client, proxy) == nullptr;
    };
    options.log = [this](const std::string& line) { Log(1, "%s", line.c_str()); };
    KXFanOut::Runner runner(std::move(options));
    const size_t stoppedAt = runner.Run(jobs);
    if (statistics != nullptr) {
        *statistics = runner.Stats();
    }
    return stoppedAt;
}
