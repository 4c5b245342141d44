// Inspection and fault injection under /_emulator/, a path no Azure API uses. Served on both
// listeners, without authentication; see README.md for the endpoints.
#pragma once

#include <functional>

#include "HttpTypes.h"

namespace azemu {

class Engine;

struct AdminHooks {
    std::function<Json()> connections;  // {"https": n, "http": n, "total": n}
    std::function<Json()> endpoints;    // the start-up line
};

class AdminApi {
public:
    AdminApi(Engine& engine, AdminHooks hooks) : engine_(engine), hooks_(std::move(hooks)) {}
    static bool isAdminPath(const std::string& path);
    HttpResponse handle(const HttpRequest& request);

private:
    HttpResponse route(const HttpRequest& request, const std::vector<std::string>& segments);
    HttpResponse faults(const HttpRequest& request, const std::vector<std::string>& segments);
    HttpResponse settle(const HttpRequest& request);
    HttpResponse resource(const HttpRequest& request);
    HttpResponse volumeContent(const HttpRequest& request);

    Engine& engine_;
    AdminHooks hooks_;
};

}  // namespace azemu
