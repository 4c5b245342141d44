// One listening socket on 127.0.0.1, plain HTTP or TLS. The only place that knows the HTTP
// library; the rest of the emulator sees HttpRequest and HttpResponse.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "Certificate.h"
#include "HttpTypes.h"

namespace azemu {

class HttpListener {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // With `tls`, serves HTTPS with that identity; without, plain HTTP.
    HttpListener(Listener kind, Handler handler, const TlsIdentity* tls);
    ~HttpListener();
    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    // Binds an ephemeral port on 127.0.0.1 and serves on a background thread. Returns the port;
    // throws std::runtime_error when it cannot bind.
    int start();
    // Stops accepting, closes open connections, waits for handlers in progress.
    void stop();
    uint64_t connectionsAccepted() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace azemu
