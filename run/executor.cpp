#include "run/executor.hpp"

#include "refs/references.hpp"
#include "run/run.hpp"
#include "run/run_journal.hpp"
#include "run/undo.hpp"
#include "site/site_names.hpp"
#include "util/digest.hpp"
#include "util/file_io.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace tolvane {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Op = FileError::Operation;

std::vector<Action> plannedActions(const SitePlan& plan,
                                   const std::vector<DuplicateGroup>& duplicates,
                                   bool imagesFolderExists) {
    using Kind = Action::Kind;
    std::vector<Action> actions;
    if (!imagesFolderExists)
        actions.push_back({Kind::createFolder, 0, 0});
    for (std::size_t g = 0; g < plan.groups.size(); ++g)
        if (plan.groups[g].handled() && plan.groups[g].placeFrom)
            actions.push_back({Kind::place, static_cast<std::uint32_t>(g), 0});
    for (std::size_t f = 0; f < plan.files.size(); ++f)
        actions.push_back({Kind::rewrite, 0, static_cast<std::uint32_t>(f)});
    for (std::size_t g = 0; g < plan.groups.size() && g < duplicates.size(); ++g) {
        const GroupPlan& group = plan.groups[g];
        if (!group.handled())
            continue;
        for (std::size_t i = 0; i < group.copies.size(); ++i)
            if (group.copies[i].fate == CopyPlan::Fate::removed)
                actions.push_back(
                    {Kind::remove, static_cast<std::uint32_t>(g), static_cast<std::uint32_t>(i)});
    }
    return actions;
}

ActionPaths actionPaths(const Action& action, const SitePlan& plan,
                        const std::vector<DuplicateGroup>& duplicates) {
    switch (action.kind) {
    case Action::Kind::createFolder:
        return {plan.imagesFolder, {}, 0};
    case Action::Kind::place:
        return {plan.groups[action.group].kept, *plan.groups[action.group].placeFrom, 0};
    case Action::Kind::rewrite:
        return {plan.files[action.item].file, {}, plan.files[action.item].changes.size()};
    case Action::Kind::remove:
        return {duplicates[action.group].copies[action.item], {}, 0};
    default: // an undo's actions point into the run's records, not into a plan
        break;
    }
    return {};
}

namespace {

// Files rewritten or put back per flush to disk, and the most new text held at once.
constexpr std::size_t batchFiles = 1024;
constexpr std::size_t batchBytes = std::size_t{8} << 20;
// Copies recorded for undo per flush of the record.
constexpr std::size_t removalBatch = 4096;
// Copies removed at once, between two looks at whether the run was cancelled.
constexpr std::size_t removalChunk = 512;

// An undo's actions recorded per flush of the record, each before it is taken.
constexpr std::size_t undoRecordBatch = 4096;

// Whether a file of the site still refers to a file about to be removed: the references an
// index read, less those of the files replaced since it was read, plus what their new texts
// refer to. Without an index, everything may be referred to.
class ReferenceGuard {
  public:
    void use(const ReferenceIndex& index, bool unreadableRefers) {
        index_ = &index;
        unreadableRefers_ = unreadableRefers;
        replaced_.clear();
        referred_.clear();
    }
    void replaced(const fs::path& file, const std::vector<std::string>& targets) {
        replaced_.insert(file.string());
        referred_.insert(targets.begin(), targets.end());
    }
    bool refersTo(const fs::path& target) const {
        if (!index_ || (unreadableRefers_ && !index_->unreadable().empty()))
            return true;
        if (!referred_.empty() && referred_.count(target.string()))
            return true;
        for (const Reference* reference : index_->referencesTo(target)) {
            if (!replaced_.count(reference->file.string()))
                return true;
        }
        return false;
    }

  private:
    const ReferenceIndex* index_ = nullptr;
    bool unreadableRefers_ = false; // a file that could not be read may refer to anything
    std::unordered_set<std::string> replaced_;
    std::unordered_set<std::string> referred_;
};

// One executor for a run's actions and for an undo's: one loop over the list, taking each
// stretch of actions of one kind in batches, with one guard before a file is removed and one
// check before a file is replaced.
class Executor {
  public:
    Executor(const ExecutionContext& context, RunOutcome& outcome)
        : files_(context.files), reporter_(context.reporter), journal_(context.journal),
          progress_(context.progress), imagesFolder_(context.plan.imagesFolder),
          index_(&context.index), duplicates_(&context.duplicates), plan_(context.plan),
          outcome_(outcome) {
        guard_.use(context.index, false);
    }

    explicit Executor(const UndoContext& context)
        : files_(context.files), reporter_(context.reporter), journal_(context.journal),
          progress_(context.progress), plan_(noPlan_), outcome_(noOutcome_),
          recorded_(&context.run), root_(context.run.root.lexically_normal()),
          undone_(&context.outcome), records_(&context.records), undoPlan_(&context.plan) {
        for (const auto& placed : context.records.placed)
            added_.insert(placed.path.native());
    }

    Execution take(const std::vector<Action>& actions) {
        const bool undo = undone_ != nullptr;
        for (std::size_t from = 0; from < actions.size() && !stopped();) {
            const Action::Kind kind = actions[from].kind;
            std::size_t to = from + 1;
            // An undo's stretch goes on record in batches; a run's kinds batch their own.
            while (to < actions.size() && actions[to].kind == kind &&
                   (!undo || to - from < undoRecordBatch))
                ++to;
            const std::span<const Action> stretch(actions.data() + from, to - from);
            from = to;
            if (undo && !recordUndo(stretch))
                break;
            takeStretch(stretch);
        }
        if (undo)
            return {!journalFailed_, journalFailed_};
        if (!placedOnce_ && (journalFailed_ || folderFailed_))
            return {false, journalFailed_}; // the images folder is not there to place into
        placeAll({}); // where nothing was placed, the groups are still checked
        phaseEnd(plan_.placements + plan_.files.size() + plan_.removals);
        reportUntouched(*duplicates_);
        return {placedAll_ && !stopped(), journalFailed_};
    }

