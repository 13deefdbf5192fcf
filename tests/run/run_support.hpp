#pragma once

#include "cli/event_text.hpp"
#include "run/file_manager.hpp"
#include "run/reporter.hpp"
#include "run/run.hpp"
#include "scan/scan.hpp"
#include "support/temp_dir.hpp"
#include "util/digest.hpp"
#include "util/progress.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace tolvane::test {

// Records everything a run or an undo reports: the events, the command line's log lines and
// sheet messages, and in `events` one ordered list of all of them with the progress's steps
// ("setup N" when the counting starts, "step" per step), as the window would see them.
class RecordingReporter : public RunReporter {
  public:
    void report(const Event& event) override {
        const Progress::Snapshot now = progress.snapshot();
        if (now.phase == Phase::optimizing || now.phase == Phase::undoing || steps >= 0) {
            if (steps < 0)
                events.push_back("setup " + std::to_string(now.total));
            for (steps = std::max(steps, 0); static_cast<std::uint64_t>(steps) < now.done; ++steps)
                events.push_back("step");
        }
        reported.push_back(event);
        if (event.kind == EventKind::finished || event.kind == EventKind::completed) {
            events.push_back(event.kind == EventKind::finished ? "stop" : "completed");
            return;
        }
        for (const std::string& line : cli::logLines(event)) {
            lines.push_back(line);
            if (!isFailure(event.kind))
                events.push_back("log " + line);
        }
        if (isFailure(event.kind)) {
            sheets.push_back(cli::failureMessage(event));
            events.push_back("sheet " + sheets.back());
        }
    }

    // The paths named by the events of the given kinds.
    std::set<std::filesystem::path> pathsOf(std::initializer_list<EventKind> kinds) const {
        std::set<std::filesystem::path> found;
        for (const Event& event : reported) {
            if (std::find(kinds.begin(), kinds.end(), event.kind) != kinds.end())
                found.insert(event.paths.begin(), event.paths.end());
        }
        return found;
    }

    std::vector<Event> reported;
    std::vector<std::string> lines, events, sheets;
    int steps = -1;
    Progress progress;
};

inline RunOptions countedBy(RecordingReporter& reporter) {
    RunOptions options;
    options.progress = &reporter.progress;
    return options;
}

// What a crash at a chosen step throws: nothing after it happens, as when the process dies.
struct SimulatedCrash {};

// Passes every step to another file manager, except the ones chosen to fail; counts the steps
// that change the disk, and can stop dead before one of them as a crash would.
class FailingFileManager : public FileManager {
  public:
    enum class Step { createDirectory, move, remove, read, write, link };
    struct Failure {
        Step step;
        std::filesystem::path path;
        std::errc reason = std::errc::no_space_on_device;
    };
    using Path = const std::filesystem::path&;
    using Op = FileError::Operation;

    explicit FailingFileManager(FileManager& inner, std::vector<Failure> failures = {})
        : inner_(inner), failures_(std::move(failures)) {}

    void crashAfter(std::size_t changes) { crashAfter_ = changes; }
    std::size_t changes() const { return changes_; }

    bool exists(Path path) override { return inner_.exists(path); }
    FileResult createDirectory(Path path) override {
        return change(Step::createDirectory, Op::createDirectory, {path},
                      [&] { return inner_.createDirectory(path); });
    }
    FileResult moveItem(Path from, Path to) override {
        return change(Step::move, Op::move, {from, to}, [&] { return inner_.moveItem(from, to); });
    }
    FileResult removeItem(Path path) override {
        return change(Step::remove, Op::remove, {path}, [&] { return inner_.removeItem(path); });
    }
    FileResult removeEmptyDirectory(Path path) override {
        return change(Step::remove, Op::remove, {path},
                      [&] { return inner_.removeEmptyDirectory(path); });
    }
    std::optional<Bytes> readFile(Path path, FileResult& error) override {
        if (const auto code = failing(Step::read, path)) {
            error = FileError{Op::read, {path}, *code};
            return std::nullopt;
        }
        return inner_.readFile(path, error);
    }
    FileResult writeFile(Path path, ByteView data) override {
        return change(Step::write, Op::write, {path}, [&] { return inner_.writeFile(path, data); });
    }
    bool sameContent(Path a, Path b, FileResult& error) override {
        return inner_.sameContent(a, b, error);
    }
    std::optional<std::uint64_t> fileSize(Path path) override { return inner_.fileSize(path); }
    std::optional<std::string> md5(Path path) override { return inner_.md5(path); }
    bool isDirectory(Path path) override { return inner_.isDirectory(path); }
    std::optional<unsigned> mode(Path path) override { return inner_.mode(path); }
    FileResult linkOrCopy(Path from, Path to) override {
        return change(Step::link, Op::write, {from, to},
                      [&] { return inner_.linkOrCopy(from, to); });
    }
    FileResult copyFile(Path from, Path to, unsigned mode) override {
        return change(Step::link, Op::write, {from, to},
                      [&] { return inner_.copyFile(from, to, mode); });
    }

