#include "cli/choices.hpp"
#include "cli/scan_report.hpp"
#include "cli/verbs.hpp"

#include <iostream>
#include <memory>
#include <string>

namespace tolvane::cli {

void addScanVerbs(CLI::App& app, Verbs& verbs) {
    CLI::App* command =
        app.add_subcommand("scan", "List the images of a website that occur more than once");
    command->footer("Only reads the site. A run keeps the bytes of the copy marked \"keep\" (in "
                    "images/, unless a copy must stay where it is), removes those marked "
                    "\"remove\" and rewrites what refers to them.");
    auto site = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    command->add_option("SITE", *site, "Root folder of the website (it holds index.html)")
        ->required();
    command->add_flag(
        "--json", *json,
        "Print the groups as JSON: root, and per group name, md5, size, copies and the "
        "run's plan (keep, remove, stays, references)");
    auto chosen = std::make_shared<ChoiceOptions>();
    addChoiceOptions(*command, *chosen);
    verbs.emplace_back(command, [=] {
        if (!checkWebsiteFolder(*site, std::cerr))
            return exitUsage;
        ScanResult result = scanShowingProgress(*site);
        const std::optional<PlanChoices> choices = applyChoices(*chosen, result, std::cerr);
        if (!choices)
            return exitUsage;
        printScanWithPlan(std::cout, result, *json, *choices);
        std::cout.flush();
        return std::cout ? exitOk : exitFailure;
    });
}

} // namespace tolvane::cli
