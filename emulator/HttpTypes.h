// Transport-neutral request and response, so that only the listener sees the HTTP library.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace azemu {

using Json = nlohmann::json;

// The emulator serves two sockets: Resource Manager over TLS and instance metadata over HTTP.
enum class Listener { Arm, Imds };
const char* listenerName(Listener l);

// Header names are case-insensitive; values keep their case.
using HeaderList = std::vector<std::pair<std::string, std::string>>;
std::string findHeader(const HeaderList& headers, const std::string& name);
bool hasHeader(const HeaderList& headers, const std::string& name);

struct HttpRequest {
    Listener listener = Listener::Arm;
    std::string method;
    std::string path;    // decoded path, without the query
    std::string target;  // as sent: path and query
    std::multimap<std::string, std::string> query;
    HeaderList headers;
    std::string body;

    std::string header(const std::string& name) const { return findHeader(headers, name); }
    // ARM treats query parameter names case-insensitively ("API-Version" works).
    bool hasQuery(const std::string& name) const;
    std::string queryValue(const std::string& name) const;
};

// What the listener does with the connection besides writing the response.
enum class Transport {
    Respond,   // normal response
    Drop,      // close the connection without writing anything
    Truncate,  // announce the full length, send half of the body, close
};

struct HttpResponse {
    int status = 200;
    HeaderList headers;
    std::string body;
    std::string contentType = "application/json; charset=utf-8";
    Transport transport = Transport::Respond;

    void setHeader(const std::string& name, const std::string& value);
    void removeHeader(const std::string& name);
    std::string header(const std::string& name) const { return findHeader(headers, name); }

    static HttpResponse json(int status, const Json& body);
    static HttpResponse empty(int status);
};

}  // namespace azemu
