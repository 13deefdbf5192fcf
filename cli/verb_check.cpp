#include "cli/event_text.hpp"
#include "cli/scan_report.hpp"
#include "cli/verbs.hpp"
#include "refs/references.hpp"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace tolvane::cli {

namespace {

namespace fs = std::filesystem;

std::string siteRelative(const fs::path& path, const fs::path& root) {
    const fs::path rel = path.lexically_relative(root);
    return rel.empty() ? path.generic_string() : rel.generic_string();
}

void printCheck(std::ostream& out, const SiteCheck& check, const fs::path& root) {
    out << "Checked " << check.textFiles << " text files and " << check.imageFiles
        << " images: " << check.references << " references lead to a file.\n";

    auto broken = check.broken;
    std::sort(broken.begin(), broken.end(), [](const auto& a, const auto& b) {
        return a.file != b.file ? a.file < b.file : a.line < b.line;
    });
    if (broken.empty()) {
        out << "\nNo reference points at nothing.\n";
    } else {
        out << "\nReferences that point at nothing (" << broken.size() << "):\n";
        for (const auto& ref : broken)
            out << "  " << siteRelative(ref.file, root) << ":" << ref.line << ": " << ref.text
                << "  (no file " << siteRelative(ref.target, root) << ")\n";
    }

    auto unreferenced = check.unreferenced;
    std::sort(unreferenced.begin(), unreferenced.end());
    if (unreferenced.empty()) {
        out << "\nEvery image is referred to.\n";
    } else {
        out << "\nImages nothing refers to (" << unreferenced.size() << "):\n";
        for (const auto& image : unreferenced)
            out << "  " << siteRelative(image, root) << "\n";
    }

    auto unresolved = check.unresolved;
    std::sort(unresolved.begin(), unresolved.end(), [](const auto& a, const auto& b) {
        return a.file != b.file ? a.file < b.file : a.offset < b.offset;
    });
    if (!unresolved.empty()) {
        out << "\nImage references that could not be followed (" << unresolved.size() << "):\n";
        for (const auto& ref : unresolved)
            out << "  " << siteRelative(ref.file, root) << ":" << ref.line << ": " << ref.text
                << "  (" << urlProblemText(ref.problem, ref.detail) << ")\n";
    }
    if (!check.unreadable.empty()) {
        out << "\nFiles and folders that could not be read (" << check.unreadable.size() << "):\n";
        for (const auto& place : check.unreadable)
            out << "  " << siteRelative(place.path, root) << ": " << place.error.message() << "\n";
    }
}

} // namespace

void addCheckVerb(CLI::App& app, Verbs& verbs) {
    CLI::App* command = app.add_subcommand(
        "check", "List image references that point at nothing and images nothing refers to");
    command->footer("Only reads the site. Run it before optimizing to tell references that were "
                    "already broken from anything a run does.");
    auto site = std::make_shared<std::string>();
    command->add_option("SITE", *site, "Root folder of the website (it holds index.html)")
        ->required();
    verbs.emplace_back(command, [site] {
        if (!checkWebsiteFolder(*site, std::cerr))
            return exitUsage;
        const fs::path root = fs::absolute(*site).lexically_normal();
        const SiteCheck check = checkSite(root);
        printCheck(std::cout, check, root.filename().empty() ? root.parent_path() : root);
        std::cout.flush();
        // A reference that points at nothing is a fault of the site: status 1, so scripts can
        // test for it. Unreferenced images and references that cannot be followed are not.
        return std::cout && check.broken.empty() ? exitOk : exitFailure;
    });
}

} // namespace tolvane::cli
