#include "refs/found_url.hpp"

#include "refs/url_find.hpp"
#include "util/text.hpp"

#include <algorithm>
#include <sys/stat.h>

namespace tolvane {

namespace fs = std::filesystem;

namespace {

UrlClass unresolvedClass(const ParsedUrl& url, const FileBase& base) {
    using Kind = UrlClass::Kind;
    switch (url.kind) {
    case ParsedUrl::Kind::absolute:
        return {Kind::unresolved, 0, UrlProblem::absolute, {}, {}};
    case ParsedUrl::Kind::rootRelative:
        return {Kind::unresolved, 0, UrlProblem::rootRelative, {}, {}};
    case ParsedUrl::Kind::malformed:
        return {Kind::unresolved, 0, url.problem, {}, {}};
    case ParsedUrl::Kind::relative:
        break;
    }
    return {Kind::unresolved, 0, base.unknown, base.detail, {}};
}

// Byte offsets of the file's line breaks, for line numbers.
std::vector<std::size_t> lineBreaks(std::string_view raw) {
    std::vector<std::size_t> breaks;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n')
            breaks.push_back(i);
    }
    return breaks;
}

} // namespace

FoundUrl foundUrlAt(const TextView& view, const UrlSpan& span, std::string_view raw, bool markup) {
    FoundUrl f;
    f.url = parseUrl(view, span.begin, span.end, raw, markup);
    f.offset = view.origin[span.begin];
    f.length = view.origin[span.end] - f.offset;
    for (std::size_t first = span.begin; first > 0 && view.origin[first - 1] == f.offset; --first)
        ++f.skip;
    return f;
}

std::vector<FoundUrl> UrlReader::read(const fs::path& file, TextKind kind, std::string_view raw,
                                      FileBase& base,
                                      const std::function<bool(const ParsedUrl&)>& decodedWhole) {
    const bool markup = isMarkup(kind);
    const TextView view = decodeText(raw, markup, kind == TextKind::stylesheet);
    base = bases_.baseOf(file, kind, view, raw);
    const std::vector<std::size_t> breaks = lineBreaks(raw);
    const std::vector<UrlSpan> spans = findImageUrls(view.text);
    std::vector<FoundUrl> found;
    found.reserve(spans.size());
    for (const UrlSpan& span : spans) {
        FoundUrl f = foundUrlAt(view, span, raw, markup);
        f.line = static_cast<std::size_t>(std::upper_bound(breaks.begin(), breaks.end(), f.offset) -
                                          breaks.begin()) +
                 1;
        if (decodedWhole(f.url))
            f.decoded = lenientPercentDecode(
                std::string_view(view.text).substr(span.begin, span.end - span.begin));
        if (f.url.kind == ParsedUrl::Kind::relative && base.folder)
            f.target = resolveSegmentsText(base.folder->native(), f.url.segments);
        found.push_back(std::move(f));
    }
    return found;
}

SiteRoot::SiteRoot(const fs::path& root) {
    written_ = normalFolder(root).native();
    std::error_code error;
    const fs::path real = fs::canonical(written_, error);
    real_ = error ? written_ : real.native();
}

std::optional<std::string> SiteRoot::realPathInSite(const std::string& path) const {
    std::error_code error;
    std::string text;
    const std::size_t slash = path.rfind('/');
    struct stat info {};
    if (slash == std::string::npos || slash == 0 || ::lstat(path.c_str(), &info) != 0 ||
        S_ISLNK(info.st_mode)) {
        // A link itself, or a path not of the usual shape: every part followed.
        const fs::path real = fs::canonical(path, error);
        if (error)
            return std::nullopt;
        text = real.native();
    } else {
        // Not a link: its folder's real path, then its own name.
        auto [found, added] = realFolders_.try_emplace(path.substr(0, slash));
        if (added) {
            const fs::path real = fs::canonical(found->first, error);
            if (!error)
                found->second = real.native();
        }
        if (!found->second)
            return std::nullopt;
        text = *found->second;
        if (text != "/")
            text += '/';
        text.append(path, slash + 1);
    }
    if (text.size() <= real_.size() || text.compare(0, real_.size(), real_) != 0 ||
        (real_ != "/" && text[real_.size()] != '/'))
        return std::nullopt;
    return written_ + text.substr(real_ == "/" ? 0 : real_.size());
}

UrlClass classifyUrl(const FoundUrl& found, const FileBase& base,
                     const std::function<std::optional<std::uint32_t>(const std::string&)>& imageAt,
                     const SiteRoot* root) {
    using Kind = UrlClass::Kind;
    if (!found.target)
        return unresolvedClass(found.url, base);
    if (const auto image = imageAt(*found.target))
        return {Kind::image, *image, UrlProblem::none, {}, {}};
    std::error_code error;
    if (fs::exists(*found.target, error)) {
        // A path through a link that reaches one of the images refers to it.
        if (root) {
            const auto real = root->realPathInSite(*found.target);
            if (real && *real != *found.target) {
                if (const auto image = imageAt(*real))
                    return {Kind::image, *image, UrlProblem::none, {}, {}};
            }
        }
        return {Kind::otherFile, 0, UrlProblem::none, {}, {}};
    }
    if (error)
        return {Kind::unexaminable, 0, UrlProblem::unexaminable, {}, error};
    return {Kind::nothing, 0, UrlProblem::leadsToNothing, {}, {}};
}

const std::vector<std::size_t>* NameTable::withName(const std::string& name) const {
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : &found->second;
}

std::vector<std::string> NameTable::namesInside(const std::string& text) const {
    std::vector<std::string> names;
    for (const std::size_t length : lengths_) {
        if (length >= text.size())
            break;
        if (!boundsName(text[text.size() - length - 1]))
            continue;
        std::string tail = text.substr(text.size() - length);
        if (byName_.count(tail))
            names.push_back(std::move(tail));
    }
    return names;
}

std::string NameTable::fileNameOf(const fs::path& image) {
    return image.filename().string();
}

std::string NameTable::fileNameOf(const std::string& image) {
    return fileNameOf(std::string_view(image));
}

std::string NameTable::fileNameOf(std::string_view image) {
    return std::string(image.substr(image.rfind('/') + 1));
}

void NameTable::add(const std::string& name, std::size_t image) {
    byName_[name].push_back(image);
    lengths_.insert(name.size());
}

} // namespace tolvane
