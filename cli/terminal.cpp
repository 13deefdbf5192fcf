#include "cli/terminal.hpp"

#include "cli/verbs.hpp"
#include "util/log_line.hpp"

#include <cctype>
#include <iostream>
#include <unistd.h>

namespace tolvane::cli {

TerminalReporter::TerminalReporter(std::string label)
    : label_(std::move(label)), bar_(::isatty(STDERR_FILENO) == 1) {}

void TerminalReporter::log(const std::string& line) {
    clearBar();
    std::cout << printableLogLine(line) << '\n' << std::flush;
    drawBar();
}

void TerminalReporter::popupErrorMessage(const std::string& message,
                                         const std::optional<FileError>& error) {
    log(errorLogLine(message, error));
    clearBar();
    std::cerr << printableLogLine(message) << '\n';
    if (error)
        std::cerr << "  " << printableLogLine(error->localizedDescription()) << '\n';
    std::cerr << std::flush;
    drawBar();
}

void TerminalReporter::progressSetup(double maximum) {
    maximum_ = maximum;
    value_ = 0;
    running_ = true;
    drawBar();
}

void TerminalReporter::progressStep() {
    value_ += 1;
    drawBar();
}

void TerminalReporter::progressStop() {
    clearBar();
    running_ = false;
}

void TerminalReporter::drawBar() {
    if (!bar_ || !running_)
        return;
    constexpr int width = 40;
    const double share = maximum_ > 0 ? value_ / maximum_ : 1.0;
    const int filled = static_cast<int>(share * width);
    std::string text = "\r" + label_ + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(width - filled), ' ') + "] " +
                       std::to_string(static_cast<long long>(value_)) + "/" +
                       std::to_string(static_cast<long long>(maximum_));
    std::cerr << text << std::flush;
    shown_ = true;
}

void TerminalReporter::clearBar() {
    if (shown_) {
        std::cerr << "\r\033[K" << std::flush;
        shown_ = false;
    }
}

bool confirmed() {
    std::cerr << "Are you sure?\n"
              << "WARNING. You are about to overwrite files within your website.\n"
              << "Continue? [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    for (auto& c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "y" || answer == "yes";
}

std::optional<int> refusedWithoutConfirmation() {
    if (::isatty(STDIN_FILENO) != 1) {
        std::cerr << "Refusing to change the website without confirmation: there is no "
                     "terminal to ask on. Add --yes to confirm.\n";
        return exitUsage;
    }
    if (!confirmed()) {
        std::cerr << "Nothing was changed.\n";
        return exitOk;
    }
    return std::nullopt;
}

} // namespace tolvane::cli
