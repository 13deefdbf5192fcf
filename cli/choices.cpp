#include "cli/choices.hpp"

#include <algorithm>
#include <set>

namespace tolvane::cli {

namespace fs = std::filesystem;

namespace {

fs::path normal(const fs::path& path) {
    return fs::absolute(path).lexically_normal();
}

} // namespace

void addChoiceOptions(CLI::App& command, ChoiceOptions& options) {
    command.add_option("--only", options.only, "Take only the groups of these image names");
    command.add_option("--skip", options.skip, "Leave the groups of these image names alone");
    command.add_option("--keep", options.keep,
                       "Keep these copies where they are; the other copies of their groups "
                       "lead to them");
    command.add_option("--leave", options.leave,
                       "Leave these copies where they are, with the references to them");
}

std::optional<PlanChoices> applyChoices(const ChoiceOptions& options, ScanResult& scan,
                                        std::ostream& err) {
    std::set<std::string> names;
    for (const DuplicateGroup& group : scan.duplicates)
        names.insert(group.name);
    // The copies named, found in one pass over the scan's: a set of every copy would hold the
    // paths of the whole site at once.
    std::set<fs::path> named, copies;
    for (const auto* list : {&options.keep, &options.leave}) {
        for (const std::string& path : *list)
            named.insert(normal(path));
    }
    for (std::size_t g = 0; g < scan.duplicates.size() && !named.empty(); ++g) {
        const PathList& paths = scan.duplicates[g].copies;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (fs::path copy = normal(paths.native(i)); named.count(copy))
                copies.insert(std::move(copy));
        }
    }
    bool ok = true;
    for (const auto* list : {&options.only, &options.skip}) {
        for (const std::string& name : *list) {
            if (!names.count(name)) {
                err << "tolvane-cli: " << name << ": no duplicate image has that name\n";
                ok = false;
            }
        }
    }
    PlanChoices choices;
    for (const auto& [list, chosen] :
         {std::pair{&options.keep, &choices.keep}, std::pair{&options.leave, &choices.leave}}) {
        for (const std::string& path : *list) {
            if (!copies.count(normal(path))) {
                err << "tolvane-cli: " << path << ": not a copy of a duplicate image\n";
                ok = false;
            }
            chosen->insert(normal(path));
        }
    }
    if (!ok)
        return std::nullopt;
    const std::set<std::string> only(options.only.begin(), options.only.end());
    const std::set<std::string> skip(options.skip.begin(), options.skip.end());
    std::erase_if(scan.duplicates, [&](const DuplicateGroup& group) {
        return (!only.empty() && !only.count(group.name)) || skip.count(group.name);
    });
    return choices;
}

} // namespace tolvane::cli
