#include "cli/passphrase.hpp"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace tolvane::cli {

namespace {

// Reads one line from the terminal with echo off; restores the terminal whatever happens.
std::optional<std::string> askHidden(int tty, const char* prompt) {
    if (::write(tty, prompt, std::char_traits<char>::length(prompt)) < 0)
        return std::nullopt;
    termios saved{};
    const bool haveTermios = ::tcgetattr(tty, &saved) == 0;
    if (haveTermios) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    std::string line;
    bool complete = false;
    char c = 0;
    while (::read(tty, &c, 1) == 1) {
        if (c == '\n') {
            complete = true;
            break;
        }
        line += c;
    }
    if (haveTermios)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    if (!complete)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

std::optional<std::string> readPassphrase(bool confirm) {
    if (const char* fromEnvironment = std::getenv("TOLVANE_PASSPHRASE"))
        return std::string(fromEnvironment);
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0)
        return std::nullopt;
    std::optional<std::string> passphrase = askHidden(tty, "Passphrase: ");
    if (passphrase && confirm) {
        const std::optional<std::string> again = askHidden(tty, "Passphrase again: ");
        if (!again || *again != *passphrase) {
            static constexpr char mismatch[] = "The two passphrases differ.\n";
            (void)!::write(tty, mismatch, sizeof mismatch - 1);
            passphrase.reset();
        }
    }
    ::close(tty);
    return passphrase;
}

} // namespace tolvane::cli