  private:
    using Kind = Action::Kind;

    void takeStretch(std::span<const Action> stretch) {
        std::vector<std::uint32_t> items;
        items.reserve(stretch.size());
        for (const Action& action : stretch)
            items.push_back(action.item);
        switch (stretch.front().kind) {
        case Kind::createFolder:
            createImagesFolder();
            break;
        case Kind::place:
            placeAll(stretch);
            break;
        case Kind::rewrite:
            placeAll({});
            phaseEnd(plan_.placements);
            rewrite(stretch);
            phaseEnd(plan_.placements + plan_.files.size());
            break;
        case Kind::remove:
            placeAll({});
            phaseEnd(plan_.placements + plan_.files.size());
            remove(*duplicates_, stretch);
            break;
        case Kind::removeLeftover:
            removeLeftovers(items);
            break;
        case Kind::restoreCopy:
            restoreCopies(items);
            break;
        case Kind::restoreText:
            restoreFiles(items);
            break;
        case Kind::removeAdded:
            removeAdded(items);
            break;
        case Kind::removeFolder:
            removeImagesFolder();
            break;
        }
    }

    // Every step on record before it is taken: a record that cannot be written stops the
    // run or the undo where it is, with every reference still resolving.
    template <class Record> bool recorded(Record record) {
        if (!journal_ || journalFailed_)
            return !journalFailed_;
        if (const std::error_code error = record(*journal_)) {
            journalFailed_ = true;
            fail(EventKind::recordFailed, {journal_->folder()},
                 FileError{FileError::Operation::write, {journal_->folder()}, error});
            if (undone_) {
                ++undone_->errorSheets;
                ++undone_->left;
            }
            return false;
        }
        return true;
    }

    // An undo's stretch of actions, by the files they touch.
    bool recordUndo(std::span<const Action> stretch) {
        static constexpr std::string_view steps[] = {"",     "",     "",      "",      "leftover",
                                                     "copy", "text", "added", "folder"};
        std::vector<std::string> paths;
        paths.reserve(stretch.size());
        for (const Action& action : stretch) {
            switch (action.kind) {
            case Kind::removeLeftover:
                paths.push_back(undoPlan_->leftovers[action.item].string());
                break;
            case Kind::restoreCopy:
                paths.push_back(records_->removals[action.item].copy);
                break;
            case Kind::restoreText:
                paths.push_back(undoPlan_->texts[action.item].path.string());
                break;
            case Kind::removeAdded:
                paths.push_back(records_->placed[action.item].path.string());
                break;
            case Kind::removeFolder:
                if (records_->imagesFolder)
                    paths.push_back(records_->imagesFolder->string());
                break;
            default:
                break;
            }
        }
        const std::string_view step = steps[static_cast<std::size_t>(stretch.front().kind)];
        return recorded([&](RunJournal& j) { return j.undoing(step, paths); });
    }

    // A file to be replaced: its new text, the bytes read from it and its stamp taken before
    // that read, and the files its new text still refers to (for the guard).
    struct Replacement {
        fs::path path;
        Bytes read;
        std::optional<FileManager::Stamp> stamp;
        std::string text;
        std::vector<std::string> targets;
    };

    // The one way a file is replaced, for a run as for an undo: only while it still holds the
    // bytes read and has the stamp taken before that read (an edit made meanwhile wins); the
    // guard then knows it by its new text. A result per replacement.
    std::vector<FileResult> replace(const std::vector<const Replacement*>& changes) {
        std::vector<FileManager::Write> writes;
        writes.reserve(changes.size());
        for (const Replacement* change : changes)
            writes.push_back({change->path, asBytes(change->text), &change->read, change->stamp});
        std::vector<FileResult> results = files_.writeFiles(writes);
        results.resize(changes.size());
        for (std::size_t i = 0; i < changes.size(); ++i) {
            if (!results[i])
                guard_.replaced(changes[i]->path, changes[i]->targets);
        }
        return results;
    }

    void createImagesFolder() {
        if (files_.exists(imagesFolder_))
            return;
        if (!recorded([&](RunJournal& j) { return j.imagesFolderCreated(imagesFolder_); }))
            return;
        say(EventKind::imagesFolderCreating, {imagesFolder_});
        if (FileResult error = files_.createDirectory(imagesFolder_)) {
            fail(EventKind::imagesFolderFailed, {imagesFolder_}, *error);
            folderFailed_ = true;
        }
    }

    // Places the kept files, once; the bar reaches each phase's end even where groups were
    // skipped on the way, but not where the run ends early.
    void placeAll(std::span<const Action> places) {
        if (placedOnce_)
            return;
        placedOnce_ = true;
        placedAll_ = place(*duplicates_, places);
    }
    void phaseEnd(std::size_t target) {
        if (placedAll_ && !stopped())
            stepUpTo(target);
    }

    void step() {
        ++steps_;
        progress_.advance();
    }
    void stepUpTo(std::size_t target) {
        while (steps_ < target)
            step();
    }

    bool stopped() {
        if (journalFailed_ || folderFailed_)
            return true;
        if (undone_)
            return false; // an undo goes to its end: it only puts back
        if (!outcome_.cancelled && progress_.cancelled()) {
            outcome_.cancelled = true;
            say(EventKind::runCancelled);
        }
        return outcome_.cancelled;
    }

