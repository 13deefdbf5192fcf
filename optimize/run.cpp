#include "optimize/run.hpp"

#include "optimize/page_rewrite.hpp"
#include "optimize/run_references.hpp"

#include <optional>

namespace tolvane {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string alternativeImageName(const std::string& name, const std::string& md5) {
    const fs::path path(name);
    return path.stem().string() + "-" + md5.substr(0, 8) + path.extension().string();
}

namespace {

bool samePath(const fs::path& a, const fs::path& b) {
    return a.lexically_normal() == b.lexically_normal();
}

// Counts the sheets on their way to the caller's reporter.
class CountingReporter : public RunReporter {
  public:
    explicit CountingReporter(RunReporter& target) : target_(target) {}
    void log(const std::string& line) override { target_.log(line); }
    void popupErrorMessage(const std::string& message,
                           const std::optional<FileError>& error) override {
        ++sheets;
        target_.popupErrorMessage(message, error);
    }
    void progressSetup(double maximum) override { target_.progressSetup(maximum); }
    void progressStep() override { target_.progressStep(); }
    void progressStop() override { target_.progressStop(); }
    void runCompleted() override { target_.runCompleted(); }

    int sheets = 0;

  private:
    RunReporter& target_;
};

// How a group's kept copy comes to be at a candidate name in the images folder.
enum class Placement {
    moveFirst,   // nothing there: the first copy moves there
    deleteFirst, // the group's content is there already: the first copy goes
    firstIsKept, // the first copy is that file
    taken,       // other content is there
    firstUnreadable,
};

class Run {
  public:
    Run(const fs::path& root, FileManager& files, RunReporter& reporter, const Localize& localize)
        : root_(root), imagesFolder_(root / "images"), files_(files), reporter_(reporter),
          localize_(localize) {}

    RunOutcome run(const std::vector<DuplicateGroup>& duplicates) {
        reporter_.log("Starting optimization - calculate number of actions");
        double maximum = 0;
        for (const auto& group : duplicates)
            maximum += 2.0 * static_cast<double>(group.copies.size());
        reporter_.progressSetup(maximum);
        // Every reference to every copy, found before anything is touched.
        references_.emplace(root_, duplicates, files_);

        if (!files_.exists(imagesFolder_)) {
            reporter_.log(localize_("Creating images folder in root"));
            if (FileResult error = files_.createDirectory(imagesFolder_))
                return end(localize_("Unable to create images folder"), *error);
        }
        for (const auto& group : duplicates) {
            if (!group.copies.empty() && !handleGroup(group))
                return finish(false);
        }
        return finish(true);
    }

  private:
    RunOutcome end(const std::string& message, const FileError& error) {
        reporter_.popupErrorMessage(message, error);
        return finish(false);
    }

    RunOutcome finish(bool completed) {
        reporter_.progressStop();
        outcome_.completed = completed;
        outcome_.errorSheets = reporter_.sheets;
        if (completed)
            reporter_.runCompleted();
        return outcome_;
    }

    Placement place(const fs::path& first, const fs::path& candidate, FileResult& error) {
        if (!files_.exists(candidate))
            return Placement::moveFirst;
        if (samePath(first, candidate))
            return Placement::firstIsKept;
        if (files_.sameContent(first, candidate, error))
            return Placement::deleteFirst;
        if (error && !error->paths.empty() && samePath(error->paths.front(), first))
            return Placement::firstUnreadable;
        error.reset(); // the candidate cannot be read: count it as other content
        return Placement::taken;
    }

