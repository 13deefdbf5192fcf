#pragma once

#include "scan/scan.hpp"
#include "util/digest.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tolvane::test {

// The grouping done the plain way, step for step: for every eligible image, a linear search
// of the groups and then of the single copies, reading and digesting both files anew at
// every name match, nothing cached. Slow on purpose; the real scan must agree with it.
// Beyond the plain way: only regular files count, and a file the reader refuses has no digest.
struct LiteralScan {
    std::vector<std::vector<std::filesystem::path>> duplicates;
    std::vector<std::filesystem::path> formingCopies;
    std::vector<std::filesystem::path> singleCopies;
};

inline std::optional<std::string> literalDigest(const std::filesystem::path& path,
                                                ContentReader* reader) {
    if (!reader)
        return MD5(path);
    std::string contents;
    std::vector<unsigned char> buffer(65536);
    for (std::uint64_t offset = 0;;) {
        const std::ptrdiff_t got = reader->readAt(path, offset, buffer.data(), buffer.size());
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        contents.append(reinterpret_cast<const char*>(buffer.data()),
                        static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
    }
    return md5(contents);
}

inline LiteralScan literalScan(const std::filesystem::path& root, ContentReader* reader = nullptr) {
    namespace fs = std::filesystem;
    LiteralScan scan;
    auto digest = [&](const fs::path& path) { return literalDigest(path, reader); };
    auto sameDigest = [&](const fs::path& a, const fs::path& b) {
        const auto da = digest(a);
        const auto db = digest(b);
        return da && db && *da == *db;
    };

    std::error_code error;
    fs::recursive_directory_iterator walk(root, fs::directory_options::skip_permission_denied,
                                          error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const fs::path entry = walk->path();
        const std::string name = entry.filename().string();
        std::error_code statusError;
        const fs::file_status status = walk->symlink_status(statusError);
        if (statusError || fs::is_directory(status))
            continue;
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        bool image = false;
        for (const std::string suffix : {".png", ".jpg", ".jpeg", ".gif", ".tiff"})
            image =
                image || (lower.size() >= suffix.size() &&
                          lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0);
        if (!image)
            continue;
        if (name.find("_rollover_") != std::string::npos)
            continue;
        if (name.find("_link_") != std::string::npos)
            continue;
        if (!fs::is_regular_file(status))
            continue;

        bool matched = false;
        for (auto& group : scan.duplicates) {
            if (group[0].filename().string() == name && sameDigest(group[0], entry)) {
                group.push_back(entry);
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        std::size_t partner = scan.singleCopies.size();
        for (std::size_t i = 0; i < scan.singleCopies.size(); ++i) {
            const fs::path& single = scan.singleCopies[i];
            if (single.filename().string() == name && sameDigest(single, entry)) {
                scan.duplicates.push_back({single, entry});
                scan.formingCopies.push_back(entry);
                partner = i;
                break;
            }
        }
        if (partner < scan.singleCopies.size())
            scan.singleCopies.erase(scan.singleCopies.begin() +
                                    static_cast<std::ptrdiff_t>(partner));
        else
            scan.singleCopies.push_back(entry);
    }
    return scan;
}

} // namespace tolvane::test
