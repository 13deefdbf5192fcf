#include "refs/bases.hpp"

#include "refs/url_find.hpp"
#include "util/text.hpp"

namespace tolvane {

namespace fs = std::filesystem;

namespace {

// Each <name ...> tag of a page's text (decoded view): calls visit(value) with the span of the
// attribute's value, for the tags that carry it, until visit returns true.
template <typename Visit>
void forEachTagAttribute(std::string_view text, std::string_view name, std::string_view attribute,
                         Visit visit) {
    auto startsNoCase = [&](std::size_t at, std::string_view word) {
        if (at + word.size() > text.size())
            return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (lowerAscii(text[at + i]) != word[i])
                return false;
        }
        return true;
    };
    const std::size_t after = name.size() + 1;
    for (std::size_t at = text.find('<'); at != std::string_view::npos;
         at = text.find('<', at + 1)) {
        if (!startsNoCase(at + 1, name) || at + after >= text.size() ||
            !(isSpace(text[at + after]) || text[at + after] == '/' || text[at + after] == '>'))
            continue;
        const std::size_t close = text.find('>', at);
        const std::size_t tagEnd = close == std::string_view::npos ? text.size() : close;
        for (std::size_t h = at + after; h + attribute.size() <= tagEnd; ++h) {
            if (!isSpace(text[h - 1]) || !startsNoCase(h, attribute))
                continue;
            std::size_t v = h + attribute.size();
            while (v < tagEnd && isSpace(text[v]))
                ++v;
            if (v >= tagEnd || text[v] != '=')
                continue;
            ++v;
            while (v < tagEnd && isSpace(text[v]))
                ++v;
            std::size_t begin = v, end;
            if (v < tagEnd && (text[v] == '"' || text[v] == '\'')) {
                begin = v + 1;
                end = text.find(text[v], begin);
                if (end == std::string_view::npos || end > tagEnd)
                    end = tagEnd;
            } else {
                end = v;
                while (end < tagEnd && !isSpace(text[end]))
                    ++end;
            }
            while (begin < end && isSpace(text[begin]))
                ++begin;
            while (end > begin && isSpace(text[end - 1]))
                --end;
            if (visit(begin, end))
                return;
            break;
        }
    }
}

} // namespace

fs::path normalFolder(const fs::path& path) {
    fs::path p = fs::absolute(path).lexically_normal();
    if (p.has_relative_path() && p.filename().empty())
        p = p.parent_path();
    return p;
}

fs::path resolveSegments(fs::path base, const std::vector<std::string>& segments,
                         std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& s = segments[i];
        if (s.empty() || s == ".")
            continue;
        if (s == "..") {
            if (base.has_relative_path())
                base = base.parent_path();
            continue;
        }
        base /= s;
    }
    return base;
}

// Whether a path is absolute and already in normal form: no "." or ".." part, no empty one.
bool isAbsoluteNormal(std::string_view path) {
    if (path.empty() || path.front() != '/')
        return false;
    if (path.size() == 1)
        return true;
    for (std::size_t start = 1; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

// The same on the text of a path, without taking it apart for every URL of a site.
std::string resolveSegmentsText(std::string base, const std::vector<std::string>& segments) {
    for (const std::string& s : segments) {
        if (s.empty() || s == ".")
            continue;
        if (s == "..") {
            if (!base.empty() && base != "/") {
                const auto slash = base.rfind('/');
                if (slash == std::string::npos)
                    base.clear();
                else
                    base.resize(slash == 0 ? 1 : slash);
            }
            continue;
        }
        if (!base.empty() && base.back() != '/')
            base += '/';
        base += s;
    }
    return base;
}

std::optional<fs::path> loadingPageFolder(const fs::path& file, const fs::path& root) {
    const fs::path top = normalFolder(root);
    for (fs::path dir = file.parent_path(); dir.has_relative_path() && dir != top;
         dir = dir.parent_path()) {
        if (isPageFolderName(dir.filename().string()))
            return dir.parent_path();
    }
    return std::nullopt;
}

std::optional<FileBase> baseHrefOf(const TextView& page, std::string_view raw,
                                   const fs::path& pageFolder) {
    std::optional<FileBase> base;
    forEachTagAttribute(page.text, "base", "href", [&](std::size_t begin, std::size_t end) {
        if (begin == end)
            return true;
        const ParsedUrl url = parseUrl(page, begin, end, raw, true);
        const std::string value(page.text.substr(begin, end - begin));
        if (url.kind != ParsedUrl::Kind::relative)
            base = FileBase{std::nullopt, UrlProblem::baseOutside, value};
        else // the last segment names a document, not a folder ("" after a trailing "/")
            base = FileBase{
                resolveSegments(pageFolder, url.segments, url.segments.size() - 1), {}, {}};
        return true;
    });
    return base;
}

FileBase BaseFinder::baseOf(const fs::path& file, TextKind kind, const TextView& view,
                            std::string_view raw) {
    switch (kind) {
    case TextKind::page:
        return pageBase(file, view, raw);
    case TextKind::document:
    case TextKind::stylesheet:
        return {file.parent_path(), {}, {}};
    case TextKind::script:
    case TextKind::none:
        break;
    }
    return scriptBase(file);
}

FileBase BaseFinder::pageBase(const fs::path& file, const TextView& view, std::string_view raw) {
    FileBase base{file.parent_path(), {}, {}};
    if (auto href = baseHrefOf(view, raw, file.parent_path()))
        base = std::move(*href);
    pageBases_[file] = base;
    if (!base.folder)
        return base;
    // The scripts this page loads run with its base.
    forEachTagAttribute(view.text, "script", "src", [&](std::size_t begin, std::size_t end) {
        const ParsedUrl url = parseUrl(view, begin, end, raw, true);
        if (begin < end && url.kind == ParsedUrl::Kind::relative)
            loaders_[resolveSegments(*base.folder, url.segments, url.segments.size())].insert(
                *base.folder);
        return false;
    });
    return base;
}

FileBase BaseFinder::scriptBase(const fs::path& file) const {
    const auto page = loadingPageFolder(file, root_);
    if (!page) {
        // Outside the page folders, a script takes the base of the pages that load it,
        // when they all share one.
        const auto found = loaders_.find(file);
        if (found == loaders_.end())
            return {std::nullopt, UrlProblem::scriptOfNoPage, {}};
        if (found->second.size() > 1)
            return {std::nullopt, UrlProblem::scriptOfPages, {}};
        return {*found->second.begin(), {}, {}};
    }
    // The page named after the innermost page folder may set a <base href>; it applies to
    // its scripts.
    for (fs::path dir = file.parent_path(); dir.has_relative_path() && dir != root_;
         dir = dir.parent_path()) {
        if (const auto pageFiles = pageFilesFor(dir)) {
            const auto found = pageBases_.find(pageFiles->pageFile);
            if (found != pageBases_.end() && found->second.folder != *page)
                return found->second;
            break;
        }
    }
    return {*page, {}, {}};
}

} // namespace tolvane
