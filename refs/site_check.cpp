#include "refs/site_check.hpp"

#include <string_view>
#include <unordered_map>

namespace tolvane {

namespace fs = std::filesystem;

namespace {

// The image files of a walk, in its order, and where each stands. The walk's paths are
// already normal, and held once: the map's keys are views into the list.
struct ImageFiles {
    explicit ImageFiles(PathList found) : paths(std::move(found)) {
        byPath.reserve(paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i)
            byPath.emplace(paths.native(i), static_cast<std::uint32_t>(i));
        referenced.assign(paths.size(), false);
    }
    PathList paths;
    std::unordered_map<std::string_view, std::uint32_t> byPath;
    std::vector<bool> referenced;
};

// Follows each image URL of one text file, counting into check and images.
void checkFile(const fs::path& file, const std::string& text, const std::vector<FoundUrl>& found,
               const FileBase& base, const NameTable& names, const fs::path& root,
               const SiteRoot& siteRoot, ImageFiles& images, SiteCheck& check) {
    const auto imageAt = [&](const std::string& path) -> std::optional<std::uint32_t> {
        const auto hit = images.byPath.find(path);
        return hit == images.byPath.end() ? std::nullopt : std::optional(hit->second);
    };
    for (const FoundUrl& f : found) {
        const std::string& last = f.url.segments.back();
        if (!hasImageExtension(last))
            continue;
        UrlClass what = classifyUrl(f, base, imageAt, &siteRoot);
        switch (what.kind) {
        case UrlClass::Kind::image:
            images.referenced[what.image] = true;
            ++check.references;
            break;
        case UrlClass::Kind::otherFile:
            ++check.references;
            break;
        case UrlClass::Kind::nothing:
        case UrlClass::Kind::unexaminable:
            check.broken.push_back(
                {file, f.line, text.substr(f.offset, f.length), fs::path(*f.target)});
            break;
        case UrlClass::Kind::unresolved: {
            // A URL that cannot be followed counts for every image it could name.
            std::vector<std::size_t> candidates;
            if (const auto* sameName = names.withName(last))
                candidates = candidatesFor(f.url.segments, *sameName, images.paths, root);
            for (const std::size_t c : candidates)
                images.referenced[c] = true;
            check.unresolved.push_back({file, f.offset, f.length, f.line,
                                        text.substr(f.offset, f.length), std::move(what.reason),
                                        std::move(candidates)});
            break;
        }
        }
    }
}

} // namespace

SiteCheck checkSite(const fs::path& rootPath) {
    SiteCheck check;
    const fs::path root = normalFolder(rootPath);
    SiteFiles files = walkSite(root, true);
    check.unreadable = std::move(files.unreadable);
    check.textFiles = files.textFiles.size();
    check.imageFiles = files.imageFiles.size();
    ImageFiles images(std::move(files.imageFiles));
    const NameTable names(images.paths);

    DiskTextFileAccess disk;
    UrlReader reader(root);
    const SiteRoot siteRoot(root);
    for (const std::size_t i : pagesFirst(files)) {
        const auto& [file, kind] = files.textFiles[i];
        std::error_code error;
        const auto text = readText(disk, file, error);
        if (!text) {
            check.unreadable.push_back({file, error});
            continue;
        }
        FileBase base;
        const auto found =
            reader.read(file, kind, *text, base, [](const ParsedUrl&) { return false; });
        checkFile(file, *text, found, base, names, root, siteRoot, images, check);
    }
    for (std::size_t i = 0; i < images.paths.size(); ++i) {
        if (!images.referenced[i])
            check.unreferenced.push_back(images.paths[i]);
    }
    return check;
}

} // namespace tolvane
