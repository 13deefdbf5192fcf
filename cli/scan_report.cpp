#include "cli/scan_report.hpp"

#include "run/executor.hpp"
#include "util/log_line.hpp"
#include "util/text.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <future>
#include <iostream>
#include <iterator>
#include <unistd.h>

namespace tolvane::cli {

namespace {

// Control characters in a name would drive the terminal; show them as escapes.
std::string printable(std::string_view text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            shown += escape;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string humanBytes(std::uint64_t bytes) {
    static constexpr const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return std::to_string(bytes) + " bytes (" + text + ")";
}

void showProgress(const Progress& progress) {
    const Progress::Snapshot now = progress.snapshot();
    if (now.phase == Phase::walking)
        std::fprintf(stderr, "\r\033[KScanning: %llu entries",
                     static_cast<unsigned long long>(now.done));
    else if (now.phase == Phase::comparing)
        std::fprintf(stderr, "\r\033[KComparing: %llu of at most %llu MiB read",
                     static_cast<unsigned long long>(now.done >> 20),
                     static_cast<unsigned long long>(now.total >> 20));
    std::fflush(stderr);
}

} // namespace

bool checkWebsiteFolder(const std::filesystem::path& site, std::ostream& err) {
    std::error_code error;
    const auto status = std::filesystem::status(site, error);
    if (!std::filesystem::exists(status)) {
        err << "tolvane-cli: " << site.string() << ": no such folder\n";
        return false;
    }
    if (!std::filesystem::is_directory(status)) {
        err << "tolvane-cli: " << site.string() << ": not a folder\n";
        return false;
    }
    if (DIR* dir = ::opendir(site.c_str())) {
        ::closedir(dir);
    } else {
        err << "tolvane-cli: " << site.string() << ": cannot read the folder ("
            << std::strerror(errno) << ")\n";
        return false;
    }
    if (!isWebsiteFolder(site)) {
        err << "Not a website folder.\n"
            << "WARNING. That folder must contain index.html for it to be the root folder of "
               "the site.\n";
        return false;
    }
    return true;
}

namespace {

ScanResult scanWithBar(const std::filesystem::path& site) {
    if (!::isatty(STDERR_FILENO))
        return scanWebsite(site);
    Progress progress;
    auto scan = std::async(std::launch::async, [&] { return scanWebsite(site, &progress); });
    while (scan.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        showProgress(progress);
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    return scan.get();
}

} // namespace

ScanResult scanShowingProgress(const std::filesystem::path& site) {
    ScanResult result = scanWithBar(site);
    for (const auto& passed : result.unreadable)
        std::cerr << "Unable to read " << printableLogLine(passed.path.string()) << ": "
                  << passed.error.message() << '\n';
    return result;
}

std::string relativeToRoot(const std::filesystem::path& copy, const std::filesystem::path& root) {
    std::string prefix = root.generic_string();
    if (!prefix.empty() && prefix.back() != '/')
        prefix += '/';
    const std::string path = copy.generic_string();
    if (path.compare(0, prefix.size(), prefix) == 0)
        return path.substr(prefix.size());
    // One of them absolute (a kept file), the other as given on the command line.
    return std::filesystem::absolute(copy)
        .lexically_normal()
        .lexically_relative(std::filesystem::absolute(root).lexically_normal())
        .generic_string();
}

namespace {

// Why copy i of a group stays where it is, one line each ("FILE why"); for a group the run
// leaves alone, why that is when the copy has no reason of its own. Empty for a copy that goes,
// and for a kept file nothing holds in place.
std::vector<std::string> reasonsToStay(const GroupPlan& plan, std::size_t i,
                                       const std::filesystem::path& root) {
    std::vector<std::string> lines;
    for (const KeepReason& reason : plan.copies[i].reasons)
        lines.push_back(relativeToRoot(reason.file, root) + " " + reason.reason);
    if (lines.empty() && !plan.handled())
        lines.push_back(plan.nameTaken ? "images/ holds other images under its names"
                                       : "nothing would be saved: the other copies must stay");
    return lines;
}

} // namespace

void printScanSummary(std::ostream& out, const ScanResult& result, const SitePlan* plan) {
    if (result.duplicates.empty()) {
        out << "There are no images to optimize!\n"
            << "Your website contains no duplicate images that need optimizing.\n";
        return;
    }
    std::uint64_t removed = 0;
    std::uint64_t saved = 0;
    for (std::size_t g = 0; g < result.duplicates.size(); ++g) {
        const DuplicateGroup& group = result.duplicates[g];
        out << printable(group.name) << "  (" << group.size
            << (group.size == 1 ? " byte, " : " bytes, ") << group.copies.size() << " copies, md5 "
            << group.md5 << ")\n";
        const GroupPlan* groupPlan = plan ? &plan->groups[g] : nullptr;
        for (std::size_t i = 0; i < group.copies.size(); ++i) {
            const char* label = i == 0 ? "  keep    " : "  remove  ";
            if (groupPlan) {
                const CopyPlan& copy = groupPlan->copies[i];
                label = !groupPlan->handled()                ? "  stays   "
                        : copy.fate == CopyPlan::Fate::kept  ? "  keep    "
                        : copy.fate == CopyPlan::Fate::stays ? "  stays   "
                        : groupPlan->movesCopy(i)            ? "  move    "
                                                             : "  remove  ";
            }
            out << label << printable(relativeToRoot(group.copies[i], result.root)) << '\n';
            if (!groupPlan)
                continue;
            for (const std::string& reason : reasonsToStay(*groupPlan, i, result.root))
                out << "          " << printable(reason) << '\n';
        }
        if (groupPlan) {
            if (groupPlan->placeFrom && groupPlan->handled())
                out << "  kept as " << printable(relativeToRoot(groupPlan->kept, result.root))
                    << '\n';
            else if (groupPlan->nameTaken)
                out << "  left alone: images/ holds other images under its names\n";
            const std::size_t referring = groupPlan->references;
            out << "  " << referring << (referring == 1 ? " reference points" : " references point")
                << " at its copies\n";
            removed += groupPlan->copiesSaved();
            saved += groupPlan->saving(group.size);
        } else {
            removed += group.copies.size() - 1;
            saved += (group.copies.size() - 1) * group.size;
        }
        out << '\n';
    }
    out << "Groups: " << result.duplicates.size() << '\n'
        << "Copies to remove: " << removed << '\n'
        << "Bytes to save: " << humanBytes(saved) << '\n';
}

std::string jsonString(std::string_view text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = utf8SequenceLength(text, i);
        char escape[8];
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\udc%02x", byte);
            json += escape;
            ++i;
            continue;
        }
        if (byte == '"') {
            json += "\\\"";
        } else if (byte == '\\') {
            json += "\\\\";
        } else if (byte == '\n') {
            json += "\\n";
        } else if (byte == '\t') {
            json += "\\t";
        } else if (byte == '\r') {
            json += "\\r";
        } else if (byte < 0x20 || byte == 0x7f) {
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            json += escape;
        } else {
            json.append(text.substr(i, length));
        }
        i += length;
    }
    return json + "\"";
}

void printScanJson(std::ostream& out, const ScanResult& result, const SitePlan* plan) {
    std::string root = std::filesystem::absolute(result.root).lexically_normal().string();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    const auto path = [&](const std::filesystem::path& p) {
        return jsonString(relativeToRoot(p, result.root));
    };
    out << "{\"root\": " << jsonString(root) << ", \"groups\": [";
    for (std::size_t g = 0; g < result.duplicates.size(); ++g) {
        const DuplicateGroup& group = result.duplicates[g];
        out << (g ? ", " : "") << "{\"name\": " << jsonString(group.name)
            << ", \"md5\": " << jsonString(group.md5) << ", \"size\": " << group.size
            << ", \"copies\": [";
        for (std::size_t i = 0; i < group.copies.size(); ++i)
            out << (i ? ", " : "") << path(group.copies[i]);
        out << "]";
        if (plan) {
            const GroupPlan& p = plan->groups[g];
            // Paths below the root; the kept file absent where the group is left as it is.
            // Paths below the root. keep: where the bytes are after the run; move: the copy
            // that gives that new name its bytes; remove: every other copy the run deletes;
            // stays: every copy left where it is, with why.
            out << ", \"keep\": " << (p.handled() ? path(p.kept) : std::string("null"))
                << ", \"move\": "
                << (p.handled() && p.placeFrom ? path(group.copies[p.placeIndex])
                                               : std::string("null"))
                << ", \"remove\": [";
            bool first = true;
            for (std::size_t i = 0; i < group.copies.size(); ++i) {
                if (!p.handled() || p.copies[i].fate != CopyPlan::Fate::removed || p.movesCopy(i))
                    continue;
                out << (first ? "" : ", ") << path(group.copies[i]);
                first = false;
            }
            out << "], \"stays\": [";
            first = true;
            for (std::size_t i = 0; i < group.copies.size(); ++i) {
                if (p.handled() && p.copies[i].fate == CopyPlan::Fate::removed)
                    continue;
                out << (first ? "" : ", ") << "{\"path\": " << path(group.copies[i])
                    << ", \"reasons\": [";
                const std::vector<std::string> reasons = reasonsToStay(p, i, result.root);
                for (std::size_t r = 0; r < reasons.size(); ++r)
                    out << (r ? ", " : "") << jsonString(reasons[r]);
                out << "]}";
                first = false;
            }
            out << "], \"references\": " << p.references;
        }
        out << "}";
    }
    out << "]}\n";
}

namespace {

// Plans a run of the scanned site as the run itself would, and hands the plan to use.
template <class Use>
void withPlan(const ScanResult& result, const PlanChoices& choices, const Use& use) {
    const ReferenceIndex references = ReferenceIndex::build(
        result.root, everyCopy(result.duplicates), nullptr, nullptr, result.listing.get());
    DiskTextFileAccess disk;
    WritabilityOnce access(disk);
    RealFileManager files;
    use(planSite(result.root, result.duplicates, references, access, files, choices), files);
}

} // namespace

void printScanWithPlan(std::ostream& out, const ScanResult& result, bool json,
                       const PlanChoices& choices) {
    withPlan(result, choices, [&](const SitePlan& plan, FileManager&) {
        if (json)
            printScanJson(out, result, &plan);
        else
            printScanSummary(out, result, &plan);
    });
}

void printDryRun(std::ostream& out, const ScanResult& result, const PlanChoices& choices) {
    withPlan(result, choices, [&](const SitePlan& plan, FileManager& files) {
        const auto shown = [&](const std::filesystem::path& path) {
            return printable(relativeToRoot(path, result.root));
        };
        std::uint64_t removed = 0;
        for (const GroupPlan& group : plan.groups)
            removed += group.copiesSaved();
        using Kind = Action::Kind;
        for (const Action& action :
             plannedActions(plan, result.duplicates, files.exists(plan.imagesFolder))) {
            const ActionPaths paths = actionPaths(action, plan, result.duplicates);
            switch (action.kind) {
            case Kind::createFolder:
                out << "Would create folder " << shown(paths.path) << '\n';
                break;
            case Kind::place:
                out << "Would place " << shown(paths.path) << ", the bytes of " << shown(paths.from)
                    << '\n';
                break;
            case Kind::rewrite:
                out << "Would rewrite " << shown(paths.path) << " ("
                    << counted(paths.references, "reference", "references") << ")\n";
                break;
            case Kind::remove:
                out << "Would remove " << shown(paths.path) << '\n';
                break;
            default: // a run's plan holds none of undo's actions
                break;
            }
        }
        out << "Dry run: nothing was changed. The run would remove "
            << counted(removed, "copy", "copies") << ", save "
            << counted(plan.bytesSaved, "byte", "bytes") << " and rewrite "
            << counted(plan.files.size(), "file", "files") << ".\n";
    });
}

std::string counted(std::uint64_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

} // namespace tolvane::cli
