#include "run/run_journal.hpp"

#include "util/digest.hpp"
#include "util/file_io.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

namespace fs = std::filesystem;

namespace {

// Version 2 ends every line after the header with a check field; version 1 has none.
constexpr std::string_view header = "tolvane-run\t2";
constexpr std::string_view uncheckedHeader = "tolvane-run\t1";
constexpr std::size_t checkDigits = 8;
constexpr const char* rootFile = "root";
constexpr const char* recordsFile = "records";
constexpr const char* oldTextsFile = "old-texts";
// The records' length after their last append: records found shorter were cut since.
constexpr const char* lengthFile = "length";

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// The two places of a record that reopening it needs: its first line, and where its last
// complete line ends (a line a crash cut short after it must not run into the next). Only
// those places are read: the record of a large run is long.
struct RecordEdges {
    std::string first;
    off_t completeSize = 0;
    off_t size = 0;
};

std::optional<RecordEdges> recordEdges(int fd, std::error_code& error) {
    RecordEdges edges;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = lastError();
        return std::nullopt;
    }
    edges.size = info.st_size;
    edges.first.resize(std::max(header.size(), uncheckedHeader.size()) + 1);
    const auto firstSize = ::pread(fd, edges.first.data(), edges.first.size(), 0);
    if (firstSize < 0) {
        error = lastError();
        return std::nullopt;
    }
    edges.first.resize(static_cast<std::size_t>(firstSize));
    edges.first.resize(std::min(edges.first.size(), edges.first.find('\n')));
    char chunk[64 * 1024];
    for (off_t end = edges.size; end > 0 && edges.completeSize == 0;) {
        const off_t start = std::max<off_t>(0, end - static_cast<off_t>(sizeof chunk));
        const auto got = ::pread(fd, chunk, static_cast<std::size_t>(end - start), start);
        if (got != end - start) {
            error = got < 0 ? lastError() : std::make_error_code(std::errc::io_error);
            return std::nullopt;
        }
        for (off_t k = got; k > 0 && edges.completeSize == 0; --k) {
            if (chunk[k - 1] == '\n')
                edges.completeSize = start + k;
        }
        end = start;
    }
    return edges;
}

// A field of a record line: tabs, line ends and backslashes escaped, so any file name fits.
std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::string joined(std::initializer_list<std::string_view> fields) {
    std::string text;
    for (const std::string_view field : fields) {
        if (!text.empty())
            text += '\t';
        text += escape(field);
    }
    return text;
}

// The start of a line's digest: a line damaged anywhere inside no longer matches it.
std::string lineCheck(std::string_view text) {
    return md5(text).substr(0, checkDigits);
}

// A record line with its check field.
std::string line(std::initializer_list<std::string_view> fields) {
    std::string text = joined(fields);
    const std::string check = lineCheck(text);
    return text + '\t' + check + '\n';
}

// A line as an older run wrote it, without a check field.
std::string uncheckedLine(std::initializer_list<std::string_view> fields) {
    return joined(fields) + '\n';
}

// The line without its check field, when the field matches; absent for a damaged line.
std::optional<std::string_view> checkedPart(std::string_view line) {
    const std::size_t tab = line.rfind('\t');
    if (tab == std::string_view::npos || line.size() - tab - 1 != checkDigits)
        return std::nullopt;
    const std::string_view text = line.substr(0, tab);
    if (line.substr(tab + 1) != lineCheck(text))
        return std::nullopt;
    return text;
}

std::optional<std::uint64_t> number(std::string_view text, int base = 10) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool isMd5(std::string_view text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string octal(unsigned mode) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, mode & 07777u, 8);
    return std::string(buffer, result.ptr);
}