    // Gives each group's kept file its name in images/. A failure ends the placing: the
    // groups before it go on to the next phases, the later ones are left untouched.
    bool place(const std::vector<DuplicateGroup>& duplicates, std::span<const Action> places) {
        const auto started = Clock::now();
        active_ = duplicates.size();
        const std::vector<std::size_t> toPlace = groupsToPlace(duplicates, places);
        for (const std::size_t g : toPlace) {
            if (!placeGroup(duplicates, g))
                break;
        }
        outcome_.fileTime += Clock::now() - started;
        return active_ == duplicates.size() || outcome_.cancelled;
    }

    // Checks every group against the scan, then records at once the new names to give: the
    // groups whose kept file gets its name, in order.
    std::vector<std::size_t> groupsToPlace(const std::vector<DuplicateGroup>& duplicates,
                                           std::span<const Action> places) {
        std::vector<std::size_t> toPlace;
        std::vector<RunJournal::Placed> records;
        auto next = places.begin(); // the place actions, in the order of their groups
        for (std::size_t g = 0; g < duplicates.size(); ++g) {
            const GroupPlan& plan = plan_.groups[g];
            const std::string name = imageName(duplicates[g]);
            if (plan.nameTaken) {
                // Both names hold other images: this group is left as it is.
                const fs::path alternative =
                    imagesFolder_ / alternativeImageName(name, duplicates[g].md5);
                fail(EventKind::placeFailed, {firstCopy(duplicates[g])},
                     FileError{FileError::Operation::move,
                               {duplicates[g].copies.front(), alternative},
                               make_error_code(RunErrc::destinationTaken)});
                continue;
            }
            if (!plan.handled())
                continue;
            if (stopped()) {
                active_ = g;
                break;
            }
            if (!stillAsScanned(duplicates[g], plan)) {
                skipped_.insert(g);
                continue;
            }
            while (next != places.end() && next->group < g)
                ++next;
            if (!plan.placeFrom || next == places.end() || next->group != g)
                continue;
            toPlace.push_back(g);
            records.push_back({plan.kept, duplicates[g].md5, duplicates[g].size});
        }
        if (!toPlace.empty() && !recorded([&](RunJournal& j) { return j.placing(records); })) {
            active_ = toPlace.front();
            toPlace.clear();
        }
        return toPlace;
    }

    // Gives one group's kept file its name in images/. False ends the placing.
    bool placeGroup(const std::vector<DuplicateGroup>& duplicates, std::size_t g) {
        const GroupPlan& plan = plan_.groups[g];
        say(EventKind::imagePlacing, {*plan.placeFrom, plan.kept});
        FileResult error;
        if (!files_.isDirectory(imagesFolder_))
            error = FileError{FileError::Operation::move,
                              {*plan.placeFrom, plan.kept},
                              std::make_error_code(std::errc::not_a_directory)};
        else
            error = files_.linkOrCopy(*plan.placeFrom, plan.kept);
        if (error) {
            fail(EventKind::placeFailed, {firstCopy(duplicates[g])}, *error);
            active_ = g;
            return false;
        }
        ++outcome_.filesPlaced;
        step();
        if (stopped()) {
            // Groups placed so far go on; the rest are left as they are.
            active_ = g + 1;
            return false;
        }
        return true;
    }

    static std::string imageName(const DuplicateGroup& group) {
        return group.copies.empty() ? group.name : group.copies.front().filename().string();
    }

    // The copy that names a group in its failures.
    static fs::path firstCopy(const DuplicateGroup& group) {
        return group.copies.empty() ? fs::path(group.name) : group.copies.front();
    }

    void say(EventKind kind, std::vector<fs::path> paths = {}) {
        reporter_.report({kind, std::move(paths), std::nullopt, std::nullopt, {}});
    }
    void fail(EventKind kind, std::vector<fs::path> paths, FileError error,
              std::optional<KeepReason> reason = std::nullopt) {
        reporter_.report({kind, std::move(paths), std::move(error), std::move(reason), {}});
    }

    // The kept bytes must still be those the scan found, and each copy that goes must still
    // hold them: a copy changed since then stays, and so do the references to it.
    bool stillAsScanned(const DuplicateGroup& group, const GroupPlan& plan) {
        const fs::path& source = plan.placeFrom ? *plan.placeFrom : plan.kept;
        if (!group.md5.empty() && files_.md5(source) != group.md5) {
            fail(EventKind::placeFailed, {firstCopy(group)},
                 FileError{FileError::Operation::compare,
                           {source},
                           make_error_code(RunErrc::contentDiffers)});
            return false;
        }
        std::vector<fs::path> going;
        std::vector<FileManager::CopyPair> pairs;
        going.reserve(group.copies.size()); // the pairs point into it
        for (std::size_t i = 0; i < group.copies.size(); ++i) {
            fs::path copy = fs::absolute(group.copies[i]).lexically_normal();
            if (plan.copies[i].fate == CopyPlan::Fate::removed && copy != source) {
                going.push_back(std::move(copy));
                pairs.push_back(
                    {&going.back(), &source, i < group.settled.size() ? group.settled[i] : 0});
            }
        }
        const std::vector<FileResult> results = files_.checkCopies(pairs);
        for (std::size_t i = 0; i < going.size(); ++i) {
            if (!results[i])
                continue;
            changed_.insert(going[i].string());
            ++outcome_.copiesKept;
            fail(EventKind::removeFailed, {going[i]}, *results[i]);
        }
        return true;
    }

    bool isActive(std::size_t group) const { return group < active_ && !skipped_.count(group); }

    // One pending write of a batch: the file's changes and its replacement.
    struct Pending {
        const FileChanges* file;
        Replacement change;
    };

