// Stand-in for `udevadm` in tests: `udevadm settle [--timeout=N]` waits until the emulator
// named by KXSO_EMULATOR_ADMIN has no device event pending, as the real one waits for the
// kernel's and udev's queue. Exit status as udevadm's: 0 settled, 1 timed out. Other commands
// do nothing and succeed.
//
// The plug-in runs this for every device wait, thousands of times in a test run: it speaks the
// one HTTP request it needs over a plain socket and links no library beyond the language's
// runtime, so that a start costs a fraction of what loading an HTTP library with its TLS and
// compression libraries costs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

long timeoutFromArgs(int argc, char** argv) {
    long timeout = 120;  // udevadm's default
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        if (arg.rfind("--timeout=", 0) == 0) {
            value = arg.substr(10);
        } else if ((arg == "--timeout" || arg == "-t") && i + 1 < argc) {
            value = argv[++i];
        } else if (arg.rfind("-t", 0) == 0 && arg.size() > 2) {
            value = arg.substr(2);
        }
        if (!value.empty())
            timeout = std::strtol(value.c_str(), nullptr, 10);
    }
    return timeout < 0 ? 0 : timeout;
}

// "http://127.0.0.1:PORT" (the emulator's admin endpoint is always IPv4 loopback).
bool parseAdmin(const std::string& admin, sockaddr_in& address) {
    const std::string scheme = "http://";
    if (admin.rfind(scheme, 0) != 0)
        return false;
    const std::string hostPort = admin.substr(scheme.size());
    const size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos)
        return false;
    const std::string host = hostPort.substr(0, colon);
    const long port = std::strtol(hostPort.c_str() + colon + 1, nullptr, 10);
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    return port > 0 && port < 65536 && inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1;
}

bool sendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// The whole answer to one POST, the connection closed by the server after it; "" on failure.
std::string post(const sockaddr_in& address, const std::string& target, long readTimeoutSec) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return "";
    timeval timeout{readTimeoutSec, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    std::string answer;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        sendAll(fd, "POST " + target +
                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                        "Content-Length: 0\r\nConnection: close\r\n\r\n")) {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = recv(fd, buffer, sizeof(buffer), 0)) > 0) {
            answer.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fd);
    return answer;
}

int settle(long timeoutSec) {
    const char* admin = std::getenv("KXSO_EMULATOR_ADMIN");
    if (!admin || !*admin)
        return 0;  // no emulator: nothing is pending
    sockaddr_in address;
    const std::string answer =
        parseAdmin(admin, address)
            ? post(address, "/_emulator/devices/settle?timeout=" + std::to_string(timeoutSec),
                   timeoutSec + 10)
            : "";
    const bool ok = answer.rfind("HTTP/1.1 200 ", 0) == 0 || answer.rfind("HTTP/1.0 200 ", 0) == 0;
    if (!ok) {
        std::fprintf(stderr, "udevadm (emulator stand-in): cannot reach %s\n", admin);
        return 2;
    }
    const size_t body = answer.find("\r\n\r\n");
    return answer.find("\"settled\":true", body) != std::string::npos ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "--version") {
        std::puts("emulated");
        return 0;
    }
    if (command == "settle")
        return settle(timeoutFromArgs(argc, argv));
    return 0;
}
