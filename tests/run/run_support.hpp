#pragma once

#include "cli/event_text.hpp"
#include "run/file_manager.hpp"
#include "run/reporter.hpp"
#include "run/run.hpp"
#include "scan/scan.hpp"
#include "support/temp_dir.hpp"
#include "util/digest.hpp"
#include "util/progress.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

namespace tolvane::test {

// Records everything a run reports, in one ordered list of events as well. Hand progress to
// the run to see its steps: each call notes the steps taken since the one before.
class RecordingReporter : public RunReporter {
  public:
    struct Sheet {
        std::string message;
        std::optional<FileError> error;
    };

    // Each event as it came, and as the command line words it.
    void report(const Event& event) override {
        notice();
        reported.push_back(event);
        if (event.kind == EventKind::finished) {
            stopped = true;
            events.push_back("stop");
            return;
        }
        if (event.kind == EventKind::completed) {
            completed = true;
            events.push_back("completed");
            return;
        }
        for (const std::string& line : cli::logLines(event))
            lines.push_back(line);
        if (isFailure(event.kind)) {
            sheets.push_back({cli::failureMessage(event), event.failure});
            events.push_back("sheet " + sheets.back().message);
        } else {
            for (const std::string& line : cli::logLines(event))
                events.push_back("log " + line);
        }
    }

    // The kinds reported, in order.
    std::vector<EventKind> kinds() const {
        std::vector<EventKind> found;
        for (const Event& event : reported)
            found.push_back(event.kind);
        return found;
    }

    // The logged lines that start with prefix, in order.
    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& line : lines)
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    }

    std::vector<std::string> lines;
    std::vector<std::string> events;
    std::vector<Sheet> sheets;
    std::vector<Event> reported;
    double maximum = -1;
    int steps = 0;
    bool stopped = false;
    bool completed = false;
    Progress progress;

  private:
    // The counting phase's start ("setup" with its total) and its steps since the last call.
    void notice() {
        const Progress::Snapshot now = progress.snapshot();
        const bool counting = now.phase == Phase::optimizing || now.phase == Phase::undoing ||
                              (now.phase == Phase::finished && maximum >= 0);
        if (!counting)
            return;
        if (maximum < 0) {
            maximum = static_cast<double>(now.total);
            events.push_back("setup " + std::to_string(now.total));
        }
        for (; static_cast<std::uint64_t>(steps) < now.done; ++steps)
            events.push_back("step");
    }
};

// Options that let reporter see a run's steps.
inline RunOptions countedBy(RecordingReporter& reporter) {
    RunOptions options;
    options.progress = &reporter.progress;
    return options;
}

// What a crash at a chosen step throws: nothing after it happens, as when the process dies.
struct SimulatedCrash {};

// Passes every step to another file manager, except the one chosen to fail; counts the steps
// that change the disk, and can stop dead before one of them as a crash would.
class FailingFileManager : public FileManager {
  public:
    enum class Step { createDirectory, move, remove, read, write, link, removeDirectory };

    explicit FailingFileManager(FileManager& inner) : inner_(inner) {}

    // Throws SimulatedCrash instead of taking the change after the first `changes`.
    void crashAfter(std::size_t changes) { crashAfter_ = changes; }
    std::size_t changes() const { return changes_; }
    std::size_t writes() const { return writes_; }

    void failAt(Step step, const std::filesystem::path& path,
                std::errc reason = std::errc::operation_not_permitted) {
        failures_.push_back({step, path, reason});
    }

    bool exists(const std::filesystem::path& path) override { return inner_.exists(path); }
    FileResult createDirectory(const std::filesystem::path& path) override {
        change();
        if (auto code = failing(Step::createDirectory, path))
            return FileError{FileError::Operation::createDirectory, {path}, *code};
        return inner_.createDirectory(path);
    }
    FileResult moveItem(const std::filesystem::path& from,
                        const std::filesystem::path& to) override {
        change();
        if (auto code = failing(Step::move, from))
            return FileError{FileError::Operation::move, {from, to}, *code};
        return inner_.moveItem(from, to);
    }
    FileResult removeItem(const std::filesystem::path& path) override {
        change();
        if (auto code = failing(Step::remove, path))
            return FileError{FileError::Operation::remove, {path}, *code};
        return inner_.removeItem(path);
    }
    FileResult removeEmptyDirectory(const std::filesystem::path& path) override {
        change();
        if (auto code = failing(Step::removeDirectory, path))
            return FileError{FileError::Operation::remove, {path}, *code};
        return inner_.removeEmptyDirectory(path);
    }
    std::optional<Bytes> readFile(const std::filesystem::path& path, FileResult& error) override {
        if (auto code = failing(Step::read, path)) {
            error = FileError{FileError::Operation::read, {path}, *code};
            return std::nullopt;
        }
        return inner_.readFile(path, error);
    }
    FileResult writeFile(const std::filesystem::path& path, ByteView data) override {
        change();
        ++writes_;
        if (auto code = failing(Step::write, path))
            return FileError{FileError::Operation::write, {path}, *code};
        return inner_.writeFile(path, data);
    }
    bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b,
                     FileResult& error) override {
        return inner_.sameContent(a, b, error);
    }
    std::optional<std::uint64_t> fileSize(const std::filesystem::path& path) override {
        return inner_.fileSize(path);
    }
    std::optional<std::string> md5(const std::filesystem::path& path) override {
        return inner_.md5(path);
    }
    bool isDirectory(const std::filesystem::path& path) override {
        return inner_.isDirectory(path);
    }
    std::optional<unsigned> mode(const std::filesystem::path& path) override {
        return inner_.mode(path);
    }
    FileResult linkOrCopy(const std::filesystem::path& from,
                          const std::filesystem::path& to) override {
        change();
        if (auto code = failing(Step::link, to))
            return FileError{FileError::Operation::write, {from, to}, *code};
        return inner_.linkOrCopy(from, to);
    }
    FileResult copyFile(const std::filesystem::path& from, const std::filesystem::path& to,
                        unsigned mode) override {
        change();
        if (auto code = failing(Step::link, to))
            return FileError{FileError::Operation::write, {from, to}, *code};
        return inner_.copyFile(from, to, mode);
    }

  private:
    void change() {
        if (crashAfter_ && changes_ >= *crashAfter_)
            throw SimulatedCrash{};
        ++changes_;
    }

    std::optional<std::error_code> failing(Step step, const std::filesystem::path& path) const {
        for (const auto& [s, p, reason] : failures_) {
            if (s == step && p == path)
                return std::make_error_code(reason);
        }
        return std::nullopt;
    }

    FileManager& inner_;
    std::vector<std::tuple<Step, std::filesystem::path, std::errc>> failures_;
    std::optional<std::size_t> crashAfter_;
    std::size_t changes_ = 0;
    std::size_t writes_ = 0;
};

