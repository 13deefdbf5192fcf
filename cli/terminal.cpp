#include "cli/terminal.hpp"

#include "cli/event_text.hpp"
#include "cli/verbs.hpp"
#include "util/log_line.hpp"

#include <algorithm>
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

void TerminalReporter::report(const Event& event) {
    if (event.kind == EventKind::finished) {
        clearBar();
        return;
    }
    for (const std::string& line : logLines(event))
        log(line);
    if (!isFailure(event.kind))
        return;
    clearBar();
    std::cerr << printableLogLine(failureMessage(event)) << '\n';
    if (event.failure)
        std::cerr << "  " << printableLogLine(explain(*event.failure)) << '\n';
    std::cerr << std::flush;
    drawBar();
}

void TerminalReporter::drawBar() {
    const Progress::Snapshot now = progress.snapshot();
    if (!bar_ || (now.phase != Phase::optimizing && now.phase != Phase::undoing))
        return;
    constexpr std::uint64_t width = 40;
    const std::uint64_t done = std::min(now.done, now.total);
    const std::uint64_t filled = now.total > 0 ? done * width / now.total : width;
    std::string text = "\r" + label_ + " [" + std::string(filled, '#') +
                       std::string(width - filled, ' ') + "] " + std::to_string(done) + "/" +
                       std::to_string(now.total);
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
