#include "optimize/references.hpp"
#include "util/file_io.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
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

void walk(const fs::path& folder, SiteFiles& files, bool images, bool throughLink = false) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        files.unreadable.push_back({folder, std::error_code(errno, std::generic_category())});
        return;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno)
                files.unreadable.push_back(
                    {folder, std::error_code(errno, std::generic_category())});
            break;
        }
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        // The type the listing gives (d_type) spares a stat.
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(info.st_mode)   ? DT_DIR
                   : S_ISREG(info.st_mode) ? DT_REG
                   : S_ISLNK(info.st_mode) ? DT_LNK
                                           : DT_UNKNOWN;
        }
        bool link = throughLink;
        if (type == DT_LNK) {
            struct stat info {};
            if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) != 0)
                continue; // a link to nothing
            if (S_ISDIR(info.st_mode) &&
                !files.foldersEntered.insert({info.st_dev, info.st_ino}).second)
                continue; // a folder already entered through a link: a loop
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
            link = true;
        }
        if (type == DT_DIR) {
            walk(folder / name, files, images, link);
        } else if (type == DT_REG) {
            if (const TextKind kind = textKindOf(name); kind != TextKind::none) {
                files.textFiles.emplace_back(folder / name, kind);
                if (link)
                    files.linked.insert((folder / name).string());
            } else if (images && !link && isImageFileName(name)) {
                files.imageFiles.push_back(folder / name);
            }
        }
    }
    ::closedir(dir);
}

// images: whether to list the image files too.
SiteFiles walkSite(const fs::path& root, bool images) {
    SiteFiles files;
    walk(root, files, images);
    return files;
}

// One URL found in a text file, with what it resolves to.
struct Found {
    ParsedUrl url;
    std::size_t offset;
    std::size_t length;
    std::size_t line;
    std::size_t skip = 0;              // bytes of the character at offset before the URL starts
    std::string decoded;               // the whole URL, percent-decoded, for names inside it
    std::optional<std::string> target; // a relative URL against a known base
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

