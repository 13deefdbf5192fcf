#include "run/undo.hpp"

#include "refs/reference_index.hpp"
#include "site/site_names.hpp"
#include "util/file_io.hpp"

#include <algorithm>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace tolvane {

namespace fs = std::filesystem;
using Op = FileError::Operation;

namespace {

// Earlier texts written back in batches of about this many bytes, each with one flush; a batch
// holds a descriptor open per file, so it takes no more than this many files.
constexpr std::uint64_t batchBytes = 32u << 20;
constexpr std::size_t batchFiles = 32;

class Undo {
  public:
    Undo(const RecordedRun& run, FileManager& files, RunReporter& reporter, Progress* progress)
        : run_(run), root_(run.root.lexically_normal()), files_(files), reporter_(reporter),
          progress_(progress ? *progress : ownProgress_) {}

    UndoOutcome undo() {
        reporter_.report(
            {EventKind::undoStarted, {}, std::nullopt, std::nullopt, localTimeText(run_.time)});
        std::error_code error;
        std::optional<RunRecords> records = readRunRecords(run_, error);
        if (!records) {
            sheet({EventKind::recordUnreadable, {}},
                  FileError{Op::read, {run_.folder / "records"}, error});
            ++outcome_.left;
            return outcome_;
        }
        if (records->damaged) {
            // A record may be missing: put back what is known, but take nothing away.
            sheet({EventKind::recordIncomplete, {}},
                  FileError{Op::read,
                            {run_.folder / "records"},
                            make_error_code(RunErrc::recordDamaged)});
            ++outcome_.left;
        }
        progress_.start(Phase::undoing, records->removals.size() + records->rewrites.size() +
                                            records->placed.size());
        removeLeftovers();
        restoreCopies(*records);
        restoreFiles(*records);
        removeAdded(*records);
        removeImagesFolder(*records);
        progress_.finish();
        say(EventKind::finished);

        if (const std::error_code markError = markUndone(run_, outcome_.left == 0, outcome_.left))
            sheet({EventKind::undoNotRecorded, {}},
                  FileError{Op::write, {run_.folder / "records"}, markError});
        else
            outcome_.recorded = true;
        outcome_.complete = outcome_.left == 0 && outcome_.recorded;
        say(EventKind::completed);
        return outcome_;
    }

  private:
    // A failure's kind and the path it names.
    struct Failure {
        EventKind kind;
        fs::path path;
    };

    void sheet(const Failure& failure, const FileError& error) {
        ++outcome_.errorSheets;
        std::vector<fs::path> paths;
        if (!failure.path.empty())
            paths.push_back(failure.path);
        reporter_.report({failure.kind, std::move(paths), error, std::nullopt, {}});
    }

