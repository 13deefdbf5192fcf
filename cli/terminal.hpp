#pragma once

#include "run/reporter.hpp"
#include "util/progress.hpp"

#include <optional>
#include <string>

namespace tolvane::cli {

// Log lines on stdout as the work reports; failures also on stderr; a progress bar on stderr,
// named by label, when stderr is a terminal. The bar shows progress (hand it to the work) as it
// stands at each line.
class TerminalReporter : public RunReporter {
  public:
    explicit TerminalReporter(std::string label = "Optimizing");

    void report(const Event& event) override;

    Progress progress;

  private:
    void log(const std::string& line);
    void drawBar();
    void clearBar();

    std::string label_;
    bool bar_;
    bool shown_ = false;
};

// Asks "Are you sure?" on the terminal; only "y" or "yes" (any case) confirms.
bool confirmed();

// Before a change to the website: nothing when the user confirmed it on the terminal, else the
// exit status, with why on stderr (no terminal to ask on, or the answer was no).
std::optional<int> refusedWithoutConfirmation();

} // namespace tolvane::cli