    // Every file that refers to a copy that goes, once, with all groups' changes.
    void rewrite(std::span<const Action> rewrites) {
        const auto started = Clock::now();
        std::vector<Pending> batch;
        std::size_t bytes = 0;
        for (const Action& action : rewrites) {
            const FileChanges& file = plan_.files[action.item];
            ActiveFile active{{file.file, {}}, {}};
            for (const ReferenceChange& change : file.changes) {
                std::string target = index_->targetOf(*change.reference).string();
                if (isActive(change.group) && !changed_.count(target))
                    active.changes.changes.push_back(change);
                else // its copy stays, and so does the reference
                    active.stillReferred.push_back(std::move(target));
            }
            if (!active.changes.changes.empty()) // else its copies stay with their groups
                activeChanges_.push_back(std::move(active));
        }
        for (ActiveFile& active : activeChanges_) {
            const FileChanges& file = active.changes;
            Bytes old;
            // Taken before the read: a change while it is read shows as a changed stamp.
            auto stamp = files_.stamp(file.file);
            if (auto text = newText(file, old)) {
                bytes += text->size() + old.size();
                batch.push_back({&file,
                                 {file.file, std::move(old), stamp, std::move(*text),
                                  std::move(active.stillReferred)}});
            } else {
                step();
            }
            if (batch.size() >= batchFiles || bytes >= batchBytes) {
                const bool goOn = writeBatch(batch);
                batch.clear();
                bytes = 0;
                if (!goOn)
                    break;
            }
        }
        if (!batch.empty())
            writeBatch(batch);
        outcome_.rewriteTime += Clock::now() - started;
    }

    // The file's text with its changes, or nothing (reported) when it cannot be rewritten.
    std::optional<std::string> newText(const FileChanges& file, Bytes& old) {
        const fs::path& referring = file.file;
        FileResult error;
        const auto bytes = files_.readFile(referring, error);
        if (!bytes) {
            fail(EventKind::updateFailed, {referring},
                 error ? *error
                       : FileError{FileError::Operation::read,
                                   {referring},
                                   std::make_error_code(std::errc::io_error)});
            return std::nullopt;
        }
        const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        if (!isUtf8Text(text)) {
            fail(EventKind::updateFailed, {referring},
                 FileError{
                     FileError::Operation::read, {referring}, make_error_code(RunErrc::notUtf8)});
            return std::nullopt;
        }
        KeepReason why;
        auto next = applyChanges(text, file, plan_, &why);
        if (next)
            old = std::move(*bytes);
        if (!next) {
            reporter_.report({EventKind::fileKept, {referring}, std::nullopt, std::move(why), {}});
            fail(EventKind::updateFailed, {referring},
                 FileError{FileError::Operation::read,
                           {referring},
                           std::make_error_code(std::errc::invalid_argument)});
            return std::nullopt;
        }
        return next;
    }

    // A rewritten file, then the kept files it now leads to.
    std::vector<fs::path> keptFiles(const FileChanges& file) const {
        std::vector<fs::path> paths{file.file};
        std::set<std::size_t> seen;
        for (const ReferenceChange& change : file.changes) {
            if (seen.insert(change.group).second)
                paths.push_back(plan_.groups[change.group].kept);
        }
        return paths;
    }

    bool writeBatch(const std::vector<Pending>& batch) {
        if (journal_) {
            std::vector<RunJournal::Rewrite> records;
            records.reserve(batch.size());
            for (const Pending& pending : batch)
                records.push_back({pending.file->file, ByteView(pending.change.read),
                                   tolvane::md5(std::string_view(pending.change.text))});
            if (!recorded([&](RunJournal& j) { return j.rewriting(records); }))
                return false;
        }
        std::vector<const Replacement*> changes;
        changes.reserve(batch.size());
        for (const Pending& pending : batch) {
            say(EventKind::fileUpdating, keptFiles(*pending.file));
            changes.push_back(&pending.change);
        }
        const std::vector<FileResult> results = replace(changes);
        std::vector<fs::path> left; // not replaced: as they were read, or as the user made them
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const fs::path& referring = batch[i].file->file;
            if (results[i]) {
                left.push_back(referring);
                fail(EventKind::writeBackFailed, {referring}, *results[i]);
            } else {
                ++outcome_.filesRewritten;
            }
            step();
        }
        if (!left.empty() && !recorded([&](RunJournal& j) { return j.notRewritten(left); }))
            return false;
        return !stopped();
    }

    void logReasons(const fs::path& copy, const std::vector<KeepReason>& reasons) {
        for (const auto& reason : reasons)
            reporter_.report({EventKind::copyKept, {copy}, std::nullopt, reason, {}});
    }

    void reportKept(const fs::path& copy, const std::vector<KeepReason>& reasons) {
        if (reasons.empty())
            return;
        ++outcome_.copiesKept;
        logReasons(copy, reasons);
        const KeepReason& first = reasons.front();
        if (first.kind == KeepErrc::chosen)
            return; // the user's own choice is no error
        fail(EventKind::copyKeptWarning, {copy},
             FileError{FileError::Operation::remove, {copy}, make_error_code(first.kind)}, first);
    }

    // A copy the run deletes, once its record is on disk: numbers, not paths, because a
    // large site has hundreds of thousands of them.
    struct Removal {
        std::uint32_t group = 0;
        std::uint32_t copy = 0;
        bool freesBytes = true; // false for the copy that gave a new name its bytes
    };
    fs::path copyOf(const Removal& removal) const {
        return (*duplicates_)[removal.group].copies[removal.copy];
    }
    const fs::path& keptFor(const Removal& removal) const {
        return plan_.groups[removal.group].kept;
    }

