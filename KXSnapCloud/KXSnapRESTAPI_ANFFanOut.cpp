// Requests of one call sent side by side (KXFanOut): each is formed as
// sendReq forms its own and each answer is read as sendReq reads its own, so
// that a job's handler sees the transport exactly as after a plain request.
#include <string>
#include <vector>

#include "KXSnapCloud/KXSnapRESTAPI_ANF.h"
#include "platform/KXLibCurl.h"
#include "src/KxSnapWebProxy.h"

namespace {

// KXLibCurlAppendHeader refuses these lines; the pooled clients would fail
// the whole request on one, where sendReq sends without it.
bool ClientTakesHeaderLine(const std::string& line) {
    return !line.empty() && line.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

bool KXSnapRESTAPI_ANF::formRequest(int type, const std::string& path, const std::string& body,
                                    KXFanOut::Request& request, bool meta, bool retry) {
    request = KXFanOut::Request();
    if (!readyToSend(meta)) {
        return false;
    }
    formUrlPath(path, request.url, meta);
    // As setCommonCurlHeaders: the lines up to the first that cannot be set,
    // which is logged; the request still goes out.
    for (CommonHeader& header : commonHeaders(meta)) {
        if (!ClientTakesHeaderLine(header.line)) {
            logHeaderFailure(header);
            break;
        }
        request.headers.push_back(std::move(header.line));
    }
    const int method = clientMethod(type);
    if (method < 0) {
        logLine(KXSO::LOG_ERROR, "Unsupported request type [%d]", type);
        return false;
    }
    request.method = method;
    request.body = body;
    request.retry.method = method;
    request.retry.replay = retry ? KXRetry::DefaultReplay(method) : KXRetry::Replay::Never;
    request.retry.metadataToken = meta && connecting;
    return true;
}

bool KXSnapRESTAPI_ANF::takeAnswer(const KXFanOut::Request& request, const KXFanOut::Answer& answer,
                                   std::string& response) {
    response.clear();
    takenAnswer = std::make_unique<KXFanOut::Answer>(answer);
    httpErrorCode = answer.status;
    const bool sent = answer.Ok();
    if (!sent) {
        logFailedRequest(request.url, request.body);
    }
    const char* bytes = answer.hasBody ? answer.body.data() : nullptr;
    readResponse(request.url, request.body, bytes, answer.body.size(), response);
    return sent;
}

size_t KXSnapRESTAPI_ANF::runSideBySide(const std::vector<KXFanOut::Job*>& jobs,
                                        KXFanOut::Statistics* statistics) {
    KXFanOut::Options options;
    options.maxParallel = KXFanOut::MaxParallelFromSettings();
    options.policy = activeRetryPolicy();
    // Set up as connect() sets up the transport's own client; without a
    // connection no request is formed, and no proxy is needed.
    const HttpWebProxyInfo proxy = proxyInfo ? *proxyInfo : HttpWebProxyInfo();
    const std::string contentTypeLine = contentType;
    options.configure = [proxy, contentTypeLine](KXLibCurl& client) {
        if (!client.KXLibCurlInit(contentTypeLine, true, false, nullptr)) {
            return false;
        }
        client.toggleTrace(true);
        // As connect(): a proxy that cannot be set was logged there and is
        // passed over; the answers tell whether Azure is reachable.
        kxproxy::ApplyWebProxy(client, proxy);
        return true;
    };
    options.log = [this](const std::string& line) { logLine(KXSO::LOG_INFO, "%s", line.c_str()); };
    KXFanOut::Runner runner(std::move(options));
    const size_t stoppedAt = runner.Run(jobs);
    if (statistics != nullptr) {
        *statistics = runner.Stats();
    }
    return stoppedAt;
}