    // Every image URL of the file, resolved where its base allows; decoded in whole where
    // wantsDecoded(url) says so.
    template <typename WantsDecoded>
    std::vector<Found> scan(const fs::path& file, TextKind kind, std::string_view raw,
                            FileBase& base, WantsDecoded wantsDecoded) {
        const bool markup = kind == TextKind::page || kind == TextKind::document;
        const TextView view = decodeText(raw, markup);
        base = baseOf(file, kind, &view, raw);
        std::vector<std::size_t> lineStarts;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\n')
                lineStarts.push_back(i);
        }
        std::vector<Found> found;
        const std::vector<Span> spans = findImageUrls(view.text);
        found.reserve(spans.size());
        for (const Span& span : spans) {
            Found f;
            f.url = parseUrl(view, span.begin, span.end, raw, markup);
            f.offset = view.origin[span.begin];
            f.length = view.origin[span.end] - f.offset;
            for (std::size_t first = span.begin; first > 0 && view.origin[first - 1] == f.offset;
                 --first)
                ++f.skip;
            f.line = static_cast<std::size_t>(
                         std::upper_bound(lineStarts.begin(), lineStarts.end(), f.offset) -
                         lineStarts.begin()) +
                     1;
            if (wantsDecoded(f.url))
                f.decoded = lenientPercentDecode(
                    std::string_view(view.text).substr(span.begin, span.end - span.begin));
            if (f.url.kind == ParsedUrl::Kind::relative && base.folder)
                f.target = resolveSegmentsText(base.folder->native(), f.url.segments);
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
std::string fileNameOf(const fs::path& image) {
    return image.filename().string();
}

// The same for a path held as the text of an absolute normal path.
std::string fileNameOf(const std::string& image) {
    return image.substr(image.rfind('/') + 1);
}

class NameTable {
  public:
    template <typename Paths> explicit NameTable(const Paths& images) {
        for (std::size_t i = 0; i < images.size(); ++i) {
            const std::string name = fileNameOf(images[i]);
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
template <typename Paths>
std::vector<std::size_t> candidatesFor(const std::vector<std::string>& segments,
                                       const std::vector<std::size_t>& sameName,
                                       const Paths& images, const fs::path& root) {
    std::vector<std::string> tail;
    for (const auto& s : segments) {
        if (!s.empty() && s != "." && s != "..")
            tail.push_back(s);
    }
    std::vector<std::size_t> result;
    for (const std::size_t i : sameName) {
        std::vector<std::string> parts;
        for (const auto& part : fs::path(images[i]).lexically_relative(root))
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

namespace {

bool isMarkup(const fs::path& file) {
    const TextKind kind = textKindOf(file.filename().string());
    return kind == TextKind::page || kind == TextKind::document;
}

// The URL each reference (sorted by offset) becomes when it leads to keptCopy, read again
// from the file's text as the index read it. Absent, with why, when the text no longer holds
// a reference at its offset.
// keptFor(i): the file the i-th reference leads to afterwards.
template <class KeptFor>
std::optional<std::vector<std::string>> replacementsFor(std::string_view text,
                                                        const std::vector<const Reference*>& sorted,
                                                        const KeptFor& keptFor, std::string* why) {
    std::optional<TextView> views[2]; // decoded as a script or stylesheet, as markup
    std::vector<std::string> replacements;
    replacements.reserve(sorted.size());
    std::size_t done = 0;
    for (std::size_t r = 0; r < sorted.size(); ++r) {
        const Reference* ref = sorted[r];
        const fs::path& keptCopy = keptFor(r);
        auto changed = [&] {
            if (why)
                *why =
                    "the file changed since it was read (line " + std::to_string(ref->line) + ")";
            return std::nullopt;
        };
        if (ref->offset < done || ref->offset + ref->length > text.size() ||
            text.substr(ref->offset, ref->length) != ref->text)
            return changed();
        const bool markup = isMarkup(ref->file);
        auto& view = views[markup];
        if (!view)
            view = decodeText(text, markup);
        const auto& origin = view->origin;
        const auto at = [&](std::size_t offset) {
            return static_cast<std::size_t>(std::lower_bound(origin.begin(), origin.end(), offset) -
                                            origin.begin());
        };
        const std::size_t first = at(ref->offset);
        const std::size_t begin = first + ref->firstCharacterSkip;
        const std::size_t end = at(ref->offset + ref->length);
        if (first >= origin.size() || origin[first] != ref->offset || end >= origin.size() ||
            origin[end] != ref->offset + ref->length || begin > end)
            return changed();
        std::vector<std::string> segments;
        for (const auto& part : keptCopy.lexically_relative(ref->base))
            segments.push_back(part.string());
        if (segments.empty() || segments.back().empty() || segments.back() == ".") {
            if (why)
                *why = "no relative path from " + ref->base.string() + " to " + keptCopy.string();
            return std::nullopt;
        }
        replacements.push_back(respellUrl(parseUrl(*view, begin, end, text, markup), segments));
        done = ref->offset + ref->length;
    }
    return replacements;
}

std::vector<const Reference*> byOffset(std::vector<const Reference*> references) {
    std::stable_sort(references.begin(), references.end(),
                     [](const Reference* a, const Reference* b) { return a->offset < b->offset; });
    return references;
}

// Puts each replacement in place of the reference it belongs to (both sorted by offset).
std::string withReplacements(std::string_view text, const std::vector<const Reference*>& sorted,
                             const std::vector<std::string>& replacements) {
    std::string out;
    out.reserve(text.size() + 64 * sorted.size());
    std::size_t done = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        out.append(text.substr(done, sorted[i]->offset - done));
        out += replacements[i];
        done = sorted[i]->offset + sorted[i]->length;
    }
    out.append(text.substr(done));
    return out;
}

// A file's references (or unresolved ones) while the site is read: those of one file, to be
// put in place by offset once every file is read.
struct Pending {
    std::uint32_t offset;
    std::uint32_t length;
    std::uint32_t line;
    std::uint32_t target;
    std::uint8_t skip;
    std::string text;
};

} // namespace

std::optional<Bytes> WritabilityOnce::read(const fs::path& path, std::error_code& error) {
    return access_.read(path, error);
}

std::error_code WritabilityOnce::write(const fs::path& path, ByteView data) {
    return access_.write(path, data);
}

std::optional<std::string> WritabilityOnce::whyNotWritable(const fs::path& path) {
    const auto found = answers_.find(path.native());
    if (found != answers_.end())
        return found->second;
    return answers_.emplace(path.native(), access_.whyNotWritable(path)).first->second;
}

std::optional<std::string> rewrittenText(std::string_view text,
                                         const std::vector<const Reference*>& references,
                                         const fs::path& keptCopy, std::string* why) {
    const auto sorted = byOffset(references);
    const auto replacements =
        replacementsFor(text, sorted, [&](std::size_t) -> const fs::path& { return keptCopy; }, why);
    if (!replacements)
        return std::nullopt;
    return withReplacements(text, sorted, *replacements);
}

std::optional<std::string> rewrittenText(std::string_view text,
                                         const std::vector<const Reference*>& sorted,
                                         const std::vector<const fs::path*>& kept,
                                         std::string* why) {
    const auto replacements = replacementsFor(
        text, sorted, [&](std::size_t i) -> const fs::path& { return *kept[i]; }, why);
    if (!replacements)
        return std::nullopt;
    return withReplacements(text, sorted, *replacements);
}

ReferenceIndex ReferenceIndex::build(const fs::path& root, const std::vector<fs::path>& images,
                                     TextFileAccess* access) {
    std::vector<const fs::path*> pointers;
    pointers.reserve(images.size());
    for (const auto& image : images)
        pointers.push_back(&image);
    return build(root, pointers, access);
}

ReferenceIndex ReferenceIndex::build(const fs::path& root,
                                     const std::vector<const fs::path*>& images,
                                     TextFileAccess* access) {
    DiskTextFileAccess disk;
    TextFileAccess& io = access ? *access : disk;
    ReferenceIndex index;
    index.root_ = normalFolder(root);
    index.targetIndex_.reserve(images.size());
    for (const fs::path* image : images)
        index.addTarget(isAbsoluteNormal(image->native())
                            ? image->native()
                            : fs::absolute(*image).lexically_normal().native());
    index.imageCount_ = index.targets_.size();
    const NameTable names(index.targets_);

    SiteFiles files = walkSite(index.root_, false);
    index.unreadable_ = std::move(files.unreadable);
    index.linked_ = std::move(files.linked);
    // Every text file has a number, its place in the walk; those not read have no references.
    const std::size_t fileCount = files.textFiles.size();
    index.files_.reserve(fileCount);
    for (auto& entry : files.textFiles)
        index.files_.push_back(std::move(entry.first));
    index.fileBases_.resize(fileCount);
    index.notUtf8_.assign(fileCount, false);
    std::vector<bool> read(fileCount, false);

    TextScanner scanner(index.root_);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < fileCount; ++i) {
        if (files.textFiles[i].second == TextKind::page)
            order.push_back(i);
    }
    for (std::size_t i = 0; i < fileCount; ++i) {
        if (files.textFiles[i].second != TextKind::page)
            order.push_back(i);
    }
    std::vector<std::vector<Pending>> pending(fileCount);
    std::vector<std::vector<UnresolvedReference>> unresolved(fileCount);
    for (const std::size_t i : order) {
        const fs::path& file = index.files_[i];
        const TextKind kind = files.textFiles[i].second;
        std::error_code error;
        const auto text = readText(io, file, error);
        if (!text) {
            index.unreadable_.push_back({file, error});
            continue;
        }
        read[i] = true;
        ++index.textFilesRead_;
        FileBase base;
        bool refers = false;
        // Only a URL whose last segment names no image is looked through for names inside.
        std::vector<Found> found = scanner.scan(file, kind, *text, base, [&](const ParsedUrl& url) {
            return names.withName(url.segments.back()) == nullptr;
        });
        if (base.folder)
            index.fileBases_[i] = *base.folder;
        for (Found& f : found) {
            const std::string& last = f.url.segments.back();
            if (const auto* sameName = names.withName(last)) {
                std::string reason;
                if (f.target) {
                    const auto hit = index.targetIndex_.find(*f.target);
                    if (hit != index.targetIndex_.end()) {
                        pending[i].push_back({static_cast<std::uint32_t>(f.offset),
                                              static_cast<std::uint32_t>(f.length),
                                              static_cast<std::uint32_t>(f.line), hit->second,
                                              static_cast<std::uint8_t>(f.skip),
                                              text->substr(f.offset, f.length)});
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
                    candidatesFor(f.url.segments, *sameName, index.targets_, index.root_);
                if (!candidates.empty()) {
                    unresolved[i].push_back({file, f.offset, f.length, f.line,
                                             text->substr(f.offset, f.length), std::move(reason),
                                             std::move(candidates)});
                    refers = true;
                }
                continue;
            }
            for (const std::string& name : names.namesInside(f.decoded)) {
                unresolved[i].push_back({file, f.offset, f.length, f.line,
                                         text->substr(f.offset, f.length),
                                         "the name " + name + " stands in a form not recognised",
                                         *names.withName(name)});
                refers = true;
            }
        }
        if (refers && !isUtf8(*text))
            index.notUtf8_[i] = true;
    }

    // In walk order of the files, then by place in the file.
    std::size_t referenceCount = 0, unresolvedCount = 0;
    for (std::size_t i = 0; i < fileCount; ++i) {
        referenceCount += pending[i].size();
        unresolvedCount += unresolved[i].size();
    }
    index.references_.reserve(referenceCount);
    index.unresolved_.reserve(unresolvedCount);
    index.referencesInFile_.resize(fileCount);
    index.unresolvedInFile_.resize(fileCount);
    index.byTarget_.resize(index.targets_.size());
    index.unresolvedByImage_.resize(index.imageCount_);
    for (std::size_t i = 0; i < fileCount; ++i) {
        auto& mine = pending[i];
        std::stable_sort(mine.begin(), mine.end(),
                         [](const Pending& a, const Pending& b) { return a.offset < b.offset; });
        index.referencesInFile_[i].first = static_cast<std::uint32_t>(index.references_.size());
        for (Pending& p : mine) {
            index.byTarget_[p.target].push_back(
                static_cast<std::uint32_t>(index.references_.size()));
            index.references_.push_back({index.files_[i], p.offset, p.length, p.line,
                                         std::move(p.text), index.fileBases_[i], p.target, p.skip});
        }
        index.referencesInFile_[i].second = static_cast<std::uint32_t>(index.references_.size());
        std::vector<Pending>().swap(mine);

        auto& theirs = unresolved[i];
        std::stable_sort(theirs.begin(), theirs.end(),
                         [](const UnresolvedReference& a, const UnresolvedReference& b) {
                             return a.offset < b.offset;
                         });
        index.unresolvedInFile_[i].first = static_cast<std::uint32_t>(index.unresolved_.size());
        for (UnresolvedReference& u : theirs) {
            for (const std::size_t image : u.images)
                index.unresolvedByImage_[image].push_back(
                    static_cast<std::uint32_t>(index.unresolved_.size()));
            index.unresolved_.push_back(std::move(u));
        }
        index.unresolvedInFile_[i].second = static_cast<std::uint32_t>(index.unresolved_.size());
        std::vector<UnresolvedReference>().swap(theirs);
    }
    // Only the files read count as the site's text files.
    for (std::size_t i = 0; i < fileCount; ++i) {
        if (read[i])
            index.fileIndex_.emplace(index.files_[i], static_cast<std::uint32_t>(i));
    }
    return index;
}

std::uint32_t ReferenceIndex::addTarget(const std::string& normal) {
    // A path given twice keeps both places; lookups find the first.
    const auto number = static_cast<std::uint32_t>(targets_.size());
    targets_.push_back(normal);
    targetIndex_.emplace(targets_.back(), number);
    return number;
}

std::uint32_t ReferenceIndex::targetNumber(const fs::path& path) const {
    // A path already absolute and normal is found as it is; any other is made so first.
    if (const auto found = targetIndex_.find(path.native()); found != targetIndex_.end())
        return found->second;
    const auto found = targetIndex_.find(fs::absolute(path).lexically_normal().native());
    return found == targetIndex_.end() ? none : found->second;
}

std::uint32_t ReferenceIndex::fileNumber(const fs::path& file) const {
    const auto found = fileIndex_.find(file);
    return found == fileIndex_.end() ? none : found->second;
}

std::vector<fs::path> ReferenceIndex::images() const {
    return {targets_.begin(), targets_.begin() + static_cast<long>(imageCount_)};
}

fs::path ReferenceIndex::targetOf(const Reference& reference) const {
    return targets_[reference.target];
}

std::optional<std::uint32_t> ReferenceIndex::imageNumber(const fs::path& image) const {
    const std::uint32_t target = targetNumber(image);
    if (target == none || target >= imageCount_)
        return std::nullopt;
    return target;
}

std::vector<const Reference*> ReferenceIndex::referencesTo(const fs::path& image) const {
    const std::uint32_t target = targetNumber(image);
    return target == none ? std::vector<const Reference*>{} : referencesTo(target);
}

std::vector<const Reference*> ReferenceIndex::referencesTo(std::uint32_t target) const {
    std::vector<const Reference*> result;
    if (target >= byTarget_.size())
        return result;
    result.reserve(byTarget_[target].size());
    for (const std::uint32_t i : byTarget_[target])
        result.push_back(&references_[i]);
    return result;
}

std::vector<const UnresolvedReference*> ReferenceIndex::unresolvedFor(const fs::path& image) const {
    std::vector<const UnresolvedReference*> result;
    const std::uint32_t target = targetNumber(image);
    if (target == none || target >= imageCount_)
        return result;
    for (const std::uint32_t i : unresolvedByImage_[target])
        result.push_back(&unresolved_[i]);
    return result;
}

std::vector<fs::path> ReferenceIndex::filesReferring(const std::vector<fs::path>& images) const {
    // The references are in walk order of their files, so their files' numbers are too.
    std::vector<std::uint32_t> numbers;
    for (const auto& image : images) {
        const std::uint32_t target = targetNumber(image);
        if (target == none)
            continue;
        for (const std::uint32_t i : byTarget_[target])
            numbers.push_back(static_cast<std::uint32_t>(&references_[i].file - files_.data()));
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<fs::path> result;
    result.reserve(numbers.size());
    for (const std::uint32_t n : numbers)
        result.push_back(files_[n]);
    return result;
}

std::vector<KeepReason> ReferenceIndex::reasonsToKeep(const fs::path& image,
                                                      TextFileAccess& access) const {
    return reasonsToKeep(targetNumber(image), access);
}

std::vector<KeepReason> ReferenceIndex::reasonsToKeep(std::uint32_t target,
                                                      TextFileAccess& access) const {
    std::vector<KeepReason> reasons;
    for (const auto& place : unreadable_)
        reasons.push_back(
            {KeepReason::Kind::unreadable, place.path,
             "could not be read (" + describe(place.error) + "), so it may refer to this image"});
    if (target == none || target >= targets_.size())
        return reasons;
    if (target < imageCount_) {
        for (const std::uint32_t i : unresolvedByImage_[target]) {
            const UnresolvedReference& ref = unresolved_[i];
            reasons.push_back(
                {KeepReason::Kind::unresolved, ref.file,
                 "line " + std::to_string(ref.line) + ": \"" + ref.text + "\": " + ref.reason});
        }
    }
    // An image's references are in the order of the index, so those of one file stand together.
    const fs::path* last = nullptr;
    for (const std::uint32_t i : byTarget_[target]) {
        const Reference& ref = references_[i];
        if (&ref.file == last)
            continue;
        last = &ref.file;
        if (notUtf8_[static_cast<std::size_t>(&ref.file - files_.data())])
            reasons.push_back({KeepReason::Kind::notUtf8, ref.file, "is not valid UTF-8 text"});
        else if (linked_.count(ref.file.string()))
            reasons.push_back({KeepReason::Kind::notWritable, ref.file,
                               "is reached through a symbolic link; never written through a link"});
        else if (auto why = access.whyNotWritable(ref.file))
            reasons.push_back(
                {KeepReason::Kind::notWritable, ref.file, "cannot be written back: " + *why});
    }
    return reasons;
}

ReferenceIndex::FileRewrite
ReferenceIndex::rewrite(const fs::path& file, const std::vector<fs::path>& copies,
                        const fs::path& keptCopy, TextFileAccess& access, bool writeBackUnchanged) {
    FileRewrite result;
    using Failure = FileRewrite::Failure;
    std::vector<std::uint32_t> targets;
    for (const auto& copy : copies) {
        if (const std::uint32_t target = targetNumber(copy); target != none)
            targets.push_back(target);
    }
    const fs::path kept = fs::absolute(keptCopy).lexically_normal();
    const std::uint32_t keptNumber = targetNumber(kept);
    std::vector<Reference*> chosen;
    const std::uint32_t number = fileNumber(file);
    if (number != none) {
        for (std::uint32_t i = referencesInFile_[number].first;
             i < referencesInFile_[number].second; ++i) {
            Reference& ref = references_[i];
            if (std::find(targets.begin(), targets.end(), ref.target) != targets.end() &&
                ref.target != keptNumber)
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
    const auto sorted = byOffset({chosen.begin(), chosen.end()});
    const auto replacements = replacementsFor(
        *text, sorted, [&](std::size_t) -> const fs::path& { return kept; }, &result.why);
    if (!replacements) {
        result.failure = Failure::changed;
        result.error = std::make_error_code(std::errc::invalid_argument);
        return result;
    }
    const std::string next = withReplacements(*text, sorted, *replacements);
    if ((result.error = access.write(file, asBytes(next)))) {
        result.failure = Failure::write;
        result.why = "could not be written back: " + result.error.message();
        return result;
    }
    result.written = true;
    result.replaced = chosen.size();
    if (chosen.empty())
        return result;

    // Keep the index in step: new texts for the rewritten references, shifted offsets after.
    const std::uint32_t to = keptNumber != none ? keptNumber : addTarget(kept.native());
    if (to >= byTarget_.size())
        byTarget_.resize(to + 1);
    std::vector<bool> rewritten(referencesInFile_[number].second - referencesInFile_[number].first,
                                false);
    std::vector<std::pair<std::size_t, long long>> shifts; // old end offset -> change in length
    long long delta = 0;
    for (std::size_t k = 0; k < sorted.size(); ++k) {
        Reference& ref = references_[static_cast<std::size_t>(sorted[k] - references_.data())];
        const auto index = static_cast<std::uint32_t>(&ref - references_.data());
        rewritten[index - referencesInFile_[number].first] = true;
        const std::size_t oldEnd = ref.offset + ref.length;
        const std::string& written = (*replacements)[k];
        ref.offset = static_cast<std::size_t>(static_cast<long long>(ref.offset) + delta);
        delta += static_cast<long long>(written.size()) - static_cast<long long>(ref.length);
        shifts.emplace_back(oldEnd, delta);
        ref.length = written.size();
        ref.text = written;
        ref.firstCharacterSkip = 0;
        auto& from = byTarget_[ref.target];
        from.erase(std::find(from.begin(), from.end(), index));
        auto& into = byTarget_[to];
        into.insert(std::upper_bound(into.begin(), into.end(), index), index);
        ref.target = to;
    }
    auto shifted = [&](std::size_t offset) {
        long long d = 0;
        for (const auto& [end, total] : shifts) {
            if (end <= offset)
                d = total;
        }
        return static_cast<std::size_t>(static_cast<long long>(offset) + d);
    };
    for (std::uint32_t i = referencesInFile_[number].first; i < referencesInFile_[number].second;
         ++i) {
        if (!rewritten[i - referencesInFile_[number].first])
            references_[i].offset = shifted(references_[i].offset);
    }
    for (std::uint32_t i = unresolvedInFile_[number].first; i < unresolvedInFile_[number].second;
         ++i)
        unresolved_[i].offset = shifted(unresolved_[i].offset);
    return result;
}

SiteCheck checkSite(const fs::path& rootPath) {
    SiteCheck check;
    const fs::path root = normalFolder(rootPath);
    SiteFiles files = walkSite(root, true);
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
        for (Found& f :
             scanner.scan(file, kind, *text, base, [](const ParsedUrl&) { return false; })) {
            const std::string& last = f.url.segments.back();
            if (!isImageFileName(last))
                continue;
            if (f.target) {
                const auto hit = imageIndex.find(*f.target);
                if (hit != imageIndex.end()) {
                    referenced[hit->second] = true;
                    ++check.references;
                } else if (std::error_code ignored; fs::exists(*f.target, ignored)) {
                    ++check.references;
                } else {
                    check.broken.push_back(
                        {file, f.line, text->substr(f.offset, f.length), fs::path(*f.target)});
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