    void remove(const std::vector<DuplicateGroup>& duplicates, std::span<const Action> removes) {
        const auto started = Clock::now();
        std::vector<Removal> removals;
        auto next = removes.begin(); // the remove actions, in the order of their copies
        const auto listed = [&](std::size_t g, std::size_t i) {
            while (next != removes.end() &&
                   (next->group < g || (next->group == g && next->item < i)))
                ++next;
            return next != removes.end() && next->group == g && next->item == i;
        };
        for (std::size_t g = 0; g < active_; ++g) {
            const GroupPlan& plan = plan_.groups[g];
            if (!plan.handled() || !isActive(g))
                continue;
            reported_.insert(g);
            const auto& copies = duplicates[g].copies;
            for (std::size_t i = 0; i < copies.size(); ++i) {
                const CopyPlan& fate = plan.copies[i];
                if (fate.fate == CopyPlan::Fate::stays) {
                    reportKept(copies[i], fate.reasons);
                } else if (fate.fate == CopyPlan::Fate::kept) {
                    // It keeps the bytes where it is: say why it could not go to images/.
                    logReasons(copies[i], fate.reasons);
                } else if (!listed(g, i)) {
                    continue; // not among the run's actions
                } else if (!changed_.empty() &&
                           changed_.count(fs::absolute(copies[i]).lexically_normal().string())) {
                    step(); // reported when it was found changed
                } else if (guard_.refersTo(copies[i])) {
                    // A file that still refers to it could not be rewritten: it stays for it.
                    ++outcome_.copiesKept;
                    say(EventKind::copyKeptForFile, {copies[i]});
                    step();
                } else {
                    removals.push_back({static_cast<std::uint32_t>(g),
                                        static_cast<std::uint32_t>(i), !plan.movesCopy(i)});
                }
            }
        }
        for (std::size_t from = 0; from < removals.size() && !stopped(); from += removalBatch) {
            const std::size_t to = std::min(removals.size(), from + removalBatch);
            if (journal_) {
                std::vector<RunJournal::Removal> records;
                records.reserve(to - from);
                for (std::size_t i = from; i < to; ++i) {
                    const fs::path& copy = copyOf(removals[i]);
                    const DuplicateGroup& group = duplicates[removals[i].group];
                    // A copy goes only while it holds the group's bytes, so it has their size.
                    records.push_back({copy, keptFor(removals[i]),
                                       group.md5.empty()
                                           ? files_.md5(keptFor(removals[i])).value_or("")
                                           : group.md5,
                                       group.size, files_.mode(copy).value_or(0644)});
                }
                if (!recorded([&](RunJournal& j) { return j.removing(records); }))
                    break;
            }
            for (std::size_t i = from; i < to && !stopped(); i += removalChunk)
                removeCopies(std::span(removals).subspan(i, std::min(to - i, removalChunk)));
        }
        outcome_.fileTime += Clock::now() - started;
    }