// The site root in the one form its runs are filed under: absolute, normalized, links
// resolved as far as the path exists, no trailing separator.
fs::path siteKeyPath(const fs::path& root) {
    std::error_code error;
    fs::path path = fs::absolute(root, error);
    if (error)
        path = root;
    fs::path resolved = fs::weakly_canonical(path, error);
    path = (error ? path : resolved).lexically_normal();
    if (path.filename().empty() && path.has_relative_path())
        path = path.parent_path();
    return path;
}

// The root as a run names it in its records: absolute and normalized, links kept.
fs::path namedRoot(const fs::path& root) {
    std::error_code error;
    fs::path path = fs::absolute(root, error);
    if (error)
        path = root;
    path = path.lexically_normal();
    if (path.filename().empty() && path.has_relative_path())
        path = path.parent_path();
    return path;
}

fs::path siteFolder(const fs::path& root) {
    return journalHome() / "runs" / md5(siteKeyPath(root).string()).substr(0, 16);
}

// Creates the missing folders of path, private to the user: they hold old page texts.
std::error_code makeFolders(const fs::path& path) {
    if (path.empty())
        return {};
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? std::error_code()
                                     : std::make_error_code(std::errc::not_a_directory);
    if (path.has_relative_path() && path.parent_path() != path) {
        if (std::error_code error = makeFolders(path.parent_path()))
            return error;
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return lastError();
    if (path.has_parent_path())
        syncFolder(path.parent_path());
    return {};
}

std::string utcStamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

std::optional<std::chrono::system_clock::time_point> parseStamp(std::string_view stamp) {
    // yyyymmddTHHMMSSZ
    if (stamp.size() != 16 || stamp[8] != 'T' || stamp[15] != 'Z')
        return std::nullopt;
    auto field = [&](std::size_t at, std::size_t size) { return number(stamp.substr(at, size)); };
    const auto year = field(0, 4), month = field(4, 2), day = field(6, 2);
    const auto hour = field(9, 2), minute = field(11, 2), second = field(13, 2);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    std::tm parts{};
    parts.tm_year = static_cast<int>(*year) - 1900;
    parts.tm_mon = static_cast<int>(*month) - 1;
    parts.tm_mday = static_cast<int>(*day);
    parts.tm_hour = static_cast<int>(*hour);
    parts.tm_min = static_cast<int>(*minute);
    parts.tm_sec = static_cast<int>(*second);
    const std::time_t seconds = ::timegm(&parts);
    if (seconds == static_cast<std::time_t>(-1))
        return std::nullopt;
    return std::chrono::system_clock::from_time_t(seconds);
}

// "<stamp>-<sequence>": the stamp and the sequence number, or nothing for another name.
std::optional<std::pair<std::string, std::uint64_t>> parseRunName(std::string_view name) {
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || !parseStamp(name.substr(0, dash)))
        return std::nullopt;
    const auto sequence = number(name.substr(dash + 1));
    if (!sequence || name.size() - dash - 1 != 6)
        return std::nullopt;
    return std::pair{std::string(name.substr(0, dash)), *sequence};
}

// Every complete line of a record file; a last line without its line end is left out.
std::vector<std::string_view> completeLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string_view::npos;
         end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::optional<std::vector<std::string>> fields(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = text.find('\t', start);
        auto part =
            unescape(text.substr(start, tab == std::string_view::npos ? text.npos : tab - start));
        if (!part)
            return std::nullopt;
        parts.push_back(std::move(*part));
        if (tab == std::string_view::npos)
            return parts;
        start = tab + 1;
    }
}

// What one run's records say: the counts always, the records themselves when asked for.
struct Reading {
    bool valid = false; // the header is there
    RunRecords records;
    bool finished = false;
    std::optional<RunJournal::Summary> summary;
    RunJournal::Summary bound;
    bool undone = false;
    bool undoLeftSomething = false;
    std::size_t changes = 0; // records of a change to the site
};

std::string_view kind(std::string_view line) {
    return line.substr(0, line.find('\t'));
}

