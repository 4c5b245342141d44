#include "HttpTypes.h"

#include <algorithm>

#include "Util.h"

namespace azemu {

const char* listenerName(Listener l) { return l == Listener::Arm ? "https" : "http"; }

std::string findHeader(const HeaderList& headers, const std::string& name) {
    for (const auto& [key, value] : headers) {
        if (iequals(key, name)) return value;
    }
    return "";
}

bool hasHeader(const HeaderList& headers, const std::string& name) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return iequals(h.first, name); });
}

bool HttpRequest::hasQuery(const std::string& name) const {
    return std::any_of(query.begin(), query.end(),
                       [&](const auto& q) { return iequals(q.first, name); });
}

std::string HttpRequest::queryValue(const std::string& name) const {
    for (const auto& [key, value] : query) {
        if (iequals(key, name)) return value;
    }
    return "";
}

void HttpResponse::setHeader(const std::string& name, const std::string& value) {
    removeHeader(name);
    headers.emplace_back(name, value);
}

void HttpResponse::removeHeader(const std::string& name) {
    headers.erase(std::remove_if(headers.begin(), headers.end(),
                                 [&](const auto& h) { return iequals(h.first, name); }),
                  headers.end());
}

HttpResponse HttpResponse::json(int status, const Json& body) {
    HttpResponse r;
    r.status = status;
    r.body = body.dump();
    return r;
}

HttpResponse HttpResponse::empty(int status) {
    HttpResponse r;
    r.status = status;
    r.contentType.clear();
    return r;
}

}  // namespace azemu
