#pragma once

#include "run/file_manager.hpp"
#include "run/run_journal.hpp"
#include "support/temp_dir.hpp"
#include "util/digest.hpp"

#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tolvane::test {

// What a run does to a site: the kept files it places in the images folder (each from a
// copy), the files it rewrites with their new texts, and the copies it removes.
struct RunPlan {
    struct Place {
        std::filesystem::path from;
        std::filesystem::path to;
    };
    struct Remove {
        std::filesystem::path copy;
        std::filesystem::path kept;
    };
    std::filesystem::path root;
    std::vector<Place> place;
    std::vector<std::pair<std::filesystem::path, std::string>> rewrite;
    std::vector<Remove> remove;
};

// Takes the plan's steps in the order a run takes them (images folder, placing, rewriting,
// removing), recording each phase in a journal before its first step, and stops after limit
// events (journal calls and file steps), as a crash there would. Returns the number of events
// taken. Throws when a step that should work fails.
inline std::size_t simulateRun(const RunPlan& plan, FileManager& files,
                               std::size_t limit = std::numeric_limits<std::size_t>::max()) {
    namespace fs = std::filesystem;
    std::size_t events = 0;
    auto check = [](const std::error_code& error, const char* what) {
        if (error)
            throw std::runtime_error(std::string(what) + ": " + error.message());
    };
    auto step = [](const FileResult& result) {
        if (result)
            throw std::runtime_error(result->code.message());
    };
    if (events == limit)
        return events;
    std::error_code error;
    std::optional<RunJournal> journal = RunJournal::start(plan.root, error);
    check(error, "start");
    if (++events == limit)
        return events;

    RunJournal::Summary summary;
    const fs::path images = plan.root / "images";
    if (!plan.place.empty() && !files.exists(images)) {
        check(journal->imagesFolderCreated(images), "images");
        if (++events == limit)
            return events;
        step(files.createDirectory(images));
        if (++events == limit)
            return events;
    }

    std::vector<RunJournal::Placed> placed;
    for (const auto& place : plan.place)
        placed.push_back({place.to, *files.md5(place.from), *files.fileSize(place.from)});
    check(journal->placing(placed), "placing");
    if (++events == limit)
        return events;
    for (const auto& place : plan.place) {
        step(files.linkOrCopy(place.from, place.to));
        if (++events == limit)
            return events;
    }

    std::vector<Bytes> oldTexts;
    std::vector<RunJournal::Rewrite> rewrites;
    for (const auto& [path, text] : plan.rewrite) {
        FileResult readError;
        oldTexts.push_back(*files.readFile(path, readError));
    }
    for (std::size_t i = 0; i < plan.rewrite.size(); ++i)
        rewrites.push_back(
            {plan.rewrite[i].first, ByteView(oldTexts[i]), md5(plan.rewrite[i].second)});
    check(journal->rewriting(rewrites), "rewriting");
    if (++events == limit)
        return events;
    for (const auto& [path, text] : plan.rewrite) {
        step(files.writeFile(path, asBytes(text)));
        ++summary.filesRewritten;
        if (++events == limit)
            return events;
    }

    std::vector<RunJournal::Removal> removals;
    for (const auto& remove : plan.remove)
        removals.push_back({remove.copy, remove.kept, *files.md5(remove.copy),
                            *files.fileSize(remove.copy), files.mode(remove.copy).value_or(0644)});
    check(journal->removing(removals), "removing");
    if (++events == limit)
        return events;
    for (const auto& removal : removals) {
        step(files.removeItem(removal.copy));
        ++summary.copiesRemoved;
        summary.bytesSaved += removal.size;
        if (++events == limit)
            return events;
    }

    check(journal->finished(summary), "finished");
    return ++events;
}

} // namespace tolvane::test