Reading readRecords(std::string_view text, bool keep) {
    Reading reading;
    const std::vector<std::string_view> lines = completeLines(text);
    if (lines.empty() || (lines.front() != header && lines.front() != uncheckedHeader))
        return reading;
    reading.valid = true;
    const bool checked = lines.front() == header;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::optional<std::string_view> body =
            checked ? checkedPart(lines[i]) : std::optional(lines[i]);
        const auto parts = body ? fields(*body) : std::nullopt;
        bool ok = parts && !parts->empty();
        if (ok) {
            const std::vector<std::string>& f = *parts;
            const std::string& type = f[0];
            if (type == "images" && f.size() == 2) {
                reading.records.imagesFolder = fs::path(f[1]);
            } else if (type == "place" && f.size() == 4 && isMd5(f[2]) && number(f[3])) {
                if (keep)
                    reading.records.placed.push_back({f[1], f[2], *number(f[3])});
            } else if (type == "rewrite" && f.size() == 6 && number(f[2]) && number(f[3]) &&
                       isMd5(f[4]) && isMd5(f[5])) {
                ++reading.bound.filesRewritten;
                if (keep)
                    reading.records.rewrites.push_back(
                        {f[1], *number(f[2]), *number(f[3]), f[4], f[5]});
            } else if (type == "kept" && f.size() == 2) {
                // The last rewrite of that file was not taken after all.
                if (reading.changes > 0)
                    --reading.changes;
                if (reading.bound.filesRewritten > 0)
                    --reading.bound.filesRewritten;
                auto& rewrites = reading.records.rewrites;
                const auto last =
                    std::find_if(rewrites.rbegin(), rewrites.rend(),
                                 [&](const RunRecords::Rewrite& r) { return r.path == f[1]; });
                if (last != rewrites.rend())
                    rewrites.erase(std::next(last).base());
            } else if (type == "remove" && f.size() == 6 && isMd5(f[3]) && number(f[4]) &&
                       number(f[5], 8)) {
                ++reading.bound.copiesRemoved;
                reading.bound.bytesSaved += *number(f[4]);
                if (keep)
                    reading.records.removals.push_back(
                        {f[1], f[2], f[3], *number(f[4]), static_cast<unsigned>(*number(f[5], 8))});
            } else if (type == "summary" && f.size() == 4 && number(f[1]) && number(f[2]) &&
                       number(f[3])) {
                reading.summary =
                    RunJournal::Summary{static_cast<std::size_t>(*number(f[1])), *number(f[2]),
                                        static_cast<std::size_t>(*number(f[3]))};
            } else if (type == "finish" && f.size() == 1) {
                reading.finished = true;
            } else if (type == "undo" && f.size() == 3) {
                // An undo under way: until its end is recorded, it left something.
                reading.undone = true;
                reading.undoLeftSomething = true;
            } else if (type == "undone" && f.size() >= 2 && f[1] == "complete") {
                // The last undo decides: one that finishes what an earlier one left.
                reading.undone = true;
                reading.undoLeftSomething = false;
            } else if (type == "undone" && f.size() >= 2 && f[1] == "incomplete") {
                reading.undone = true;
                reading.undoLeftSomething = true;
            } else {
                ok = false;
            }
        }
        if (!ok)
            reading.records.damaged = true;
        else if (kind(lines[i]) != "summary" && kind(lines[i]) != "finish" &&
                 kind(lines[i]) != "undone" && kind(lines[i]) != "kept" && kind(lines[i]) != "undo")
            ++reading.changes;
    }
    return reading;
}

// Whether records read from folder are shorter than they were once written: then their last
// lines are lost, though each line left reads whole. Unknown (no length kept) is not cut.
bool cutSinceWritten(const fs::path& folder, std::size_t size) {
    const auto text = readWholeFile(folder / lengthFile);
    if (!text || text->empty() || text->back() != '\n')
        return false;
    const auto length =
        number(std::string_view(reinterpret_cast<const char*>(text->data()), text->size() - 1));
    return length && *length > size;
}

