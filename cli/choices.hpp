#pragma once

#include "run/site_plan.hpp"
#include "scan/scan.hpp"

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tolvane::cli {

// What the user chose on the command line: which groups a run takes, by image name, and which
// copies it keeps or leaves where they are.
struct ChoiceOptions {
    std::vector<std::string> only;
    std::vector<std::string> skip;
    std::vector<std::string> keep;
    std::vector<std::string> leave;
};

// --only, --skip, --keep and --leave on command.
void addChoiceOptions(CLI::App& command, ChoiceOptions& options);

// Drops the groups that were not chosen from scan and gives the copies to keep or leave as the
// plan wants them. Absent, after saying why on err, when a name or a path matches no group or
// copy (a typo must not turn into a run of everything).
std::optional<PlanChoices> applyChoices(const ChoiceOptions& options, ScanResult& scan,
                                        std::ostream& err);

} // namespace tolvane::cli