// A group built by hand from files that already exist, in the order given.
inline DuplicateGroup makeGroup(const std::vector<std::filesystem::path>& copies) {
    DuplicateGroup group;
    group.name = copies.front().filename().string();
    group.md5 = MD5(copies.front()).value_or("");
    group.size = std::filesystem::file_size(copies.front());
    group.copies = copies;
    return group;
}

// Every regular file below root (relative path -> bytes), to compare trees before and after.
inline std::map<std::string, std::string> snapshot(const std::filesystem::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(root).generic_string()] = readFile(entry.path());
    }
    return files;
}

// Temporary files a writer may have left behind.
inline std::vector<std::string> leftoverTemporaries(const std::filesystem::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().find(".tolvane-") != std::string::npos)
            found.push_back(entry.path().string());
    }
    return found;
}

// What the image references of every page and page script lead to, per file in text order:
// the reference and the bytes of the file it names (absent when it names nothing). A
// reference is a quoted text ending in an image suffix; "\/" reads as "/"; a script in a
// page folder resolves from the folder of the page that loads it.
struct Reference {
    std::string text;
    std::optional<std::string> bytes;
};
using ReferenceMap = std::map<std::string, std::vector<Reference>>;

inline bool hasImageSuffix(std::string name) {
    for (auto& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string_view suffix : {".png", ".jpg", ".jpeg", ".gif", ".tiff"}) {
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

inline ReferenceMap referenceTargets(const std::filesystem::path& root) {
    ReferenceMap references;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const auto& path = entry.path();
        const std::string extension = path.extension().string();
        if (!entry.is_regular_file() || (extension != ".html" && extension != ".js"))
            continue;
        std::filesystem::path base = path.parent_path();
        const std::string folderName = base.filename().string();
        if (extension == ".js" && folderName.size() > 6 &&
            folderName.compare(folderName.size() - 6, 6, "_files") == 0)
            base = base.parent_path();
        auto& list = references[path.lexically_relative(root).generic_string()];
        const std::string text = readFile(path);
        for (std::size_t open = text.find('"'); open != std::string::npos;) {
            const std::size_t close = text.find('"', open + 1);
            if (close == std::string::npos)
                break;
            const std::string reference = text.substr(open + 1, close - open - 1);
            open = text.find('"', close + 1);
            if (!hasImageSuffix(reference) || reference.find_first_of("<>\n") != std::string::npos)
                continue;
            std::string plain;
            for (std::size_t i = 0; i < reference.size(); ++i) {
                if (!(reference[i] == '\\' && i + 1 < reference.size() && reference[i + 1] == '/'))
                    plain += reference[i];
            }
            const auto target = (base / plain).lexically_normal();
            std::optional<std::string> bytes;
            if (std::filesystem::is_regular_file(target))
                bytes = readFile(target);
            list.push_back({reference, bytes});
        }
    }
    return references;
}

// The references that led to a file before and now lead nowhere or to other bytes (and
// pages that are gone).
inline std::vector<std::string> brokenReferences(const ReferenceMap& before,
                                                 const std::filesystem::path& root) {
    std::vector<std::string> broken;
    const auto after = referenceTargets(root);
    for (const auto& [file, references] : before) {
        const auto now = after.find(file);
        if (now == after.end()) {
            broken.push_back(file + " is gone");
            continue;
        }
        if (now->second.size() != references.size()) {
            broken.push_back(file + " has another number of image references");
            continue;
        }
        for (std::size_t i = 0; i < references.size(); ++i) {
            if (references[i].bytes && now->second[i].bytes != references[i].bytes)
                broken.push_back(file + ": " + references[i].text + " -> " + now->second[i].text);
        }
    }
    return broken;
}

// Bytes of every regular file, to check that nothing is lost: each file that disappeared
// must have its bytes in a file that is still there.
inline std::vector<std::string> lostFiles(const std::map<std::string, std::string>& before,
                                          const std::filesystem::path& root) {
    const auto after = snapshot(root);
    std::set<std::string> kept;
    for (const auto& [path, bytes] : after)
        kept.insert(bytes);
    std::vector<std::string> lost;
    for (const auto& [path, bytes] : before) {
        if (!after.count(path) && !kept.count(bytes))
            lost.push_back(path);
    }
    return lost;
}

} // namespace tolvane::test