// The records of the run in folder, read as above, damaged too when cut since written.
Reading readRecordsIn(const fs::path& folder, const Bytes& records, bool keep) {
    Reading reading = readRecords(
        std::string_view(reinterpret_cast<const char*>(records.data()), records.size()), keep);
    reading.records.damaged = reading.records.damaged || cutSinceWritten(folder, records.size());
    return reading;
}

std::optional<RecordedRun> readRun(const fs::path& folder, const fs::path& key) {
    const auto name = parseRunName(folder.filename().string());
    if (!name)
        return std::nullopt;
    const auto rootText = readWholeFile(folder / rootFile);
    if (!rootText)
        return std::nullopt;
    const std::string_view rootView(reinterpret_cast<const char*>(rootText->data()),
                                    rootText->size());
    const auto rootLines = completeLines(rootView);
    const auto root = rootLines.size() == 1 ? unescape(rootLines.front()) : std::nullopt;
    if (!root || siteKeyPath(*root) != key)
        return std::nullopt; // another site whose key begins the same
    const auto records = readWholeFile(folder / recordsFile);
    if (!records)
        return std::nullopt;
    const Reading reading = readRecordsIn(folder, *records, false);
    if (!reading.valid)
        return std::nullopt;

    RecordedRun run;
    run.folder = folder;
    run.root = *root;
    run.stamp = name->first;
    run.time = *parseStamp(name->first);
    run.finished = reading.finished;
    run.summaryIsUpperBound = !(reading.finished && reading.summary);
    run.summary = run.summaryIsUpperBound ? reading.bound : *reading.summary;
    run.changes = reading.changes > 0 || reading.records.damaged;
    run.damaged = reading.records.damaged;
    run.undone = reading.undone;
    run.undoLeftSomething = reading.undoLeftSomething;
    return run;
}

} // namespace

fs::path journalHome() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data && fs::path(data).is_absolute())
        return fs::path(data) / "tolvane";
    const char* home = std::getenv("HOME");
    std::string homeFolder = home && *home ? home : "";
    if (homeFolder.empty()) {
        if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
            homeFolder = user->pw_dir;
    }
    return fs::path(homeFolder) / ".local" / "share" / "tolvane";
}

std::optional<RunJournal> RunJournal::start(const fs::path& root, std::error_code& error) {
    error.clear();
    const fs::path site = siteFolder(root);
    if ((error = makeFolders(site)))
        return std::nullopt;

    // The sequence goes on from the site's newest run, so names sort in the order made even
    // within one second.
    std::uint64_t sequence = 0;
    std::error_code listError;
    for (const auto& entry : fs::directory_iterator(site, listError)) {
        if (const auto name = parseRunName(entry.path().filename().string()))
            sequence = std::max(sequence, name->second);
    }
    if (listError) {
        error = listError;
        return std::nullopt;
    }
    const std::string stamp = utcStamp(std::chrono::system_clock::now());
    fs::path folder;
    for (;;) {
        ++sequence;
        if (sequence > 999999) {
            error = std::make_error_code(std::errc::file_exists);
            return std::nullopt;
        }
        std::string digits = std::to_string(sequence);
        digits.insert(0, 6 - digits.size(), '0');
        folder = site / (stamp + "-" + digits);
        if (::mkdir(folder.c_str(), 0700) == 0)
            break;
        if (errno != EEXIST) {
            error = lastError();
            return std::nullopt;
        }
    }

    const std::string rootLine = escape(namedRoot(root).string()) + "\n";
    const std::string firstLine = std::string(header) + "\n";
    if ((error = writeFileAtomically(folder / rootFile, asBytes(rootLine))) ||
        (error = writeFileAtomically(folder / recordsFile, asBytes(firstLine))) ||
        (error = writeFileAtomically(folder / oldTextsFile, ByteView())) ||
        (error = syncFolder(folder)) || (error = syncFolder(site))) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        return std::nullopt;
    }
    return RunJournal(folder, firstLine.size());
}

