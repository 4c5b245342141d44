// Stand-in for `udevadm` in tests: `udevadm settle [--timeout=N]` waits until the emulator
// named by KXSO_EMULATOR_ADMIN has no device event pending, as the real one waits for the
// kernel's and udev's queue. Exit status as udevadm's: 0 settled, 1 timed out. Other commands
// do nothing and succeed.
#include <httplib.h>

#include <cstdlib>
#include <iostream>
#include <string>

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
        if (!value.empty()) timeout = std::strtol(value.c_str(), nullptr, 10);
    }
    return timeout < 0 ? 0 : timeout;
}

int settle(long timeoutSec) {
    const char* admin = std::getenv("KXSO_EMULATOR_ADMIN");
    if (!admin || !*admin) return 0;  // no emulator: nothing is pending
    httplib::Client client(admin);
    client.set_read_timeout(timeoutSec + 10, 0);
    auto res = client.Post("/_emulator/devices/settle?timeout=" + std::to_string(timeoutSec), "",
                           "application/json");
    if (!res || res->status != 200) {
        std::cerr << "udevadm (emulator stand-in): cannot reach " << admin << "\n";
        return 2;
    }
    return res->body.find("\"settled\":true") != std::string::npos ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "--version") {
        std::cout << "emulated\n";
        return 0;
    }
    if (command == "settle") return settle(timeoutFromArgs(argc, argv));
    return 0;
}