    // Each copy is checked against its kept file just before it goes; one that changed since
    // the scan holds bytes kept nowhere else, so it stays.
    void removeCopies(std::span<const Removal> chunk) {
        std::vector<fs::path> copies;
        copies.reserve(chunk.size());
        for (const Removal& removal : chunk)
            copies.push_back(copyOf(removal));
        std::vector<FileManager::CopyPair> pairs;
        pairs.reserve(chunk.size());
        for (std::size_t i = 0; i < chunk.size(); ++i)
            pairs.push_back({&copies[i], &keptFor(chunk[i])});
        const std::vector<FileResult> results = files_.removeCopies(pairs);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            const fs::path& copy = copies[i];
            say(EventKind::copyRemoving, {copy});
            if (results[i]) {
                ++outcome_.copiesKept;
                fail(EventKind::removeFailed, {copy}, *results[i]);
            } else if (chunk[i].freesBytes) {
                ++outcome_.copiesRemoved;
                outcome_.bytesSaved += (*duplicates_)[chunk[i].group].size; // the kept bytes
            }
            step();
        }
    }

    // The copies of groups the run did not get to, and of groups where nothing would be
    // saved, with their reasons to stay.
    void reportUntouched(const std::vector<DuplicateGroup>& duplicates) {
        for (std::size_t g = 0; g < plan_.groups.size() && !outcome_.cancelled; ++g) {
            if (reported_.count(g) || (plan_.groups[g].handled() && !skipped_.count(g)))
                continue;
            for (std::size_t i = 0; i < duplicates[g].copies.size(); ++i)
                reportKept(duplicates[g].copies[i], plan_.groups[g].copies[i].reasons);
        }
    }

    // An undo's kinds.
    // A failure's kind and the path it names.
    struct Failure {
        EventKind kind;
        fs::path path;
    };

    void sheet(const Failure& failure, const FileError& error) {
        ++undone_->errorSheets;
        std::vector<fs::path> paths;
        if (!failure.path.empty())
            paths.push_back(failure.path);
        reporter_.report({failure.kind, std::move(paths), error, std::nullopt, {}});
    }

    void tell(EventKind kind, const fs::path& path = {}) {
        std::vector<fs::path> paths;
        if (!path.empty())
            paths.push_back(path);
        reporter_.report({kind, std::move(paths), std::nullopt, std::nullopt, {}});
    }

    // The digest of what is at path now, remembered: undo itself changes only what it records.
    const std::optional<std::string>& digest(const std::string& path) {
        auto found = digests_.find(path);
        if (found == digests_.end())
            found = digests_.emplace(path, files_.md5(path)).first;
        return found->second;
    }

    // Undo writes and removes only inside the site, never through a link: every folder
    // between the root and the file must be a real folder.
    FileResult checkInside(const fs::path& path, Op operation) {
        const fs::path normal = path.lexically_normal();
        const fs::path relative = normal.lexically_relative(root_);
        if (!path.is_absolute() || relative.empty() || relative == "." || *relative.begin() == "..")
            return FileError{operation, {path}, make_error_code(RunErrc::outsideSite)};
        fs::path folder = root_;
        auto last = relative.end();
        --last;
        for (auto part = relative.begin(); part != last; ++part) {
            folder /= *part;
            if (realFolders_.count(folder))
                continue;
            if (!files_.isDirectory(folder)) {
                if (!files_.exists(folder))
                    return FileError{operation,
                                     {path},
                                     std::make_error_code(std::errc::no_such_file_or_directory)};
                return FileError{operation, {path}, make_error_code(RunErrc::outsideSite)};
            }
            realFolders_.insert(folder);
        }
        return std::nullopt;
    }

    // A file that holds the removal's bytes now: the recorded kept file, else any file of
    // the run that should hold them.
    std::optional<fs::path> sourceFor(const RunJournal::Removal& removal) {
        if (digest(removal.kept) == removal.md5)
            return removal.kept;
        for (const std::string* candidate : holders_[removal.md5]) {
            if (*candidate != removal.copy && digest(*candidate) == removal.md5)
                return *candidate;
        }
        return std::nullopt;
    }

    // Temporary files a writer left in the site when a run or an undo was killed.
    void removeLeftovers(const std::vector<std::uint32_t>& items) {
        for (const std::uint32_t item : items) {
            const fs::path& leftover = undoPlan_->leftovers[item];
            const Failure message{EventKind::removeFailed, leftover};
            if (FileResult outside = checkInside(leftover, Op::remove)) {
                sheet(message, *outside);
                ++undone_->left;
                continue;
            }
            tell(EventKind::leftoverRemoving, leftover);
            if (FileResult removeError = files_.removeItem(leftover)) {
                sheet(message, *removeError);
                ++undone_->left;
            }
        }
    }

    void restoreCopies(const std::vector<std::uint32_t>& items) {
        const RunRecords& records = *records_;
        if (holders_.empty()) {
            for (const auto& placed : records.placed)
                holders_[placed.md5].push_back(&placed.path.native());
            for (const auto& removal : records.removals) {
                holders_[removal.md5].push_back(&removal.kept);
                holders_[removal.md5].push_back(&removal.copy);
            }
        }
        std::unordered_set<std::string_view> seen;
        for (const std::uint32_t item : items) {
            const RunJournal::Removal& removal = records.removals[item];
            progress_.advance();
            if (!seen.insert(removal.copy).second)
                continue;
            const fs::path copy(removal.copy);
            const Failure message{EventKind::restoreFailed, copy};
            if (files_.exists(copy)) {
                // Never removed, or put back already; other bytes are someone else's.
                if (digest(removal.copy) != removal.md5) {
                    sheet(
                        message,
                        FileError{Op::compare, {copy}, make_error_code(RunErrc::changedSinceRun)});
                    ++undone_->left;
                }
                continue;
            }
            if (FileResult outside = checkInside(copy, Op::write)) {
                missing(message, *outside);
                continue;
            }
            std::optional<fs::path> source = sourceFor(removal);
            if (!source && !pending_.empty()) {
                // It may be one of the copies waiting to be put back that holds the bytes.
                copyPending();
                source = sourceFor(removal);
            }
            if (!source) {
                missing(message, FileError{Op::read, {copy}, make_error_code(RunErrc::noCopyLeft)});
                continue;
            }
            tell(EventKind::copyRestoring, copy);
            pending_.push_back({&removal, {std::move(*source), copy, removal.mode, removal.md5}});
            if (pending_.size() == copyBatch)
                copyPending();
        }
        copyPending();
    }

    // Puts back the copies waiting, with one flush for all of them.
    void copyPending() {
        if (pending_.empty())
            return;
        std::vector<FileManager::CopyRequest> requests;
        requests.reserve(pending_.size());
        for (auto& [removal, request] : pending_)
            requests.push_back(std::move(request));
        const std::vector<FileResult> results = files_.copyFiles(requests);
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            const RunJournal::Removal& removal = *pending_[i].first;
            // Read again when asked: a digest kept for each copy put back would hold every
            // copy's path at once.
            digests_.erase(removal.copy);
            if (i < results.size() && results[i]) {
                missing({EventKind::restoreFailed, removal.copy}, *results[i]);
                continue;
            }
            ++undone_->copiesRestored;
        }
        pending_.clear();
    }

    // A removed copy that stays missing.
    void missing(const Failure& message, const FileError& error) {
        sheet(message, error);
        ++undone_->left;
        if (!firstMissing_)
            firstMissing_ = error;
    }

    void restoreFiles(const std::vector<std::uint32_t>& items) {
        if (undoPlan_->beyondPages && !items.empty() && !basesRead_) {
            readPageBases();
            basesRead_ = true;
        }
        std::vector<Replacement> batch;
        std::uint64_t batchSize = 0;
        for (const std::uint32_t item : items) {
            const UndoPlan::Text& file = undoPlan_->texts[item];
            const fs::path& path = file.path;
            std::vector<const RunRecords::Rewrite*> list;
            for (const std::size_t record : file.records)
                list.push_back(&records_->rewrites[record]);
            std::optional<Replacement> text = earlierText(path, list);
            if (!text)
                continue;
            batchSize += text->text.size() + text->read.size();
            batch.push_back(std::move(*text));
            if (batchSize >= batchBytes || batch.size() >= batchFiles) {
                writeTexts(batch);
                batch.clear();
                batchSize = 0;
            }
        }
        writeTexts(batch);
    }

    // The text a file had before the run, when it is to be put back: absent, and reported
    // where that is news, when the file changed since, was never rewritten, or must stay.
    std::optional<Replacement> earlierText(const fs::path& path,
                                           const std::vector<const RunRecords::Rewrite*>& list) {
        for (std::size_t i = 0; i < list.size(); ++i)
            progress_.advance();
        const Failure message{EventKind::fileRestoreFailed, path};
        // Read once: what is checked against the record is what the replacement expects.
        Replacement change{path, {}, files_.stamp(path), {}, {}};
        FileResult readError;
        std::optional<Bytes> read = files_.readFile(path, readError);
        std::optional<std::string> now;
        if (read) {
            now = tolvane::md5(ByteView(*read));
            change.read = std::move(*read);
        }
        const RunRecords::Rewrite* target = nullptr;
        for (auto record = list.rbegin(); record != list.rend(); ++record) {
            if (now == (*record)->newMd5) {
                target = *record;
                now = (*record)->oldMd5;
            } else if (now != (*record)->oldMd5) {
                // Neither what the run wrote nor what it found.
                sheet(message,
                      FileError{Op::compare, {path}, make_error_code(RunErrc::changedSinceRun)});
                ++undone_->left;
                return std::nullopt;
            }
        }
        if (!target)
            return std::nullopt; // the run never got to it, or it is back already
        if (firstMissing_) {
            // Its earlier text may refer to a copy that is still missing; as the run left
            // it, it refers to files that are there.
            keepRewritten(path, keptForCopy_, EventKind::keptForMissingCopy, *firstMissing_);
            return std::nullopt;
        }
        if (FileResult outside = checkInside(path, Op::write)) {
            sheet(message, *outside);
            ++undone_->left;
            return std::nullopt;
        }
        std::error_code error;
        std::optional<Bytes> text = readOldText(*recorded_, *target, error);
        if (!text) {
            sheet(message, FileError{Op::read, {path}, make_error_code(RunErrc::recordDamaged)});
            ++undone_->left;
            return std::nullopt;
        }
        // Whatever the record says, no reference may come back leading to nothing (a record
        // cut short says nothing of the copies it would have put back).
        const TextKind kind = textKindOf(path.filename().string());
        change.targets = urlTargets(path, kind, ByteView(*text));
        if (const std::optional<std::string> lost = brokenByEarlierText(path, change)) {
            keepRewritten(path, keptForReference_, EventKind::keptForMissingImage,
                          FileError{Op::read,
                                    {fs::path(*lost)},
                                    std::make_error_code(std::errc::no_such_file_or_directory)});
            return std::nullopt;
        }
        // The guard is asked only of the files the run added: keep only those of the targets.
        std::erase_if(change.targets, [&](const std::string& t) { return !added_.count(t); });
        change.text.assign(reinterpret_cast<const char*>(text->data()), text->size());
        return change;
    }

    // A rewritten file left as the run wrote it: one sheet per reason, a line per file.
    void keepRewritten(const fs::path& path, bool& reported, EventKind why,
                       const FileError& error) {
        if (!reported)
            sheet({why, {}}, error);
        reported = true;
        tell(EventKind::rewrittenKept, path);
        ++undone_->left;
    }

    // The bases of the site's pages, for the scripts they load and the <base href> of their
    // page folders: read before any script's references are followed.
    void readPageBases() {
        const SiteFiles site = walkSite(root_, false);
        for (const auto& [file, kind] : site.textFiles) {
            FileResult error;
            if (kind != TextKind::page)
                continue;
            if (const std::optional<Bytes> text = files_.readFile(file, error))
                urlTargets(file, kind, ByteView(*text));
        }
    }

    // Where the image references of a text lead, for those whose file's base is known.
    std::vector<std::string> urlTargets(const fs::path& file, TextKind kind, ByteView text) {
        FileBase base;
        const std::vector<FoundUrl> found = urls_.read(
            file, kind, std::string_view(reinterpret_cast<const char*>(text.data()), text.size()),
            base, [](const ParsedUrl&) { return false; });
        std::vector<std::string> targets;
        for (const FoundUrl& url : found) {
            if (url.target && !url.url.segments.empty() &&
                hasImageExtension(url.url.segments.back()))
                targets.push_back(*url.target);
        }
        return targets;
    }

    // An image the earlier text refers to that is missing now, where the file as it is does
    // not refer to that missing image already.
    std::optional<std::string> brokenByEarlierText(const fs::path& path,
                                                   const Replacement& change) {
        const TextKind kind = textKindOf(path.filename().string());
        std::set<std::string> missingNow;
        for (std::string& target : urlTargets(path, kind, ByteView(change.read))) {
            if (!files_.exists(target))
                missingNow.insert(std::move(target));
        }
        for (const std::string& target : change.targets) {
            if (!missingNow.count(target) && !files_.exists(target))
                return target;
        }
        return std::nullopt;
    }

    void writeTexts(const std::vector<Replacement>& batch) {
        if (batch.empty())
            return;
        std::vector<const Replacement*> changes;
        changes.reserve(batch.size());
        for (const Replacement& change : batch) {
            tell(EventKind::fileRestoring, change.path);
            changes.push_back(&change);
        }
        const std::vector<FileResult> results = replace(changes);
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (results[i]) {
                sheet({EventKind::fileRestoreFailed, batch[i].path}, *results[i]);
                ++undone_->left;
            } else {
                ++undone_->filesRestored;
            }
        }
    }

    void removeAdded(const std::vector<std::uint32_t>& items) {
        const RunRecords& records = *records_;
        std::set<fs::path> seen;
        for (const std::uint32_t item : items) {
            const RunJournal::Placed& placed = records.placed[item];
            progress_.advance();
            if (!seen.insert(placed.path).second || !files_.exists(placed.path))
                continue; // never placed, or removed already
            if (undone_->left > 0) {
                // Something restored nothing to this file's bytes may still refer to it.
                tell(EventKind::addedKept, placed.path);
                continue;
            }
            const Failure message{EventKind::removeFailed, placed.path};
            if (FileResult outside = checkInside(placed.path, Op::remove)) {
                sheet(message, *outside);
                ++undone_->left;
                continue;
            }
            if (digest(placed.path.native()) != placed.md5) {
                sheet(message, FileError{Op::compare,
                                         {placed.path},
                                         make_error_code(RunErrc::changedSinceRun)});
                ++undone_->left;
                continue;
            }
            if (refersTo(records, placed.path)) {
                // Whatever the record says: a page that still shows it keeps it.
                sheet(message, FileError{Op::remove,
                                         {placed.path},
                                         make_error_code(RunErrc::stillReferredTo)});
                ++undone_->left;
                continue;
            }
            tell(EventKind::addedRemoving, placed.path);
            if (FileResult error = files_.removeItem(placed.path)) {
                sheet(message, *error);
                ++undone_->left;
                continue;
            }
            digests_.erase(placed.path.native());
            ++undone_->filesRemoved;
        }
    }

    // Whether a text file of the site refers to an added file, or may (one could not be read).
    // The site's references to them are read once, when the first is to go: after the texts
    // were put back, which the guard then knows from what it reads.
    bool refersTo(const RunRecords& records, const fs::path& added) {
        if (!addedIndex_) {
            std::vector<fs::path> paths;
            for (const RunJournal::Placed& placed : records.placed)
                paths.push_back(placed.path);
            addedIndex_.emplace(ReferenceIndex::build(root_, paths));
            guard_.use(*addedIndex_, true);
        }
        return guard_.refersTo(added);
    }

    void removeImagesFolder() {
        if (!records_->imagesFolder || undone_->left > 0)
            return;
        const fs::path& folder = *records_->imagesFolder;
        if (!files_.isDirectory(folder))
            return; // never made, gone already, or not the run's any more
        if (FileResult outside = checkInside(folder, Op::remove)) {
            sheet({EventKind::folderRemoveFailed, folder}, *outside);
            ++undone_->left;
            return;
        }
        FileResult error = files_.removeEmptyDirectory(folder);
        if (!error) {
            tell(EventKind::addedFolderRemoving, folder);
            undone_->folderRemoved = true;
        } else if (error->code == std::errc::directory_not_empty) {
            // Files put there after the run are not the run's to remove. But a record cut
            // short may have lost the lines of files the run placed there: undo then cannot
            // say the site is as before, and the run stays offered.
            tell(EventKind::folderKept, folder);
            if (!recorded_->finished) {
                const fs::path records = recorded_->folder / "records";
                sheet({EventKind::recordIncomplete, records},
                      FileError{Op::read, {records}, make_error_code(RunErrc::recordDamaged)});
                ++undone_->left;
            }
        } else {
            sheet({EventKind::folderRemoveFailed, folder}, *error);
            ++undone_->left;
        }
    }

    // Shared.
    FileManager& files_;
    RunReporter& reporter_;
    RunJournal* journal_;
    Progress& progress_;
    ReferenceGuard guard_;
    bool journalFailed_ = false;

    // A run's.
    fs::path imagesFolder_;
    const ReferenceIndex* index_ = nullptr;
    const std::vector<DuplicateGroup>* duplicates_ = nullptr;
    static inline const SitePlan noPlan_{};
    static inline RunOutcome noOutcome_{};
    const SitePlan& plan_;
    RunOutcome& outcome_;
    struct ActiveFile {
        FileChanges changes;                    // the changes it gets
        std::vector<std::string> stillReferred; // the copies it goes on referring to
    };
    std::size_t active_ = 0; // groups before this one were placed
    std::vector<ActiveFile> activeChanges_;
    std::set<std::size_t> reported_;
    std::set<std::size_t> skipped_;           // groups whose kept bytes changed since the scan
    std::unordered_set<std::string> changed_; // copies changed since the scan
    bool folderFailed_ = false;               // the images folder could not be made
    bool placedOnce_ = false;
    bool placedAll_ = false;
    std::size_t steps_ = 0;

    // An undo's.
    const RecordedRun* recorded_ = nullptr;
    fs::path root_;
    UndoOutcome* undone_ = nullptr;
    const RunRecords* records_ = nullptr;
    const UndoPlan* undoPlan_ = nullptr;
    std::unordered_map<std::string, std::optional<std::string>> digests_; // by path
    // Copies to be put back at once (the file manager flushes them in smaller batches, each
    // while it writes the next), with the record each comes from.
    static constexpr std::size_t copyBatch = 16384;
    std::vector<std::pair<const RunJournal::Removal*, FileManager::CopyRequest>> pending_;
    std::set<fs::path> realFolders_;
    std::optional<FileError> firstMissing_; // of the copies that could not be put back
    bool keptForCopy_ = false;              // the sheet for files kept for a missing copy was shown
    bool keptForReference_ = false;         // and the one for files kept for a reference to nothing
    bool basesRead_ = false;
    UrlReader urls_{root_};
    std::optional<ReferenceIndex> addedIndex_;
    // By digest: files that should hold it (paths in the records, which outlive the undo).
    std::map<std::string, std::vector<const std::string*>> holders_;
    std::unordered_set<std::string> added_; // the files the run placed
};

} // namespace

Execution execute(const std::vector<Action>& actions, const ExecutionContext& context,
                  RunOutcome& outcome) {
    Executor executor(context, outcome);
    return executor.take(actions);
}

Execution execute(const UndoContext& context) {
    Executor executor(context);
    return executor.take(context.plan.actions);
}

} // namespace tolvane