std::error_code RunJournal::append(const std::string& lines) {
    const fs::path file = folder_ / recordsFile;
    Fd out(::open(file.c_str(), O_WRONLY | O_CLOEXEC));
    struct stat info {};
    if (out.fd < 0 || ::fstat(out.fd, &info) != 0)
        return lastError();
    // What a failed append left is not a record: cut it off before the next.
    if (static_cast<std::uint64_t>(info.st_size) != recordsSize_ &&
        ::ftruncate(out.fd, static_cast<off_t>(recordsSize_)) != 0)
        return lastError();
    if (::lseek(out.fd, static_cast<off_t>(recordsSize_), SEEK_SET) < 0 ||
        !writeFully(out.fd, lines) || ::fdatasync(out.fd) != 0)
        return lastError();
    recordsSize_ += lines.size();
    // Written once the records are on disk, so that a crash leaves it short, never long; at
    // worst a cut goes unseen, as it did before this was kept.
    Fd length(
        ::open((folder_ / lengthFile).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (length.fd >= 0)
        writeFully(length.fd, std::to_string(recordsSize_) + "\n");
    return {};
}

std::error_code RunJournal::imagesFolderCreated(const fs::path& folder) {
    return append(line({"images", folder.string()}));
}

std::error_code RunJournal::placing(const std::vector<Placed>& files) {
    std::string lines;
    for (const Placed& file : files)
        lines += line({"place", file.path.string(), file.md5, std::to_string(file.size)});
    return lines.empty() ? std::error_code() : append(lines);
}

std::error_code RunJournal::rewriting(const std::vector<Rewrite>& files) {
    if (files.empty())
        return {};
    // The earlier texts go first, in one flush; the records name where each one is.
    const fs::path pack = folder_ / oldTextsFile;
    Fd out(::open(pack.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    struct stat info {};
    if (out.fd < 0 || ::fstat(out.fd, &info) != 0)
        return lastError();
    std::uint64_t offset = static_cast<std::uint64_t>(info.st_size);
    std::string lines;
    for (const Rewrite& file : files) {
        if (!writeFully(out.fd, file.oldText))
            return lastError();
        lines += line({"rewrite", file.path.string(), std::to_string(offset),
                       std::to_string(file.oldText.size()), md5(file.oldText), file.newMd5});
        offset += file.oldText.size();
    }
    if (::fdatasync(out.fd) != 0)
        return lastError();
    return append(lines);
}

std::error_code RunJournal::notRewritten(const std::vector<fs::path>& files) {
    std::string lines;
    for (const fs::path& file : files)
        lines += line({"kept", file.string()});
    return lines.empty() ? std::error_code() : append(lines);
}

std::error_code RunJournal::removing(const std::vector<Removal>& copies) {
    std::string lines;
    for (const Removal& copy : copies)
        lines += line({"remove", copy.copy, copy.kept, copy.md5, std::to_string(copy.size),
                       octal(copy.mode)});
    return lines.empty() ? std::error_code() : append(lines);
}

std::error_code RunJournal::finished(const Summary& summary) {
    return append(
        line({"summary", std::to_string(summary.copiesRemoved), std::to_string(summary.bytesSaved),
              std::to_string(summary.filesRewritten)}) +
        line({"finish"}));
}

std::optional<RunJournal> RunJournal::reopen(const fs::path& folder, std::error_code& error) {
    Fd in(::open((folder / recordsFile).c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) {
        error = lastError();
        return std::nullopt;
    }
    const std::optional<RecordEdges> edges = recordEdges(in.fd, error);
    if (!edges)
        return std::nullopt;
    if (edges->first != header && edges->first != uncheckedHeader) {
        error = std::make_error_code(std::errc::illegal_byte_sequence);
        return std::nullopt;
    }
    return RunJournal(folder, static_cast<std::uint64_t>(edges->completeSize),
                      edges->first == header);
}

std::error_code RunJournal::undoing(std::string_view step, const std::vector<std::string>& paths) {
    std::string lines;
    for (const std::string& path : paths)
        lines += checked_ ? line({"undo", step, path}) : uncheckedLine({"undo", step, path});
    return lines.empty() ? std::error_code() : append(lines);
}

std::vector<RecordedRun> recordedRuns(const fs::path& root) {
    std::vector<RecordedRun> runs;
    const fs::path site = siteFolder(root);
    const fs::path key = siteKeyPath(root);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(site, error)) {
        if (auto run = readRun(entry.path(), key))
            runs.push_back(std::move(*run));
    }
    // Newest first by the name: its time stamp, then its sequence within the second.
    std::sort(runs.begin(), runs.end(), [](const RecordedRun& a, const RecordedRun& b) {
        return a.folder.filename().string() > b.folder.filename().string();
    });
    bool blocked = false;
    for (RecordedRun& run : runs) {
        run.undoable = !blocked && (!run.undone || run.undoLeftSomething) && run.changes;
        blocked = blocked || run.undoLeftSomething;
    }
    return runs;
}

std::optional<RecordedRun> lastUndoableRun(const fs::path& root) {
    for (RecordedRun& run : recordedRuns(root)) {
        if (run.undoable)
            return std::move(run);
    }
    return std::nullopt;
}

std::optional<RunRecords> readRunRecords(const RecordedRun& run, std::error_code& error) {
    const auto records = readWholeFile(run.folder / recordsFile, &error);
    if (!records)
        return std::nullopt;
    Reading reading = readRecordsIn(run.folder, *records, true);
    if (!reading.valid) {
        error = std::make_error_code(std::errc::illegal_byte_sequence);
        return std::nullopt;
    }
    return std::move(reading.records);
}

std::optional<Bytes> readOldText(const RecordedRun& run, const RunRecords::Rewrite& rewrite,
                                 std::error_code& error) {
    error.clear();
    const fs::path pack = run.folder / oldTextsFile;
    Fd in(::open(pack.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) {
        error = lastError();
        return std::nullopt;
    }
    Bytes text(static_cast<std::size_t>(rewrite.length));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pread(in.fd, text.data() + done, text.size() - done,
                                  static_cast<off_t>(rewrite.offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = lastError();
            return std::nullopt;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (done != text.size() || md5(ByteView(text)) != rewrite.oldMd5) {
        error = std::make_error_code(std::errc::illegal_byte_sequence);
        return std::nullopt;
    }
    return text;
}

std::error_code markUndone(const RecordedRun& run, bool complete, std::size_t left) {
    const fs::path file = run.folder / recordsFile;
    Fd out(::open(file.c_str(), O_RDWR | O_CLOEXEC));
    if (out.fd < 0)
        return lastError();
    std::error_code error;
    const std::optional<RecordEdges> edges = recordEdges(out.fd, error);
    if (!edges)
        return error;
    if (edges->completeSize != edges->size && ::ftruncate(out.fd, edges->completeSize) != 0)
        return lastError();
    // A run recorded before lines were checked goes on without checks.
    const bool checked = edges->first == header;
    const auto record = [&](std::initializer_list<std::string_view> fields) {
        return checked ? line(fields) : uncheckedLine(fields);
    };
    const std::string count = std::to_string(left);
    const std::string undone =
        complete ? record({"undone", "complete"}) : record({"undone", "incomplete", count});
    if (::lseek(out.fd, edges->completeSize, SEEK_SET) < 0 || !writeFully(out.fd, undone) ||
        ::fdatasync(out.fd) != 0)
        return lastError();
    return {};
}

} // namespace tolvane
