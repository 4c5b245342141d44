#include "EmulatorTypes.h"

#include <stdexcept>

#include "Util.h"

namespace azemu {

namespace {

void requireKnownMembers(const Json& j, std::initializer_list<const char*> known,
                         const char* what) {
    if (!j.is_object())
        throw std::invalid_argument(std::string(what) + " must be an object");
    for (const auto& item : j.items()) {
        bool ok = false;
        for (const char* k : known)
            ok = ok || item.key() == k;
        if (!ok) {
            throw std::invalid_argument(std::string(what) + ": unknown member '" + item.key() +
                                        "'");
        }
    }
}

template <typename T>
void readInto(const Json& j, const char* key, T& out) {
    if (!j.contains(key))
        return;
    try {
        out = j.at(key).get<T>();
    } catch (const Json::exception&) {
        throw std::invalid_argument(std::string("member '") + key + "' has the wrong type");
    }
}

template <>
void readInto<int>(const Json& j, const char* key, int& out) {
    if (!j.contains(key))
        return;
    if (!j.at(key).is_number_integer()) {
        throw std::invalid_argument(std::string("member '") + key + "' must be an integer");
    }
    out = j.at(key).get<int>();
}

const std::pair<FaultAction, const char*> kActionNames[] = {
    {FaultAction::Error, "error"},
    {FaultAction::Delay, "delay"},
    {FaultAction::Drop, "drop"},
    {FaultAction::Truncate, "truncate"},
    {FaultAction::NonJson, "nonJson"},
    {FaultAction::NoAsyncHeader, "noAsyncHeader"},
    {FaultAction::AsyncFail, "asyncFail"},
    {FaultAction::AsyncCancel, "asyncCancel"},
    {FaultAction::AsyncNeverEnd, "asyncNeverEnd"},
    {FaultAction::EmptyBody, "emptyBody"},
    {FaultAction::WrongTypes, "wrongTypes"},
};

FaultAction faultActionFromName(const std::string& name) {
    for (const auto& [action, text] : kActionNames) {
        if (iequals(name, text))
            return action;
    }
    throw std::invalid_argument("unknown fault action '" + name + "'");
}

}  // namespace

Json Settings::toJson() const {
    return {{"provisioningDelayMs", provisioningDelayMs},
            {"asyncOperationDelayMs", asyncOperationDelayMs},
            {"deviceDelayMs", deviceDelayMs},
            {"deleteDelayMs", deleteDelayMs},
            {"deleteMissingStatus", deleteMissingStatus},
            {"tokenLifetimeSec", tokenLifetimeSec},
            {"incrementalSnapshots", incrementalSnapshots},
            {"listPageSize", listPageSize},
            {"requestLatencyMs", requestLatencyMs}};
}

Settings Settings::fromJson(const Json& j, const Settings& base) {
    requireKnownMembers(
        j,
        {"provisioningDelayMs", "asyncOperationDelayMs", "deviceDelayMs", "deleteDelayMs",
         "deleteMissingStatus", "tokenLifetimeSec", "incrementalSnapshots", "listPageSize",
         "requestLatencyMs"},
        "settings");
    Settings s = base;
    readInto(j, "provisioningDelayMs", s.provisioningDelayMs);
    readInto(j, "asyncOperationDelayMs", s.asyncOperationDelayMs);
    readInto(j, "deviceDelayMs", s.deviceDelayMs);
    readInto(j, "deleteDelayMs", s.deleteDelayMs);
    readInto(j, "deleteMissingStatus", s.deleteMissingStatus);
    readInto(j, "tokenLifetimeSec", s.tokenLifetimeSec);
    readInto(j, "incrementalSnapshots", s.incrementalSnapshots);
    readInto(j, "listPageSize", s.listPageSize);
    readInto(j, "requestLatencyMs", s.requestLatencyMs);
    if (s.provisioningDelayMs < 0 || s.asyncOperationDelayMs < 0 || s.deviceDelayMs < 0 ||
        s.deleteDelayMs < 0 || s.listPageSize < 0 || s.requestLatencyMs < 0) {
        throw std::invalid_argument("delays and the page size must not be negative");
    }
    if (s.deleteMissingStatus != 204 && s.deleteMissingStatus != 404) {
        throw std::invalid_argument("deleteMissingStatus must be 204 or 404");
    }
    if (s.tokenLifetimeSec <= 0)
        throw std::invalid_argument("tokenLifetimeSec must be positive");
    return s;
}

Settings Settings::fromJson(const Json& j) {
    return fromJson(j, Settings{});
}

const char* faultActionName(FaultAction a) {
    for (const auto& [action, text] : kActionNames) {
        if (action == a)
            return text;
    }
    return "error";
}

Json FaultSpec::toJson() const {
    return {{"method", method},
            {"path", path},
            {"times", times},
            {"skip", skip},
            {"action", faultActionName(action)},
            {"status", status},
            {"code", code},
            {"message", message},
            {"delayMs", delayMs},
            {"afterProcessing", afterProcessing},
            {"retryAfterMs", retryAfterMs}};
}

FaultSpec FaultSpec::fromJson(const Json& j) {
    requireKnownMembers(j,
                        {"method", "path", "times", "skip", "action", "status", "code", "message",
                         "delayMs", "afterProcessing", "retryAfterMs"},
                        "fault");
    FaultSpec f;
    readInto(j, "method", f.method);
    readInto(j, "path", f.path);
    readInto(j, "times", f.times);
    readInto(j, "skip", f.skip);
    std::string action = faultActionName(f.action);
    readInto(j, "action", action);
    f.action = faultActionFromName(action);
    readInto(j, "status", f.status);
    readInto(j, "code", f.code);
    readInto(j, "message", f.message);
    readInto(j, "delayMs", f.delayMs);
    readInto(j, "afterProcessing", f.afterProcessing);
    readInto(j, "retryAfterMs", f.retryAfterMs);
    if (f.times == 0 || f.times < -1)
        throw std::invalid_argument("times must be positive or -1");
    if (f.skip < 0 || f.delayMs < 0)
        throw std::invalid_argument("skip/delayMs must be >= 0");
    if (f.status < 100 || f.status > 599)
        throw std::invalid_argument("status must be 100..599");
    return f;
}

Json FaultInfo::toJson() const {
    Json j = spec.toJson();
    j["id"] = id;
    j["matched"] = matched;
    j["fired"] = fired;
    j["remaining"] = spec.times < 0 ? -1 : spec.times - fired;
    return j;
}

Json RequestRecord::toJson() const {
    Json h = Json::object();
    for (const auto& [name, value] : headers)
        h[name] = value;
    return {{"seq", seq},       {"timeMs", timeMs},  {"listener", listener}, {"method", method},
            {"url", url},       {"path", path},      {"headers", h},         {"body", body},
            {"status", status}, {"faultId", faultId}};
}

}  // namespace azemu
