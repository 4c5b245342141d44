#include "AdminApi.h"

#include <stdexcept>

#include "ArmPath.h"
#include "Engine.h"
#include "Util.h"

namespace azemu {

namespace {

const char* kPrefix = "/_emulator";

HttpResponse adminError(int status, const std::string& message) {
    return HttpResponse::json(status, {{"error", message}});
}

Json parseJson(const std::string& body) {
    if (trim(body).empty())
        return Json::object();
    try {
        return Json::parse(body);
    } catch (const Json::exception& e) {
        throw std::invalid_argument(std::string("body is not JSON: ") + e.what());
    }
}

bool is(const HttpRequest& r, const char* method, const std::vector<std::string>& segs,
        std::initializer_list<const char*> path) {
    if (r.method != method || segs.size() != path.size())
        return false;
    size_t i = 0;
    for (const char* p : path) {
        if (segs[i++] != p)
            return false;
    }
    return true;
}

}  // namespace

bool AdminApi::isAdminPath(const std::string& path) {
    auto segs = pathSegments(path);
    return !segs.empty() && segs[0] == std::string(kPrefix).substr(1);
}

HttpResponse AdminApi::handle(const HttpRequest& request) {
    auto segments = pathSegments(request.path);
    segments.erase(segments.begin());
    try {
        return route(request, segments);
    } catch (const std::invalid_argument& e) {
        return adminError(400, e.what());
    } catch (const std::exception& e) {
        return adminError(500, e.what());
    }
}

HttpResponse AdminApi::route(const HttpRequest& r, const std::vector<std::string>& s) {
    if (is(r, "GET", s, {"health"}))
        return HttpResponse::json(200, {{"ok", true}});
    if (is(r, "GET", s, {"endpoints"}))
        return HttpResponse::json(200, hooks_.endpoints());
    if (is(r, "GET", s, {"state"}))
        return HttpResponse::json(200, engine_.dump());
    if (is(r, "POST", s, {"reset"})) {
        engine_.reset();
        return HttpResponse::json(200, {{"reset", true}});
    }
    if (is(r, "POST", s, {"complete-pending"})) {
        engine_.completePending();
        return HttpResponse::json(200, {{"completed", true}});
    }
    if (is(r, "GET", s, {"settings"}))
        return HttpResponse::json(200, engine_.settings().toJson());
    if ((r.method == "PUT" || r.method == "PATCH") && s.size() == 1 && s[0] == "settings") {
        Settings updated = Settings::fromJson(parseJson(r.body), engine_.settings());
        engine_.setSettings(updated);
        return HttpResponse::json(200, updated.toJson());
    }
    if (!s.empty() && s[0] == "faults")
        return faults(r, s);
    if (is(r, "GET", s, {"requests"})) {
        Json list = Json::array();
        for (const auto& e : engine_.requestLog().entries())
            list.push_back(e.toJson());
        return HttpResponse::json(200, list);
    }
    if (is(r, "DELETE", s, {"requests"})) {
        engine_.requestLog().clear();
        return HttpResponse::empty(204);
    }
    if (is(r, "GET", s, {"connections"}))
        return HttpResponse::json(200, hooks_.connections());
    if (is(r, "GET", s, {"devices"})) {
        Json state = engine_.dump();
        return HttpResponse::json(
            200, {{"devices", state["devices"]}, {"pending", state["pendingDeviceEvents"]}});
    }
    if (is(r, "POST", s, {"devices", "settle"}))
        return settle(r);
    if (is(r, "GET", s, {"resource"}))
        return resource(r);
    if (is(r, "DELETE", s, {"resource"})) {
        std::string id = r.queryValue("id");
        return engine_.removeNetAppResource(id) ? HttpResponse::empty(204)
                                                : adminError(404, "no NetApp Files resource " + id);
    }
    if (is(r, "GET", s, {"netapp"}))
        return HttpResponse::json(200, engine_.dump()["netApp"]);
    if (is(r, "POST", s, {"netapp", "content"}))
        return volumeContent(r);
    if (is(r, "POST", s, {"token"})) {
        IssuedToken t = engine_.issueToken();
        return HttpResponse::json(
            200, {{"access_token", t.token}, {"expires_on", std::to_string(t.expiresMs / 1000)}});
    }
    return adminError(404, "no admin endpoint " + r.method + " " + r.path);
}

HttpResponse AdminApi::faults(const HttpRequest& r, const std::vector<std::string>& s) {
    FaultTable& table = engine_.faults();
    if (is(r, "GET", s, {"faults"})) {
        Json list = Json::array();
        for (const auto& f : table.list())
            list.push_back(f.toJson());
        return HttpResponse::json(200, list);
    }
    if (is(r, "POST", s, {"faults"})) {
        Json body = parseJson(r.body);
        Json ids = Json::array();
        // One fault or a list of them.
        for (const auto& f : body.is_array() ? body : Json::array({body})) {
            ids.push_back(table.add(FaultSpec::fromJson(f)));
        }
        return HttpResponse::json(201, body.is_array() ? Json{{"ids", ids}} : Json{{"id", ids[0]}});
    }
    if (is(r, "DELETE", s, {"faults"})) {
        table.clear();
        return HttpResponse::empty(204);
    }
    if (r.method == "DELETE" && s.size() == 2) {
        int id = 0;
        try {
            id = std::stoi(s[1]);
        } catch (const std::exception&) {
            return adminError(400, "fault id must be a number");
        }
        return table.remove(id) ? HttpResponse::empty(204) : adminError(404, "no such fault");
    }
    return adminError(404, "no admin endpoint " + r.method + " " + r.path);
}

// What the udevadm stand-in calls: blocks until pending device events are applied or the
// timeout passes. ?timeout= in seconds (as udevadm takes it) or ?timeoutMs=.
HttpResponse AdminApi::settle(const HttpRequest& r) {
    long long ms = 120000;
    try {
        if (r.hasQuery("timeoutMs")) {
            ms = std::stoll(r.queryValue("timeoutMs"));
        } else if (r.hasQuery("timeout")) {
            ms = std::stoll(r.queryValue("timeout")) * 1000;
        }
    } catch (const std::exception&) {
        return adminError(400, "timeout must be a number");
    }
    bool settled = engine_.waitForDevices(std::chrono::milliseconds(ms < 0 ? 0 : ms));
    return HttpResponse::json(200, {{"settled", settled}});
}

// {"volume": id or creation token, "content": label}: stands in for the application writing.
HttpResponse AdminApi::volumeContent(const HttpRequest& r) {
    Json body = parseJson(r.body);
    if (!body.value("volume", Json()).is_string() || !body.value("content", Json()).is_string()) {
        return adminError(400, "needs \"volume\" and \"content\" strings");
    }
    if (!engine_.setVolumeContent(body["volume"], body["content"])) {
        return adminError(404, "no volume " + body["volume"].get<std::string>());
    }
    return HttpResponse::json(200, {{"volume", body["volume"]}, {"content", body["content"]}});
}

HttpResponse AdminApi::resource(const HttpRequest& r) {
    std::string id = r.queryValue("id");
    auto doc = engine_.resourceDocument(id);
    return doc ? HttpResponse::json(200, *doc) : adminError(404, "no resource " + id);
}

}  // namespace azemu