    void say(EventKind kind, const fs::path& path = {}) {
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

    // Temporary files a writer left in the site when a run or an undo was killed: only the
    // writer's own names, only plain files, never below a link.
    void removeLeftovers() {
        std::vector<fs::path> found;
        std::error_code error;
        for (fs::recursive_directory_iterator
                 entry(root_, fs::directory_options::skip_permission_denied, error),
             end;
             !error && entry != end; entry.increment(error)) {
            std::error_code typeError;
            if (isWriterTemporaryName(entry->path().filename().string()) &&
                entry->symlink_status(typeError).type() == fs::file_type::regular)
                found.push_back(entry->path());
        }
        std::sort(found.begin(), found.end());
        for (const fs::path& leftover : found) {
            const Failure message{EventKind::removeFailed, leftover};
            if (FileResult outside = checkInside(leftover, Op::remove)) {
                sheet(message, *outside);
                ++outcome_.left;
                continue;
            }
            say(EventKind::leftoverRemoving, leftover);
            if (FileResult removeError = files_.removeItem(leftover)) {
                sheet(message, *removeError);
                ++outcome_.left;
            }
        }
    }

    void restoreCopies(const RunRecords& records) {
        for (const auto& placed : records.placed)
            holders_[placed.md5].push_back(&placed.path.native());
        for (const auto& removal : records.removals) {
            holders_[removal.md5].push_back(&removal.kept);
            holders_[removal.md5].push_back(&removal.copy);
        }
        std::unordered_set<std::string_view> seen;
        for (const RunJournal::Removal& removal : records.removals) {
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
                    ++outcome_.left;
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
            say(EventKind::copyRestoring, copy);
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
            if (i < results.size() && results[i]) {
                digests_.erase(removal.copy);
                missing({EventKind::restoreFailed, removal.copy}, *results[i]);
                continue;
            }
            digests_[removal.copy] = removal.md5; // checked against its source
            ++outcome_.copiesRestored;
        }
        pending_.clear();
    }

    // A removed copy that stays missing.
    void missing(const Failure& message, const FileError& error) {
        sheet(message, error);
        ++outcome_.left;
        if (!firstMissing_)
            firstMissing_ = error;
    }

    void restoreFiles(const RunRecords& records) {
        // Each file once, with its records in the order made (a file rewritten twice goes
        // back through both).
        std::vector<fs::path> order;
        std::map<fs::path, std::vector<const RunRecords::Rewrite*>> byPath;
        bool beyondPages = false; // a script or style sheet: its base may come from a page
        for (const auto& rewrite : records.rewrites) {
            auto& list = byPath[rewrite.path];
            if (list.empty())
                order.push_back(rewrite.path);
            list.push_back(&rewrite);
            beyondPages =
                beyondPages || textKindOf(rewrite.path.filename().string()) != TextKind::page;
        }
        if (beyondPages)
            readPageBases();
        std::vector<std::pair<fs::path, Bytes>> batch;
        std::uint64_t batchSize = 0;
        for (const fs::path& path : order) {
            std::optional<Bytes> text = earlierText(path, byPath[path]);
            if (!text)
                continue;
            batchSize += text->size();
            batch.emplace_back(path, std::move(*text));
            if (batchSize >= batchBytes || batch.size() >= batchFiles) {
                writeBatch(batch);
                batch.clear();
                batchSize = 0;
            }
        }
        writeBatch(batch);
    }

    // The text a file had before the run, when it is to be put back: absent, and reported
    // where that is news, when the file changed since, was never rewritten, or must stay.
    std::optional<Bytes> earlierText(const fs::path& path,
                                     const std::vector<const RunRecords::Rewrite*>& list) {
        for (std::size_t i = 0; i < list.size(); ++i)
            progress_.advance();
        const Failure message{EventKind::fileRestoreFailed, path};
        std::optional<std::string> now = files_.md5(path);
        const RunRecords::Rewrite* target = nullptr;
        for (auto record = list.rbegin(); record != list.rend(); ++record) {
            if (now == (*record)->newMd5) {
                target = *record;
                now = (*record)->oldMd5;
            } else if (now != (*record)->oldMd5) {
                // Neither what the run wrote nor what it found.
                sheet(message,
                      FileError{Op::compare, {path}, make_error_code(RunErrc::changedSinceRun)});
                ++outcome_.left;
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
            ++outcome_.left;
            return std::nullopt;
        }
        std::error_code error;
        std::optional<Bytes> text = readOldText(run_, *target, error);
        if (!text) {
            sheet(message, FileError{Op::read, {path}, make_error_code(RunErrc::recordDamaged)});
            ++outcome_.left;
            return text;
        }
        // Whatever the record says, no reference may come back leading to nothing (a record
        // cut short says nothing of the copies it would have put back).
        if (const std::optional<std::string> lost = brokenByEarlierText(path, *text)) {
            keepRewritten(path, keptForReference_, EventKind::keptForMissingImage,
                          FileError{Op::read,
                                    {fs::path(*lost)},
                                    std::make_error_code(std::errc::no_such_file_or_directory)});
            return std::nullopt;
        }
        return text;
    }

    // A rewritten file left as the run wrote it: one sheet per reason, a line per file.
    void keepRewritten(const fs::path& path, bool& reported, EventKind why,
                       const FileError& error) {
        if (!reported)
            sheet({why, {}}, error);
        reported = true;
        say(EventKind::rewrittenKept, path);
        ++outcome_.left;
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
    std::optional<std::string> brokenByEarlierText(const fs::path& path, ByteView earlier) {
        const TextKind kind = textKindOf(path.filename().string());
        std::set<std::string> missingNow;
        FileResult error;
        if (const std::optional<Bytes> now = files_.readFile(path, error)) {
            for (std::string& target : urlTargets(path, kind, ByteView(*now))) {
                if (!files_.exists(target))
                    missingNow.insert(std::move(target));
            }
        }
        for (std::string& target : urlTargets(path, kind, earlier)) {
            if (!missingNow.count(target) && !files_.exists(target))
                return std::move(target);
        }
        return std::nullopt;
    }

    void writeBatch(const std::vector<std::pair<fs::path, Bytes>>& batch) {
        if (batch.empty())
            return;
        std::vector<FileManager::Write> writes;
        writes.reserve(batch.size());
        for (const auto& [path, text] : batch) {
            say(EventKind::fileRestoring, path);
            writes.push_back({path, ByteView(text)});
        }
        const std::vector<FileResult> results = files_.writeFiles(writes);
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (i < results.size() && results[i]) {
                sheet({EventKind::fileRestoreFailed, batch[i].first}, *results[i]);
                ++outcome_.left;
            } else {
                ++outcome_.filesRestored;
            }
        }
    }

    void removeAdded(const RunRecords& records) {
        std::set<fs::path> seen;
        for (const RunJournal::Placed& placed : records.placed) {
            progress_.advance();
            if (!seen.insert(placed.path).second || !files_.exists(placed.path))
                continue; // never placed, or removed already
            if (outcome_.left > 0) {
                // Something restored nothing to this file's bytes may still refer to it.
                say(EventKind::addedKept, placed.path);
                continue;
            }
            const Failure message{EventKind::removeFailed, placed.path};
            if (FileResult outside = checkInside(placed.path, Op::remove)) {
                sheet(message, *outside);
                ++outcome_.left;
                continue;
            }
            if (digest(placed.path.native()) != placed.md5) {
                sheet(message, FileError{Op::compare,
                                         {placed.path},
                                         make_error_code(RunErrc::changedSinceRun)});
                ++outcome_.left;
                continue;
            }
            if (stillReferredTo(records, placed.path)) {
                // Whatever the record says: a page that still shows it keeps it.
                sheet(message, FileError{Op::remove,
                                         {placed.path},
                                         make_error_code(RunErrc::stillReferredTo)});
                ++outcome_.left;
                continue;
            }
            say(EventKind::addedRemoving, placed.path);
            if (FileResult error = files_.removeItem(placed.path)) {
                sheet(message, *error);
                ++outcome_.left;
                continue;
            }
            digests_.erase(placed.path.native());
            ++outcome_.filesRemoved;
        }
    }

    // Whether a text file of the site refers to an added file, or may (one could not be read).
    // The site's references are read once, after everything else was put back.
    bool stillReferredTo(const RunRecords& records, const fs::path& added) {
        if (!addedIndex_) {
            std::vector<fs::path> paths;
            for (const RunJournal::Placed& placed : records.placed)
                paths.push_back(placed.path);
            addedIndex_.emplace(ReferenceIndex::build(root_, paths));
        }
        return !addedIndex_->unreadable().empty() || !addedIndex_->referencesTo(added).empty();
    }

    void removeImagesFolder(const RunRecords& records) {
        if (!records.imagesFolder || outcome_.left > 0)
            return;
        const fs::path& folder = *records.imagesFolder;
        if (!files_.isDirectory(folder))
            return; // never made, gone already, or not the run's any more
        if (FileResult outside = checkInside(folder, Op::remove)) {
            sheet({EventKind::folderRemoveFailed, folder}, *outside);
            ++outcome_.left;
            return;
        }
        FileResult error = files_.removeEmptyDirectory(folder);
        if (!error) {
            say(EventKind::addedFolderRemoving, folder);
            outcome_.folderRemoved = true;
        } else if (error->code == std::errc::directory_not_empty) {
            // Files put there after the run are not the run's to remove.
            say(EventKind::folderKept, folder);
        } else {
            sheet({EventKind::folderRemoveFailed, folder}, *error);
            ++outcome_.left;
        }
    }

    const RecordedRun& run_;
    fs::path root_;
    FileManager& files_;
    RunReporter& reporter_;
    Progress ownProgress_;
    Progress& progress_;
    UndoOutcome outcome_;
    std::unordered_map<std::string, std::optional<std::string>> digests_; // by path
    // Copies to be put back with one flush, with the record each comes from.
    static constexpr std::size_t copyBatch = 1024;
    std::vector<std::pair<const RunJournal::Removal*, FileManager::CopyRequest>> pending_;
    std::set<fs::path> realFolders_;
    std::optional<FileError> firstMissing_; // of the copies that could not be put back
    bool keptForCopy_ = false;              // the sheet for files kept for a missing copy was shown
    bool keptForReference_ = false;         // and the one for files kept for a reference to nothing
    UrlReader urls_{root_};
    std::optional<ReferenceIndex> addedIndex_;
    // By digest: files that should hold it (paths in the records, which outlive the undo).
    std::map<std::string, std::vector<const std::string*>> holders_;
};

} // namespace

UndoOutcome undoRun(const RecordedRun& run, FileManager& files, RunReporter& reporter,
                    Progress* progress) {
    Undo undo(run, files, reporter, progress);
    return undo.undo();
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
