// Every request enters here: admin requests go straight to the admin API; Azure requests are
// logged, meet any injected fault, and are handed to the metadata service or Resource Manager
// depending on the listener they came in on.
#pragma once

#include <optional>

#include "Faults.h"
#include "HttpTypes.h"

namespace azemu {

class AdminApi;
class ArmRouter;
class Engine;
class Imds;

class FrontDoor {
public:
    FrontDoor(Engine& engine, ArmRouter& arm, Imds& imds, AdminApi& admin)
        : engine_(engine), arm_(arm), imds_(imds), admin_(admin) {}
    HttpResponse handle(const HttpRequest& request);

private:
    HttpResponse withFault(const HttpRequest& request, const FaultInfo& fault);
    HttpResponse dispatch(const HttpRequest& request, const AsyncEnding& ending);
    HttpResponse faultError(const HttpRequest& request, const FaultSpec& fault) const;

    Engine& engine_;
    ArmRouter& arm_;
    Imds& imds_;
    AdminApi& admin_;
};

}  // namespace azemu