  private:
    // Takes a change to the disk unless it is chosen to fail (by its last path); throws
    // SimulatedCrash instead after the chosen number of changes.
    template <typename Take>
    FileResult change(Step step, Op operation, std::vector<std::filesystem::path> paths,
                      Take take) {
        if (crashAfter_ && changes_ >= *crashAfter_)
            throw SimulatedCrash{};
        ++changes_;
        if (const auto code = failing(step, paths.back()))
            return FileError{operation, std::move(paths), *code};
        return take();
    }
    std::optional<std::error_code> failing(Step step, Path path) const {
        for (const auto& failure : failures_) {
            if (failure.step == step && failure.path == path)
                return std::make_error_code(failure.reason);
        }
        return std::nullopt;
    }

    FileManager& inner_;
    std::vector<Failure> failures_;
    std::optional<std::size_t> crashAfter_;
    std::size_t changes_ = 0;
};

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

// What the image references of every page, page script and stylesheet lead to, per file in
// text order: the reference and the bytes of the file it names (absent when it names nothing).
// The ASCII test files are read as a browser reads them: UTF-16 and UTF-32 without their
// byte-order marks and NUL bytes. A quoted text ending in an image suffix is a reference ("\/"
// reads as "/"), and so is the inside of url( ), its CSS escapes decoded; a script resolves
// from the folder of the page that loads it, one in a page folder also when none does.
struct Reference {
    std::string text;
    std::optional<std::string> bytes;
};
using ReferenceMap = std::map<std::string, std::vector<Reference>>;

inline bool hasImageSuffix(std::string name) {
    for (auto& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string_view suffix : {".png", ".jpg", ".jpeg", ".gif", ".tiff"}) {
        if (name.size() > suffix.size() && name.ends_with(suffix))
            return true;
    }
    return false;
}

inline ReferenceMap referenceTargets(const std::filesystem::path& root) {
    ReferenceMap references;
    std::map<std::filesystem::path, std::filesystem::path> loadedFrom; // script -> page folder
    static const std::regex script("src=\"([^\"]+\\.js)\"");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string text = entry.path().extension() == ".html" ? readFile(entry.path()) : "";
        for (std::sregex_iterator at(text.begin(), text.end(), script), end; at != end; ++at)
            loadedFrom[(entry.path().parent_path() / at->str(1)).lexically_normal()] =
                entry.path().parent_path();
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const auto& path = entry.path();
        const std::string extension = path.extension().string();
        if (!entry.is_regular_file() ||
            (extension != ".html" && extension != ".js" && extension != ".css"))
            continue;
        std::filesystem::path base = path.parent_path();
        const std::string folder = base.filename().string();
        if (const auto loader = loadedFrom.find(path); loader != loadedFrom.end())
            base = loader->second;
        else if (extension == ".js" && folder.size() > 6 && folder.ends_with("_files"))
            base = base.parent_path();
        auto& list = references[path.lexically_relative(root).generic_string()];
        const auto add = [&](const std::string& reference) {
            if (!hasImageSuffix(reference) || reference.find_first_of("<>\n") != std::string::npos)
                return;
            std::string plain;
            for (std::size_t i = 0; i < reference.size(); ++i) {
                if (!(reference[i] == '\\' && i + 1 < reference.size() && reference[i + 1] == '/'))
                    plain += reference[i];
            }
            const auto target = (base / plain).lexically_normal();
            list.push_back({reference, std::filesystem::is_regular_file(target)
                                           ? std::optional(readFile(target))
                                           : std::nullopt});
        };
        std::string text;
        for (const char c : readFile(path)) {
            if (c != '\0' && c != '\xFF' && c != '\xFE')
                text += c;
        }
        for (std::size_t open = text.find('"'); open != std::string::npos;) {
            const std::size_t close = text.find('"', open + 1);
            if (close == std::string::npos)
                break;
            if (const std::string value = text.substr(open + 1, close - open - 1);
                value.find("url(") == std::string::npos)
                add(value);
            open = text.find('"', close + 1);
        }
        for (std::size_t at = text.find("url("); at != std::string::npos;
             at = text.find("url(", at + 1)) {
            std::string url;
            for (std::size_t i = at + 4; i < text.size() && text[i] != ')'; ++i) {
                if (text[i] != '\\') {
                    url += text[i];
                } else if (std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                    std::size_t digits = 0;
                    url += static_cast<char>(std::stoi(text.substr(i + 1, 6), &digits, 16));
                    i += digits + (text[i + 1 + digits] == ' ' ? 1 : 0);
                } else {
                    url += text[++i];
                }
            }
            add(url);
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
