#include "optimize/references.hpp"
#include "util/file_io.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view imageExtensions[] = {"jpeg", "tiff", "png", "jpg", "gif"};

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (lower(text[text.size() - suffix.size() + i]) != suffix[i])
            return false;
    }
    return true;
}

bool isImageFileName(std::string_view name) {
    for (const auto ext : imageExtensions) {
        if (name.size() > ext.size() + 1 && endsWithNoCase(name, ext) &&
            name[name.size() - ext.size() - 1] == '.')
            return true;
    }
    return false;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// One letter of an extension at text[i], as itself (any case) or as %XX. Returns the
// position after it, or npos.
std::size_t matchLetter(std::string_view text, std::size_t i, char letter) {
    if (i < text.size() && lower(text[i]) == letter)
        return i + 1;
    if (i + 2 < text.size() && text[i] == '%') {
        const int hi = hexValue(text[i + 1]);
        const int lo = hexValue(text[i + 2]);
        if (hi >= 0 && lo >= 0 && lower(static_cast<char>(hi * 16 + lo)) == letter)
            return i + 3;
    }
    return std::string_view::npos;
}

// Bytes that continue a file name: after an extension they mean it was not the end.
bool continuesName(unsigned char c) {
    return std::isalnum(c) || c >= 0x80 || c == '.' || c == '_' || c == '-' || c == '~' ||
           c == '+' || c == '%' || c == '/';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Where an unquoted URL can start: after one of these.
bool stopsUrl(char c) {
    return isSpace(c) || std::strchr("\"'`()=,<>;{}[]|", c) != nullptr;
}

// Characters that can stand right before a name in text that is not a plain path.
bool boundsName(char c) {
    return isSpace(c) || std::strchr("\"'`()=,<>:+\\/", c) != nullptr;
}

// A URL candidate: view.text[begin, end) is its path, ending in an image extension.
struct Span {
    std::size_t begin;
    std::size_t end;
};

// Every image-like URL path in the view: each extension (even percent-encoded) that ends a
// name, extended back to where its URL starts by the delimiter that closes it.
std::vector<Span> findImageUrls(std::string_view text) {
    std::vector<Span> spans;
    constexpr std::size_t lookBack = 4096;
    for (std::size_t p = 0; p < text.size(); ++p) {
        std::size_t q;
        if (text[p] == '.')
            q = p + 1;
        else if (text[p] == '%' && p + 2 < text.size() && text[p + 1] == '2' &&
                 lower(text[p + 2]) == 'e')
            q = p + 3;
        else
            continue;
        std::size_t r = std::string_view::npos;
        for (const auto ext : imageExtensions) {
            std::size_t at = q;
            for (const char letter : ext) {
                at = matchLetter(text, at, letter);
                if (at == std::string_view::npos)
                    break;
            }
            if (at != std::string_view::npos) {
                r = at;
                break;
            }
        }
        if (r == std::string_view::npos || p == 0)
            continue;
        if (r < text.size() && continuesName(static_cast<unsigned char>(text[r])))
            continue;

        // The closing delimiter, past any query or fragment.
        std::size_t e = r;
        if (e < text.size() && (text[e] == '?' || text[e] == '#')) {
            while (e < text.size() && !isSpace(text[e]) &&
                   std::strchr("\"'`()<>", text[e]) == nullptr)
                ++e;
        }
        const char close = e < text.size() ? text[e] : '\0';
        const std::size_t limit = p > lookBack ? p - lookBack : 0;
        std::size_t begin = std::string_view::npos;
        if (close == '"' || close == '\'' || close == '`' || close == ')') {
            const char open = close == ')' ? '(' : close;
            for (std::size_t k = p; k-- > limit;) {
                if (text[k] == open) {
                    begin = k + 1;
                    break;
                }
                if (text[k] == '\n' || text[k] == '\r' ||
                    (close == ')' && std::strchr("\"'<>", text[k]) != nullptr))
                    break;
            }
        }
        if (begin == std::string_view::npos) {
            begin = p;
            while (begin > limit && !stopsUrl(text[begin - 1]))
                --begin;
        }
        while (begin < p && isSpace(text[begin]))
            ++begin;
        // A second extension inside a query or fragment belongs to the URL found before.
        const std::string_view path = text.substr(begin, r - begin);
        if (path.find_first_of("?#") != std::string_view::npos)
            continue;
        spans.push_back({begin, r});
        p = r - 1;
    }
    return spans;
}

std::string lenientPercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

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

bool isPageFolderName(const std::string& name) {
    return name.size() > 6 && name.compare(name.size() - 6, 6, "_files") == 0;
}

std::string describe(const std::error_code& error) {
    return error.message();
}

// The site's text and image files, in walk order: depth-first, each folder as the file
// system lists it. A link to a text file or a folder is followed for reading only: what a
// browser shows through it may refer to the site's images, but nothing reached through a
// link is ever written, and images behind one are not the site's copies.
struct SiteFiles {
    std::vector<std::pair<fs::path, TextKind>> textFiles;
    std::vector<fs::path> imageFiles;
    std::vector<UnreadablePlace> unreadable;
    std::unordered_set<std::string> linked;           // text files reached through a link
    std::set<std::pair<dev_t, ino_t>> foldersEntered; // against link loops
};

void walk(const fs::path& folder, SiteFiles& files, bool throughLink = false) {
    struct stat self {};
    if (::stat(folder.c_str(), &self) == 0 &&
        !files.foldersEntered.insert({self.st_dev, self.st_ino}).second)
        return;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) {
        files.unreadable.push_back({folder, error});
        return;
    }
    for (; it != fs::directory_iterator(); it.increment(error)) {
        const fs::directory_entry& entry = *it;
        std::error_code statusError;
        const auto status = entry.symlink_status(statusError);
        if (statusError)
            continue;
        const bool link = fs::is_symlink(status);
        const auto target = link ? entry.status(statusError) : status;
        if (statusError)
            continue; // a link to nothing
        if (fs::is_directory(target)) {
            walk(entry.path(), files, throughLink || link);
        } else if (fs::is_regular_file(target)) {
            const std::string name = entry.path().filename().string();
            if (const TextKind kind = textKindOf(name); kind != TextKind::none) {
                files.textFiles.emplace_back(entry.path(), kind);
                if (throughLink || link)
                    files.linked.insert(entry.path().string());
            } else if (isImageFileName(name) && !throughLink && !link) {
                files.imageFiles.push_back(entry.path());
            }
        }
    }
    if (error)
        files.unreadable.push_back({folder, error});
}

SiteFiles walkSite(const fs::path& root) {
    SiteFiles files;
    walk(root, files);
    return files;
}

// One URL found in a text file, with what it resolves to.
struct Found {
    ParsedUrl url;
    std::size_t offset;
    std::size_t length;
    std::size_t line;
    std::string decoded;            // the whole URL, percent-decoded, for names inside it
    std::optional<fs::path> target; // a relative URL against a known base
};

// Each <name ...> tag of a page's text (decoded view): calls visit(value) with the span of the
// attribute's value, for the tags that carry it, until visit returns true.
template <typename Visit>
void forEachTagAttribute(std::string_view text, std::string_view name, std::string_view attribute,
                         Visit visit) {
    auto startsNoCase = [&](std::size_t at, std::string_view word) {
        if (at + word.size() > text.size())
            return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (lower(text[at + i]) != word[i])
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

// Reads the URLs of one text file; pages first so that the page folders' scripts can take
// a page's <base href>.
class TextScanner {
  public:
    explicit TextScanner(fs::path root) : root_(std::move(root)) {}

    FileBase baseOf(const fs::path& file, TextKind kind, const TextView* view,
                    std::string_view raw) {
        const fs::path folder = file.parent_path();
        switch (kind) {
        case TextKind::page: {
            FileBase base{folder, {}};
            if (view) {
                if (auto href = baseHrefOf(*view, raw, folder))
                    base = std::move(*href);
            }
            pageBases_[file] = base;
            // The scripts this page loads run with its base.
            if (view && base.folder) {
                forEachTagAttribute(
                    view->text, "script", "src", [&](std::size_t begin, std::size_t end) {
                        const ParsedUrl url = parseUrl(*view, begin, end, raw, true);
                        if (begin < end && url.kind == ParsedUrl::Kind::relative)
                            loaders_[resolveSegments(*base.folder, url.segments,
                                                     url.segments.size())]
                                .insert(*base.folder);
                        return false;
                    });
            }
            return base;
        }
        case TextKind::document:
        case TextKind::stylesheet:
            return {folder, {}};
        case TextKind::script:
        case TextKind::none:
            break;
        }
        const auto page = loadingPageFolder(file, root_);
        if (!page) {
            // Outside the page folders, a script takes the base of the pages that load it,
            // when they all share one.
            const auto found = loaders_.find(file);
            if (found == loaders_.end())
                return {std::nullopt, "a script outside every page folder that no page loads"};
            if (found->second.size() > 1)
                return {std::nullopt, "a script loaded by pages in different folders"};
            return {*found->second.begin(), {}};
        }
        // The page named after the folder may set a <base href>; it applies to its scripts.
        for (fs::path dir = file.parent_path(); dir.has_relative_path() && dir != root_;
             dir = dir.parent_path()) {
            const std::string name = dir.filename().string();
            if (isPageFolderName(name)) {
                const auto found = pageBases_.find(dir.parent_path() /
                                                   (name.substr(0, name.size() - 6) + ".html"));
                if (found != pageBases_.end() && found->second.folder != *page)
                    return found->second;
                break;
            }
        }
        return {*page, {}};
    }

    // Every image URL of the file, resolved where its base allows.
    std::vector<Found> scan(const fs::path& file, TextKind kind, std::string_view raw,
                            FileBase& base) {
        const bool markup = kind == TextKind::page || kind == TextKind::document;
        const TextView view = decodeText(raw, markup);
        base = baseOf(file, kind, &view, raw);
        std::vector<std::size_t> lineStarts;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\n')
                lineStarts.push_back(i);
        }
        std::vector<Found> found;
        for (const Span& span : findImageUrls(view.text)) {
            Found f;
            f.url = parseUrl(view, span.begin, span.end, raw, markup);
            f.offset = view.origin[span.begin];
            f.length = view.origin[span.end] - f.offset;
            f.line = static_cast<std::size_t>(
                         std::upper_bound(lineStarts.begin(), lineStarts.end(), f.offset) -
                         lineStarts.begin()) +
                     1;
            f.decoded = lenientPercentDecode(
                std::string_view(view.text).substr(span.begin, span.end - span.begin));
            if (f.url.kind == ParsedUrl::Kind::relative && base.folder)
                f.target = resolveSegments(*base.folder, f.url.segments, f.url.segments.size());
            found.push_back(std::move(f));
        }
        return found;
    }

  private:
    fs::path root_;
    std::map<fs::path, FileBase> pageBases_;
    std::map<fs::path, std::set<fs::path>> loaders_; // script -> base folders of its pages
};

// Images by file name, and the lengths of those names, for the names that stand inside text.
class NameTable {
  public:
    explicit NameTable(const std::vector<fs::path>& images) {
        for (std::size_t i = 0; i < images.size(); ++i) {
            const std::string name = images[i].filename().string();
            byName_[name].push_back(i);
            lengths_.insert(name.size());
        }
    }

    const std::vector<std::size_t>* withName(const std::string& name) const {
        const auto found = byName_.find(name);
        return found == byName_.end() ? nullptr : &found->second;
    }

    // Names that end text after a bounding character, other than its last segment itself.
    std::vector<std::string> namesInside(const std::string& text) const {
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

  private:
    std::unordered_map<std::string, std::vector<std::size_t>> byName_;
    std::set<std::size_t> lengths_;
};

// The images a reference that cannot be followed could name: those of its file name whose
// path below root ends in the reference's own last segments.
std::vector<std::size_t> candidatesFor(const std::vector<std::string>& segments,
                                       const std::vector<std::size_t>& sameName,
                                       const std::vector<fs::path>& images, const fs::path& root) {
    std::vector<std::string> tail;
    for (const auto& s : segments) {
        if (!s.empty() && s != "." && s != "..")
            tail.push_back(s);
    }
    std::vector<std::size_t> result;
    for (const std::size_t i : sameName) {
        std::vector<std::string> parts;
        for (const auto& part : images[i].lexically_relative(root))
            parts.push_back(part.string());
        bool matches = true;
        for (std::size_t k = 1; k <= std::min(tail.size(), parts.size()); ++k) {
            if (tail[tail.size() - k] != parts[parts.size() - k]) {
                matches = false;
                break;
            }
        }
        if (matches)
            result.push_back(i);
    }
    return result;
}

std::string unresolvedReason(const ParsedUrl& url, const FileBase& base) {
    switch (url.kind) {
    case ParsedUrl::Kind::absolute:
        return "an absolute URL: where it leads on the published site is not known";
    case ParsedUrl::Kind::rootRelative:
        return "a URL from the server's root: where the site lies on the server is not known";
    case ParsedUrl::Kind::malformed:
        return "a URL in a form not recognised (" + url.problem + ")";
    case ParsedUrl::Kind::relative:
        break;
    }
    return "the file's base is not known (" + base.unknownBecause + ")";
}

std::optional<std::string> readText(TextFileAccess& access, const fs::path& file,
                                    std::error_code& error) {
    auto bytes = access.read(file, error);
    if (!bytes)
        return std::nullopt;
    if (bytes->size() >= std::numeric_limits<std::uint32_t>::max()) {
        error = std::make_error_code(std::errc::file_too_large);
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

} // namespace

TextKind textKindOf(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return TextKind::none;
    std::string ext(name.substr(dot + 1));
    for (char& c : ext)
        c = lower(c);
    if (ext == "html" || ext == "htm" || ext == "xhtml" || ext == "shtml")
        return TextKind::page;
    if (ext == "xml" || ext == "rss" || ext == "atom" || ext == "svg")
        return TextKind::document;
    if (ext == "css")
        return TextKind::stylesheet;
    if (ext == "js" || ext == "mjs" || ext == "json")
        return TextKind::script;
    return TextKind::none;
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
            base = FileBase{std::nullopt,
                            "its <base href=\"" + value + "\"> leads outside the site's folders"};
        else // the last segment names a document, not a folder ("" after a trailing "/")
            base = FileBase{resolveSegments(pageFolder, url.segments, url.segments.size() - 1), {}};
        return true;
    });
    return base;
}

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        std::uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + length > n)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::optional<Bytes> DiskTextFileAccess::read(const fs::path& path, std::error_code& error) {
    return readWholeFile(path, &error);
}

std::error_code DiskTextFileAccess::write(const fs::path& path, ByteView data) {
    return writeFileAtomically(path, data);
}

std::optional<std::string> DiskTextFileAccess::whyNotWritable(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return "cannot be examined: " + std::error_code(errno, std::generic_category()).message();
    // Even where the user may write anyway (as root), a file marked read-only is left alone.
    if (::access(path.c_str(), W_OK) != 0 || (info.st_mode & 0222) == 0)
        return std::string("the file is read-only");
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "its folder cannot be written: " +
               std::error_code(errno, std::generic_category()).message();
    return std::nullopt;
}

std::optional<std::string> rewrittenText(std::string_view text,
                                         const std::vector<const Reference*>& references,
                                         const fs::path& keptCopy, std::string* why) {
    std::vector<const Reference*> sorted = references;
    std::sort(sorted.begin(), sorted.end(),
              [](const Reference* a, const Reference* b) { return a->offset < b->offset; });
    std::string out;
    out.reserve(text.size() + 64 * sorted.size());
    std::size_t done = 0;
    for (const Reference* ref : sorted) {
        if (ref->offset < done || ref->offset + ref->length > text.size() ||
            text.substr(ref->offset, ref->length) != ref->text) {
            if (why)
                *why =
                    "the file changed since it was read (line " + std::to_string(ref->line) + ")";
            return std::nullopt;
        }
        std::vector<std::string> segments;
        for (const auto& part : keptCopy.lexically_relative(ref->base))
            segments.push_back(part.string());
        if (segments.empty() || segments.back().empty() || segments.back() == ".") {
            if (why)
                *why = "no relative path from " + ref->base.string() + " to " + keptCopy.string();
            return std::nullopt;
        }
        out.append(text.substr(done, ref->offset - done));
        out += respellUrl(ref->url, segments);
        done = ref->offset + ref->length;
    }
    out.append(text.substr(done));
    return out;
}

ReferenceIndex ReferenceIndex::build(const fs::path& root, const std::vector<fs::path>& images,
                                     TextFileAccess* access) {
    DiskTextFileAccess disk;
    TextFileAccess& io = access ? *access : disk;
    ReferenceIndex index;
    index.root_ = normalFolder(root);
    for (const auto& image : images) {
        const fs::path normal = fs::absolute(image).lexically_normal();
        index.imageIndex_.emplace(normal.string(), index.images_.size());
        index.images_.push_back(normal);
    }
    const NameTable names(index.images_);

    SiteFiles files = walkSite(index.root_);
    index.unreadable_ = std::move(files.unreadable);
    index.linked_ = std::move(files.linked);
    TextScanner scanner(index.root_);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < files.textFiles.size(); ++i) {
        if (files.textFiles[i].second == TextKind::page)
            order.push_back(i);
    }
    for (std::size_t i = 0; i < files.textFiles.size(); ++i) {
        if (files.textFiles[i].second != TextKind::page)
            order.push_back(i);
    }
    std::map<fs::path, std::size_t> position;
    for (const std::size_t i : order) {
        const auto& [file, kind] = files.textFiles[i];
        std::error_code error;
        const auto text = readText(io, file, error);
        if (!text) {
            index.unreadable_.push_back({file, error});
            continue;
        }
        ++index.textFilesRead_;
        position[file] = i;
        FileBase base;
        bool refers = false;
        for (Found& f : scanner.scan(file, kind, *text, base)) {
            const std::string& last = f.url.segments.back();
            if (const auto* sameName = names.withName(last)) {
                std::string reason;
                if (f.target) {
                    const auto hit = index.imageIndex_.find(f.target->string());
                    if (hit != index.imageIndex_.end()) {
                        index.references_.push_back({file, f.offset, f.length, f.line,
                                                     text->substr(f.offset, f.length), *base.folder,
                                                     *f.target, std::move(f.url)});
                        refers = true;
                        continue;
                    }
                    // Another file of that name: not ours. Nothing at all: the text may be a
                    // piece of a URL that a script completes, so it could be ours.
                    if (std::error_code ignored; fs::exists(*f.target, ignored) || ignored)
                        continue;
                    reason = "leads to nothing here; a script may complete it at run time";
                } else {
                    reason = unresolvedReason(f.url, base);
                }
                auto candidates =
                    candidatesFor(f.url.segments, *sameName, index.images_, index.root_);
                if (!candidates.empty()) {
                    index.unresolved_.push_back({file, f.offset, f.length, f.line,
                                                 text->substr(f.offset, f.length),
                                                 std::move(reason), std::move(candidates)});
                    refers = true;
                }
                continue;
            }
            for (const std::string& name : names.namesInside(f.decoded)) {
                index.unresolved_.push_back(
                    {file, f.offset, f.length, f.line, text->substr(f.offset, f.length),
                     "the name " + name + " stands in a form not recognised",
                     *names.withName(name)});
                refers = true;
            }
        }
        if (refers && !isUtf8(*text))
            index.notUtf8_[file] = true;
    }
    for (const auto& entry : files.textFiles) {
        if (position.count(entry.first))
            index.fileOrder_.push_back(entry.first);
    }
    // In walk order of the files, then by place in the file.
    auto before = [&](const auto& a, const auto& b) {
        const auto pa = position[a.file], pb = position[b.file];
        return pa != pb ? pa < pb : a.offset < b.offset;
    };
    std::stable_sort(index.references_.begin(), index.references_.end(), before);
    std::stable_sort(index.unresolved_.begin(), index.unresolved_.end(), before);
    // Lookups by image and by file, so a run over many groups stays linear.
    index.unresolvedByImage_.resize(index.images_.size());
    for (std::size_t i = 0; i < index.references_.size(); ++i) {
        index.byTarget_[index.references_[i].target.string()].push_back(i);
        index.byFile_[index.references_[i].file].push_back(i);
    }
    for (std::size_t i = 0; i < index.unresolved_.size(); ++i) {
        index.unresolvedByFile_[index.unresolved_[i].file].push_back(i);
        for (const std::size_t image : index.unresolved_[i].images)
            index.unresolvedByImage_[image].push_back(i);
    }
    return index;
}

