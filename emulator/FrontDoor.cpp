#include "FrontDoor.h"

#include "AdminApi.h"
#include "ArmErrors.h"
#include "ArmRouter.h"
#include "Engine.h"
#include "Imds.h"
#include "ListPaging.h"
#include "Util.h"

namespace azemu {

namespace {

HttpResponse dropped() {
    HttpResponse r;
    r.transport = Transport::Drop;
    return r;
}

}  // namespace

HttpResponse FrontDoor::handle(const HttpRequest& request) {
    if (AdminApi::isAdminPath(request.path)) return admin_.handle(request);
    uint64_t seq = engine_.requestLog().begin(request);
    // The time Resource Manager takes to answer. Every request waits on its
    // own connection's thread, and the wait gives the engine's lock up, so
    // requests sent side by side are answered side by side.
    const int latencyMs = engine_.settings().requestLatencyMs;
    if (request.listener == Listener::Arm && latencyMs > 0 &&
        !engine_.pause(std::chrono::milliseconds(latencyMs))) {
        engine_.requestLog().finish(seq, 0, 0);
        return dropped();
    }
    auto fault = engine_.faults().fire(request.method, request.path);
    HttpResponse response;
    try {
        response = fault ? withFault(request, *fault) : dispatch(request, AsyncEnding{});
    } catch (const std::exception& e) {
        // A bug in the emulator must not take the test process down; say so as Azure would.
        response = armError(500, "InternalServerError", std::string("Emulator error: ") + e.what());
    }
    int status = response.transport == Transport::Drop ? 0 : response.status;
    engine_.requestLog().finish(seq, status, fault ? fault->id : 0);
    return response;
}

HttpResponse FrontDoor::withFault(const HttpRequest& request, const FaultInfo& fault) {
    const FaultSpec& f = fault.spec;
    if (f.delayMs > 0 && !engine_.pause(std::chrono::milliseconds(f.delayMs))) return dropped();
    auto carriedOut = [&] { return dispatch(request, AsyncEnding{}); };
    switch (f.action) {
        case FaultAction::Delay:
            return carriedOut();
        case FaultAction::Error:
            if (f.afterProcessing) carriedOut();
            return faultError(request, f);
        case FaultAction::Drop:
            if (f.afterProcessing) carriedOut();
            return dropped();
        case FaultAction::NonJson: {
            if (f.afterProcessing) carriedOut();
            HttpResponse r;
            r.status = f.status;
            r.contentType = "text/html";
            r.body = "<html><head><title>" + std::to_string(f.status) +
                     "</title></head><body><h1>" + f.message + "</h1></body></html>";
            return r;
        }
        case FaultAction::Truncate: {
            HttpResponse r = carriedOut();
            r.transport = Transport::Truncate;
            return r;
        }
        case FaultAction::NoAsyncHeader: {
            HttpResponse r = carriedOut();
            r.removeHeader("Azure-AsyncOperation");
            r.removeHeader("Location");
            return r;
        }
        case FaultAction::EmptyBody: {
            // Status, headers and content type stay: a well-formed answer that says nothing.
            HttpResponse r = carriedOut();
            r.body.clear();
            return r;
        }
        case FaultAction::WrongTypes: {
            HttpResponse r = carriedOut();
            // An answer that is not JSON has no types to get wrong; it goes out as it is.
            Json document = Json::parse(r.body, nullptr, false);
            if (!document.is_discarded()) r.body = withWrongTypes(document).dump();
            return r;
        }
        case FaultAction::AsyncFail:
        case FaultAction::AsyncCancel:
        case FaultAction::AsyncNeverEnd: {
            AsyncEnding ending;
            ending.kind = f.action == FaultAction::AsyncFail     ? AsyncEnding::Fail
                          : f.action == FaultAction::AsyncCancel ? AsyncEnding::Cancel
                                                                 : AsyncEnding::Never;
            ending.error = {{"code", f.code}, {"message", f.message}};
            return dispatch(request, ending);
        }
    }
    return carriedOut();
}

HttpResponse FrontDoor::faultError(const HttpRequest& request, const FaultSpec& f) const {
    if (request.listener == Listener::Imds) return imdsError(f.status, f.code, f.message);
    HttpResponse r = armError(f.status, f.code, f.message);
    if (f.status == 429 || f.status == 503) r.setHeader("Retry-After", "1");
    if (f.retryAfterMs > 0) r.setHeader("retry-after-ms", std::to_string(f.retryAfterMs));
    return r;
}

HttpResponse FrontDoor::dispatch(const HttpRequest& request, const AsyncEnding& ending) {
    if (request.listener == Listener::Arm) {
        return pageOfList(request, arm_.handle(request, ending), engine_.settings().listPageSize,
                          engine_.armBaseUrl());
    }
    if (startsWithIgnoreCase(request.path, "/metadata/")) return imds_.handle(request);
    return imdsError(404, "not_found", "No metadata at " + request.path);
}

}  // namespace azemu
