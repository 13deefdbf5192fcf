#include "cli/scan_report.hpp"
#include "optimize/group_plan.hpp"

#include <cerrno>
#include <cstdint>
#include <iterator>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <future>
#include <iostream>
#include <unistd.h>

namespace tolvane::cli {

namespace {

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not valid UTF-8.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    std::uint32_t code = 0;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xe0) == 0xc0) {
        length = 2;
        minimum = 0x80;
        code = lead & 0x1f;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        minimum = 0x800;
        code = lead & 0x0f;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        minimum = 0x10000;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3f);
    }
    if (code < minimum || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return length;
}

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

void showProgress(const ScanProgress& progress) {
    const ScanPhase phase = progress.phase.load();
    if (phase == ScanPhase::Walking)
        std::fprintf(stderr, "\r\033[K%s: %llu entries", scanPhaseName(phase),
                     static_cast<unsigned long long>(progress.entriesWalked.load()));
    else
        std::fprintf(stderr, "\r\033[K%s: %llu of at most %llu MiB read, %llu files",
                     scanPhaseName(phase),
                     static_cast<unsigned long long>(progress.bytesHashed.load() >> 20),
                     static_cast<unsigned long long>(progress.candidateBytes.load() >> 20),
                     static_cast<unsigned long long>(progress.candidateFiles.load()));
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

ScanResult scanShowingProgress(const std::filesystem::path& site) {
    if (!::isatty(STDERR_FILENO))
        return scanWebsite(site);
    ScanProgress progress;
    auto scan = std::async(std::launch::async, [&] { return scanWebsite(site, &progress); });
    while (scan.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        showProgress(progress);
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    return scan.get();
}

std::string relativeToRoot(const std::filesystem::path& copy, const std::filesystem::path& root) {
    std::string prefix = root.generic_string();
    if (!prefix.empty() && prefix.back() != '/')
        prefix += '/';
    const std::string path = copy.generic_string();
    if (path.compare(0, prefix.size(), prefix) == 0)
        return path.substr(prefix.size());
    return copy.lexically_relative(root).generic_string();
}

void printScanSummary(std::ostream& out, const ScanResult& result,
                      const ReferenceIndex* references) {
    if (result.duplicates.empty()) {
        out << "There are no images to optimize!\n"
            << "Your website contains no duplicate images that need optimizing.\n";
        return;
    }
    std::uint64_t removed = 0;
    std::uint64_t saved = 0;
    DiskTextFileAccess disk;
    WritabilityOnce access(disk);
    for (const DuplicateGroup& group : result.duplicates) {
        out << printable(group.name) << "  (" << group.size
            << (group.size == 1 ? " byte, " : " bytes, ") << group.copies.size()
            << " copies, md5 " << group.md5 << ")\n";
        GroupPlan plan;
        if (references) {
            plan = planGroup(group, *references, access);
        } else {
            plan.held.resize(group.copies.size());
            plan.goes = group.copies.size() - 1;
        }
        const auto& held = plan.held;
        const std::size_t goes = plan.goes;
        const std::size_t referring = plan.references;
        for (std::size_t i = 0; i < group.copies.size(); ++i) {
            const char* label = i == 0 ? (goes ? "  keep    " : "  stays   ")
                                       : (held[i].empty() && goes ? "  remove  " : "  stays   ");
            out << label << printable(relativeToRoot(group.copies[i], result.root)) << '\n';
            for (const KeepReason& reason : held[i])
                out << "          " << printable(relativeToRoot(reason.file, result.root)) << " "
                    << printable(reason.reason) << '\n';
        }
        if (references)
            out << "  " << referring << (referring == 1 ? " reference points" : " references point")
                << " at its copies\n";
        out << '\n';
        removed += goes;
        saved += plan.saving(group.size);
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

void printScanJson(std::ostream& out, const ScanResult& result) {
    std::string root = std::filesystem::absolute(result.root).lexically_normal().string();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    out << "{\"root\": " << jsonString(root) << ", \"groups\": [";
    for (std::size_t g = 0; g < result.duplicates.size(); ++g) {
        const DuplicateGroup& group = result.duplicates[g];
        out << (g ? ", " : "") << "{\"name\": " << jsonString(group.name)
            << ", \"md5\": " << jsonString(group.md5) << ", \"size\": " << group.size
            << ", \"copies\": [";
        for (std::size_t i = 0; i < group.copies.size(); ++i)
            out << (i ? ", " : "") << jsonString(relativeToRoot(group.copies[i], result.root));
        out << "]}";
    }
    out << "]}\n";
}

} // namespace tolvane::cli
