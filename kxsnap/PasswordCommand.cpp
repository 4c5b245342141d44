// kxsnap encrypt-password: the enciphered text the settings accept for a proxy
// password ("httpProxyPassword"), so that the plain password is not typed into
// the settings file.
#include <iostream>
#include <iterator>
#include <sstream>

#include <nlohmann/json.hpp>
#include <termios.h>
#include <unistd.h>

#include "kxsnap/CommandSupport.h"
#include "kxsnap/Errors.h"
#include "platform/KXPassword.h"

namespace kxsnap {

namespace {

// Turns the terminal's echo off for as long as it lives.
class EchoOff {
public:
    EchoOff() {
        if (tcgetattr(STDIN_FILENO, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios saved_{};
    bool active_ = false;
};

std::string ReadFromTerminal() {
    std::string first;
    std::string second;
    {
        EchoOff quiet;
        std::cerr << "Password: " << std::flush;
        std::getline(std::cin, first);
        std::cerr << "\nAgain: " << std::flush;
        std::getline(std::cin, second);
        std::cerr << std::endl;
    }
    if (first != second)
        throw UsageError("the two passwords differ; nothing was printed");
    return first;
}

// A pipe or file: everything up to the end, without the final line break
// that `echo` and editors add.
std::string ReadFromInput() {
    std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    return text;
}

}  // namespace

int EncryptPasswordCommand(const GlobalOptions& options) {
    std::string plain = isatty(STDIN_FILENO) ? ReadFromTerminal() : ReadFromInput();
    if (plain.empty())
        throw UsageError("empty password; nothing was printed");
    std::string enciphered = KXPassword::encrypt(plain);
    std::fill(plain.begin(), plain.end(), '\0');
    if (options.json)
        std::cout << nlohmann::ordered_json{{"httpProxyPassword", enciphered}}.dump(2) << std::endl;
    else
        std::cout << enciphered << std::endl;
    return 0;
}

}  // namespace kxsnap