std::vector<const Reference*> ReferenceIndex::referencesTo(const fs::path& image) const {
    std::vector<const Reference*> result;
    const auto found = byTarget_.find(fs::absolute(image).lexically_normal().string());
    if (found != byTarget_.end()) {
        for (const std::size_t i : found->second)
            result.push_back(&references_[i]);
    }
    return result;
}

std::vector<const UnresolvedReference*> ReferenceIndex::unresolvedFor(const fs::path& image) const {
    std::vector<const UnresolvedReference*> result;
    const auto found = imageIndex_.find(fs::absolute(image).lexically_normal().string());
    if (found == imageIndex_.end())
        return result;
    for (const std::size_t i : unresolvedByImage_[found->second])
        result.push_back(&unresolved_[i]);
    return result;
}

std::vector<fs::path> ReferenceIndex::filesReferring(const std::vector<fs::path>& images) const {
    std::set<fs::path> referring;
    for (const auto& image : images) {
        for (const Reference* ref : referencesTo(image))
            referring.insert(ref->file);
    }
    std::vector<fs::path> result;
    for (const auto& file : fileOrder_) {
        if (referring.count(file))
            result.push_back(file);
    }
    return result;
}

std::vector<KeepReason> ReferenceIndex::reasonsToKeep(const fs::path& image,
                                                      TextFileAccess& access) const {
    std::vector<KeepReason> reasons;
    for (const auto& place : unreadable_)
        reasons.push_back(
            {KeepReason::Kind::unreadable, place.path,
             "could not be read (" + describe(place.error) + "), so it may refer to this image"});
    for (const UnresolvedReference* ref : unresolvedFor(image))
        reasons.push_back(
            {KeepReason::Kind::unresolved, ref->file,
             "line " + std::to_string(ref->line) + ": \"" + ref->text + "\": " + ref->reason});
    std::set<fs::path> seen;
    for (const Reference* ref : referencesTo(image)) {
        if (!seen.insert(ref->file).second)
            continue;
        if (notUtf8_.count(ref->file))
            reasons.push_back({KeepReason::Kind::notUtf8, ref->file, "is not valid UTF-8 text"});
        else if (linked_.count(ref->file.string()))
            reasons.push_back({KeepReason::Kind::notWritable, ref->file,
                               "is reached through a symbolic link; never written through a link"});
        else if (auto why = access.whyNotWritable(ref->file))
            reasons.push_back(
                {KeepReason::Kind::notWritable, ref->file, "cannot be written back: " + *why});
    }
    return reasons;
}

