#include "run/undo.hpp"

#include "run/executor.hpp"
#include "site/site_names.hpp"
#include "util/file_io.hpp"

#include <algorithm>
#include <ctime>
#include <map>
#include <optional>

namespace tolvane {

namespace fs = std::filesystem;

UndoPlan undoActions(const RunRecords& records, const fs::path& root) {
    using Kind = Action::Kind;
    UndoPlan plan;
    // Temporary files a killed run or undo left: only the writer's own names, only plain files,
    // never below a link.
    std::error_code error;
    for (fs::recursive_directory_iterator
             entry(root, fs::directory_options::skip_permission_denied, error),
         end;
         !error && entry != end; entry.increment(error)) {
        std::error_code typeError;
        if (isWriterTemporaryName(entry->path().filename().string()) &&
            entry->symlink_status(typeError).type() == fs::file_type::regular)
            plan.leftovers.push_back(entry->path());
    }
    std::sort(plan.leftovers.begin(), plan.leftovers.end());
    for (std::size_t i = 0; i < plan.leftovers.size(); ++i)
        plan.actions.push_back({Kind::removeLeftover, 0, static_cast<std::uint32_t>(i)});
    for (std::size_t i = 0; i < records.removals.size(); ++i)
        plan.actions.push_back({Kind::restoreCopy, 0, static_cast<std::uint32_t>(i)});
    // Each file once, with its records in the order made (a file rewritten twice goes back
    // through both).
    std::map<fs::path, std::size_t> byPath;
    for (std::size_t i = 0; i < records.rewrites.size(); ++i) {
        const fs::path& path = records.rewrites[i].path;
        const auto [found, added] = byPath.emplace(path, plan.texts.size());
        if (added) {
            plan.texts.push_back({path, {}});
            plan.actions.push_back(
                {Kind::restoreText, 0, static_cast<std::uint32_t>(found->second)});
        }
        plan.texts[found->second].records.push_back(i);
        // A script or style sheet: its base may come from a page.
        plan.beyondPages =
            plan.beyondPages || textKindOf(path.filename().string()) != TextKind::page;
    }
    for (std::size_t i = 0; i < records.placed.size(); ++i)
        plan.actions.push_back({Kind::removeAdded, 0, static_cast<std::uint32_t>(i)});
    if (records.imagesFolder)
        plan.actions.push_back({Kind::removeFolder, 0, 0});
    return plan;
}

UndoOutcome undoRun(const RecordedRun& run, FileManager& files, RunReporter& reporter,
                    Progress* progress) {
    Progress ownProgress;
    Progress& shown = progress ? *progress : ownProgress;
    UndoOutcome outcome;
    const auto say = [&](EventKind kind) {
        reporter.report({kind, {}, std::nullopt, std::nullopt, {}});
    };
    const auto sheet = [&](EventKind kind, const FileError& error) {
        ++outcome.errorSheets;
        reporter.report({kind, {}, error, std::nullopt, {}});
    };
    reporter.report(
        {EventKind::undoStarted, {}, std::nullopt, std::nullopt, localTimeText(run.time)});
    std::error_code error;
    std::optional<RunRecords> records = readRunRecords(run, error);
    if (!records) {
        sheet(EventKind::recordUnreadable,
              FileError{FileError::Operation::read, {run.folder / "records"}, error});
        ++outcome.left;
        return outcome;
    }
    if (records->damaged) {
        // A record may be missing: put back what is known, but take nothing away.
        sheet(EventKind::recordIncomplete, FileError{FileError::Operation::read,
                                                     {run.folder / "records"},
                                                     make_error_code(RunErrc::recordDamaged)});
        ++outcome.left;
    }
    std::optional<RunJournal> journal = RunJournal::reopen(run.folder, error);
    if (!journal) {
        // Without a record of its own steps, an undo killed on the way would be forgotten.
        sheet(EventKind::recordUnreadable,
              FileError{FileError::Operation::write, {run.folder / "records"}, error});
        ++outcome.left;
        return outcome;
    }
    shown.start(Phase::undoing,
                records->removals.size() + records->rewrites.size() + records->placed.size());
    const UndoPlan plan = undoActions(*records, run.root.lexically_normal());
    execute({run, *records, plan, files, &*journal, reporter, shown, outcome});
    shown.finish();
    say(EventKind::finished);

    if (const std::error_code markError = markUndone(run, outcome.left == 0, outcome.left))
        sheet(EventKind::undoNotRecorded,
              FileError{FileError::Operation::write, {run.folder / "records"}, markError});
    else
        outcome.recorded = true;
    outcome.complete = outcome.left == 0 && outcome.recorded;
    say(EventKind::completed);
    return outcome;
}

std::string localTimeText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    ::localtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

} // namespace tolvane
