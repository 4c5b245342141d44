// The instance metadata service: the VM's description and managed-identity tokens, over plain
// HTTP, each request carrying "Metadata: true".
#pragma once

#include "HttpTypes.h"

namespace azemu {

class Engine;

class Imds {
public:
    explicit Imds(Engine& engine) : engine_(engine) {}
    HttpResponse handle(const HttpRequest& request);

private:
    HttpResponse instance(const std::string& api, const std::string& section);
    HttpResponse token(const HttpRequest& request);
    Json compute(const std::string& api) const;
    Json network() const;

    Engine& engine_;
};

}  // namespace azemu