ReferenceIndex::FileRewrite
ReferenceIndex::rewrite(const fs::path& file, const std::vector<fs::path>& copies,
                        const fs::path& keptCopy, TextFileAccess& access, bool writeBackUnchanged) {
    FileRewrite result;
    using Failure = FileRewrite::Failure;
    std::set<fs::path> targets;
    for (const auto& copy : copies)
        targets.insert(fs::absolute(copy).lexically_normal());
    const fs::path kept = fs::absolute(keptCopy).lexically_normal();
    std::vector<Reference*> chosen;
    const auto inFile = byFile_.find(file);
    if (inFile != byFile_.end()) {
        for (const std::size_t i : inFile->second) {
            Reference& ref = references_[i];
            if (targets.count(ref.target) && ref.target != kept)
                chosen.push_back(&ref);
        }
    }
    if (chosen.empty() && !writeBackUnchanged)
        return result;
    const auto text = readText(access, file, result.error);
    if (!text) {
        result.failure = Failure::read;
        result.why = "could not be read: " + result.error.message();
        return result;
    }
    if (!isUtf8(*text)) {
        result.failure = Failure::notUtf8;
        result.error = std::make_error_code(std::errc::illegal_byte_sequence);
        result.why = "is not valid UTF-8 text";
        return result;
    }
    const std::vector<const Reference*> constChosen(chosen.begin(), chosen.end());
    const auto next = rewrittenText(*text, constChosen, kept, &result.why);
    if (!next) {
        result.failure = Failure::changed;
        result.error = std::make_error_code(std::errc::invalid_argument);
        return result;
    }
    if ((result.error = access.write(file, asBytes(*next)))) {
        result.failure = Failure::write;
        result.why = "could not be written back: " + result.error.message();
        return result;
    }
    result.written = true;
    result.replaced = chosen.size();

    // Keep the index in step: new texts for the rewritten references, shifted offsets after.
    const bool markup = textKindOf(file.filename().string()) == TextKind::page ||
                        textKindOf(file.filename().string()) == TextKind::document;
    std::sort(chosen.begin(), chosen.end(),
              [](const Reference* a, const Reference* b) { return a->offset < b->offset; });
    std::vector<std::pair<std::size_t, long long>> shifts; // old end offset -> change in length
    long long delta = 0;
    for (Reference* ref : chosen) {
        const std::size_t oldEnd = ref->offset + ref->length;
        std::vector<std::string> segments;
        for (const auto& part : kept.lexically_relative(ref->base))
            segments.push_back(part.string());
        const std::string written = respellUrl(ref->url, segments);
        const TextView view = decodeText(written, markup);
        ref->offset = static_cast<std::size_t>(static_cast<long long>(ref->offset) + delta);
        delta += static_cast<long long>(written.size()) - static_cast<long long>(ref->length);
        shifts.emplace_back(oldEnd, delta);
        ref->length = written.size();
        ref->text = written;
        auto& from = byTarget_[ref->target.string()];
        const auto index = static_cast<std::size_t>(ref - references_.data());
        from.erase(std::find(from.begin(), from.end(), index));
        auto& to = byTarget_[kept.string()];
        to.insert(std::upper_bound(to.begin(), to.end(), index), index);
        ref->target = kept;
        ref->url = parseUrl(view, 0, view.text.size(), written, markup);
    }
    auto shifted = [&](std::size_t offset) {
        long long d = 0;
        for (const auto& [end, total] : shifts) {
            if (end <= offset)
                d = total;
        }
        return static_cast<std::size_t>(static_cast<long long>(offset) + d);
    };
    if (chosen.empty())
        return result;
    for (const std::size_t i : inFile->second) {
        if (std::find(chosen.begin(), chosen.end(), &references_[i]) == chosen.end())
            references_[i].offset = shifted(references_[i].offset);
    }
    if (const auto found = unresolvedByFile_.find(file); found != unresolvedByFile_.end()) {
        for (const std::size_t i : found->second)
            unresolved_[i].offset = shifted(unresolved_[i].offset);
    }
    return result;
}