    // Handles one group; false when the run ends.
    bool handleGroup(const DuplicateGroup& group) {
        auto started = Clock::now();
        const auto& copies = group.copies;
        const fs::path& first = copies.front();
        const std::string N = first.filename().string();
        const fs::path destination = imagesFolder_ / N;
        const std::string moveMessage =
            localize_("Unable to move ") + N + localize_(" to the site images folder");

        FileResult error;
        fs::path kept = destination;
        Placement placement = place(first, destination, error);
        if (placement == Placement::taken) {
            std::string digest = group.md5;
            if (digest.size() < 8)
                digest = files_.md5(first).value_or("");
            if (digest.size() >= 8) {
                kept = imagesFolder_ / alternativeImageName(N, digest);
                placement = place(first, kept, error);
            } else {
                placement = Placement::firstUnreadable;
                error = FileError{FileError::Operation::read, {first},
                                  std::make_error_code(std::errc::io_error)};
            }
        }
        if (placement == Placement::firstUnreadable)
            return fileStepFailed(moveMessage, *error, started);
        if (placement == Placement::taken) {
            // Both names hold other images: leave this group as it is.
            reporter_.popupErrorMessage(
                moveMessage, FileError{FileError::Operation::move, {first, kept},
                                       make_error_code(RunErrc::destinationTaken)});
            for (std::size_t i = 0; i < 2 * copies.size(); ++i)
                reporter_.progressStep();
            outcome_.fileTime += Clock::now() - started;
            return true;
        }

        // A copy that some file refers to in a way that cannot be rewritten stays where it is.
        // The group is handled only if that still saves a copy: a first copy that must stay
        // is copied to images/, which costs one.
        std::vector<std::vector<KeepReason>> keep(copies.size());
        int saved = 0;
        for (std::size_t i = 0; i < copies.size(); ++i) {
            if (i == 0 ? placement == Placement::firstIsKept
                       : samePath(copies[i], kept) || samePath(copies[i], destination))
                continue;
            keep[i] = references_->reasonsToKeep(copies[i]);
            if (i > 0 || placement == Placement::deleteFirst)
                saved += keep[i].empty() ? 1 : 0;
            else if (!keep[i].empty())
                --saved;
        }
        const bool anyGoes = saved > 0;
        if (!anyGoes) {
            for (std::size_t i = 0; i < copies.size(); ++i)
                references_->reportKept(copies[i], keep[i], reporter_, localize_);
            for (std::size_t i = 0; i < 2 * copies.size(); ++i)
                reporter_.progressStep();
            outcome_.fileTime += Clock::now() - started;
            return true;
        }

        reporter_.log(localize_("Moving image file: ") + N + localize_(" to folder: ") +
                      kept.string());
        reporter_.log(first.string());
        reporter_.log(kept.string());

        std::vector<bool> gone(copies.size(), false);
        references_->reportKept(first, keep[0], reporter_, localize_);
        if (placement == Placement::moveFirst && !keep[0].empty()) {
            // The first copy stays for what still refers to it; images/ gets its bytes.
            if (FileResult copyError = references_->copyFirst(first, kept))
                return fileStepFailed(moveMessage, *copyError, started);
        } else if (placement == Placement::moveFirst) {
            if (FileResult moveError = files_.moveItem(first, kept))
                return fileStepFailed(moveMessage, *moveError, started);
            gone[0] = true;
        } else if (placement == Placement::deleteFirst && keep[0].empty()) {
            const auto size = files_.fileSize(first);
            if (FileResult removeError = files_.removeItem(first))
                return fileStepFailed(moveMessage, *removeError, started);
            gone[0] = true;
            countRemoved(size);
        }
        reporter_.progressStep();

        for (std::size_t i = 1; i < copies.size(); ++i) {
            const fs::path& copy = copies[i];
            // The kept copy, or the file an earlier run kept under the group's name, stays.
            if (samePath(copy, kept) || samePath(copy, destination)) {
                reporter_.progressStep();
                continue;
            }
            const std::string folder = copy.parent_path().string();
            const std::string removeMessage =
                localize_("Unable to remove ") + N + localize_(" from ") + folder;
            reporter_.log(localize_("Removing duplicate file: ") + N + localize_(" from ") + folder);
            if (!keep[i].empty()) {
                references_->reportKept(copy, keep[i], reporter_, localize_);
                reporter_.progressStep();
                continue;
            }
            FileResult compareError;
            if (!files_.sameContent(copy, kept, compareError)) {
                // Changed since the scan: its bytes are kept nowhere else, so it stays.
                reporter_.popupErrorMessage(
                    removeMessage, compareError ? *compareError
                                                : FileError{FileError::Operation::compare,
                                                            {copy, kept},
                                                            make_error_code(RunErrc::contentDiffers)});
                reporter_.progressStep();
                continue;
            }
            const auto size = files_.fileSize(copy);
            if (FileResult removeError = files_.removeItem(copy)) {
                reporter_.popupErrorMessage(removeMessage, *removeError);
                outcome_.fileTime += Clock::now() - started;
                // The copies already gone must not leave their pages pointing at nothing.
                rewritePages(group, gone, kept, false);
                return false;
            }
            gone[i] = true;
            countRemoved(size);
            reporter_.progressStep();
        }
        outcome_.fileTime += Clock::now() - started;
        rewritePages(group, gone, kept, true);
        return true;
    }