SiteCheck checkSite(const fs::path& rootPath) {
    SiteCheck check;
    const fs::path root = normalFolder(rootPath);
    SiteFiles files = walkSite(root);
    check.unreadable = std::move(files.unreadable);
    check.textFiles = files.textFiles.size();
    check.imageFiles = files.imageFiles.size();

    std::vector<fs::path> images;
    std::unordered_map<std::string, std::size_t> imageIndex;
    for (const auto& image : files.imageFiles) {
        imageIndex.emplace(image.lexically_normal().string(), images.size());
        images.push_back(image.lexically_normal());
    }
    const NameTable names(images);
    std::vector<bool> referenced(images.size(), false);

    DiskTextFileAccess disk;
    TextScanner scanner(root);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < files.textFiles.size(); ++i) {
        if (files.textFiles[i].second == TextKind::page)
            order.push_back(i);
    }
    for (std::size_t i = 0; i < files.textFiles.size(); ++i) {
        if (files.textFiles[i].second != TextKind::page)
            order.push_back(i);
    }
    for (const std::size_t i : order) {
        const auto& [file, kind] = files.textFiles[i];
        std::error_code error;
        const auto text = readText(disk, file, error);
        if (!text) {
            check.unreadable.push_back({file, error});
            continue;
        }
        FileBase base;
        for (Found& f : scanner.scan(file, kind, *text, base)) {
            const std::string& last = f.url.segments.back();
            if (!isImageFileName(last))
                continue;
            if (f.target) {
                const auto hit = imageIndex.find(f.target->string());
                if (hit != imageIndex.end()) {
                    referenced[hit->second] = true;
                    ++check.references;
                } else if (std::error_code ignored; fs::exists(*f.target, ignored)) {
                    ++check.references;
                } else {
                    check.broken.push_back(
                        {file, f.line, text->substr(f.offset, f.length), *f.target});
                }
                continue;
            }
            std::vector<std::size_t> candidates;
            if (const auto* sameName = names.withName(last))
                candidates = candidatesFor(f.url.segments, *sameName, images, root);
            for (const std::size_t c : candidates)
                referenced[c] = true;
            check.unresolved.push_back({file, f.offset, f.length, f.line,
                                        text->substr(f.offset, f.length),
                                        unresolvedReason(f.url, base), std::move(candidates)});
        }
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (!referenced[i])
            check.unreferenced.push_back(images[i]);
    }
    return check;
}

} // namespace tolvane