    bool fileStepFailed(const std::string& message, const FileError& error,
                        Clock::time_point started) {
        reporter_.popupErrorMessage(message, error);
        outcome_.fileTime += Clock::now() - started;
        return false;
    }

    void countRemoved(std::optional<std::uint64_t> size) {
        ++outcome_.copiesRemoved;
        outcome_.bytesSaved += size.value_or(0);
    }

    void rewritePages(const DuplicateGroup& group, const std::vector<bool>& gone,
                      const fs::path& kept, bool stepProgress) {
        const auto started = Clock::now();
        // Every reference the index found to a copy that went now leads to the kept copy:
        // first in the page file and page script beside each copy, then in any other file.
        std::vector<fs::path> goneCopies;
        for (std::size_t i = 0; i < group.copies.size(); ++i) {
            if (gone[i])
                goneCopies.push_back(group.copies[i]);
        }
        references_->beginGroup();
        for (std::size_t i = 0; i < group.copies.size(); ++i) {
            const fs::path folder = group.copies[i].parent_path();
            if (gone[i]) {
                if (const auto page = pageFilesFor(folder)) {
                    for (const auto& file : {page->pageFile, page->pageScript}) {
                        if (references_->rewritePageFile(file, goneCopies, kept, reporter_,
                                                         localize_) == RewriteResult::rewritten)
                            ++outcome_.filesRewritten;
                    }
                }
            }
            if (stepProgress)
                reporter_.progressStep();
        }
        outcome_.filesRewritten +=
            references_->rewriteOtherFiles(goneCopies, kept, reporter_, localize_);
        restoreStillReferred(goneCopies, kept);
        outcome_.rewriteTime += Clock::now() - started;
    }

    // A file that could not be rewritten after all still refers to copies that went: their
    // bytes are in kept, so each is put back where the file expects it.
    void restoreStillReferred(const std::vector<fs::path>& goneCopies, const fs::path& kept) {
        for (const fs::path& copy : references_->stillReferred(goneCopies)) {
            const std::string N = copy.filename().string();
            const std::string folder = copy.parent_path().string();
            reporter_.log(localize_("Restoring duplicate file: ") + N + localize_(" to ") + folder);
            FileResult error;
            std::optional<Bytes> bytes = files_.readFile(kept, error);
            if (bytes && !files_.exists(copy))
                error = files_.writeFile(copy, *bytes);
            if (error) {
                reporter_.popupErrorMessage(
                    localize_("Unable to restore ") + N + localize_(" to ") + folder, *error);
            } else if (bytes && outcome_.copiesRemoved > 0) {
                --outcome_.copiesRemoved;
                outcome_.bytesSaved -= std::min<std::uint64_t>(outcome_.bytesSaved, bytes->size());
            }
        }
    }

    fs::path root_;
    fs::path imagesFolder_;
    FileManager& files_;
    CountingReporter reporter_;
    const Localize& localize_;
    RunOutcome outcome_;
    std::optional<RunReferences> references_;
};

} // namespace

RunOutcome startOptimization(const std::vector<DuplicateGroup>& duplicates, const fs::path& root,
                             FileManager& files, RunReporter& reporter, const Localize& localize) {
    Run run(root, files, reporter, localize);
    return run.run(duplicates);
}

} // namespace tolvane
