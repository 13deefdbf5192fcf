#pragma once

#include "refs/bases.hpp"
#include "refs/keep_reason.hpp"
#include "refs/url_text.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The image URLs of one text file, and what each is: the one classification that the
// reference index and the site check share.
namespace tolvane {

// One URL found in a text file, with what it resolves to.
struct FoundUrl {
    ParsedUrl url;
    std::size_t offset = 0; // in the file's bytes, the path as written
    std::size_t length = 0;
    std::size_t line = 0;              // 1-based
    std::size_t skip = 0;              // bytes of the character at offset before the URL starts
    std::string decoded;               // the whole URL, percent-decoded, for names inside it
    std::optional<std::string> target; // a relative URL against a known base
};

// The URL at span of a decoded text: parsed, placed in the file's bytes (no line yet).
struct UrlSpan;
FoundUrl foundUrlAt(const TextView& view, const UrlSpan& span, std::string_view raw, bool markup);

// Reads the image URLs of a site's text files, asked pages first (see BaseFinder).
class UrlReader {
  public:
    explicit UrlReader(std::filesystem::path root) : bases_(std::move(root)) {}
    // Every image URL of one file, resolved where its base allows; the base is set too.
    // decodedWhole(url): whether to keep the URL's whole percent-decoded text.
    std::vector<FoundUrl> read(const std::filesystem::path& file, TextKind kind,
                               std::string_view raw, FileBase& base,
                               const std::function<bool(const ParsedUrl&)>& decodedWhole);

  private:
    BaseFinder bases_;
};

// What a found URL leads to.
struct UrlClass {
    enum class Kind {
        image,        // one of the images asked about (image holds its number)
        otherFile,    // an existing file that is none of them
        nothing,      // no file; a script may complete the text at run time
        unexaminable, // a path that cannot be examined
        unresolved,   // cannot be followed: absolute, from the root, malformed, or no base
    };
    Kind kind = Kind::unresolved;
    std::uint32_t image = 0;
    UrlProblem problem = UrlProblem::none; // why it cannot be followed, or leads to nothing
    std::string detail;                    // the parser's or base finder's word on it
    std::error_code error;                 // why an unexaminable path cannot be examined
};
// A site root as its path is written and as the file system resolves it, to name a file that
// a path through a link reaches by its own path in the site.
class SiteRoot {
  public:
    explicit SiteRoot(const std::filesystem::path& root);
    // The path in the site of the file that path reaches, following every link; absent when
    // it reaches nothing or lies outside the site.
    std::optional<std::string> realPathInSite(const std::string& path) const;

  private:
    std::string written_; // absolute and normal, without a trailing slash
    std::string real_;    // the same, every link followed
    // Each folder's real path, found once: a site refers to many files in few folders.
    mutable std::unordered_map<std::string, std::optional<std::string>> realFolders_;
};

// imageAt(path): the number of the image at an absolute normal path, or absent. With root, a
// path that reaches one of the images through a link leads to that image.
UrlClass classifyUrl(const FoundUrl& found, const FileBase& base,
                     const std::function<std::optional<std::uint32_t>(const std::string&)>& imageAt,
                     const SiteRoot* root = nullptr);

// Images by file name, and the lengths of those names, for the names that stand inside text.
class NameTable {
  public:
    // images: paths, or the texts of absolute paths.
    template <typename Paths> explicit NameTable(const Paths& images) {
        for (std::size_t i = 0; i < images.size(); ++i)
            add(fileNameOf(images[i]), i);
    }

    const std::vector<std::size_t>* withName(const std::string& name) const;
    // Names that end text after a bounding character, other than its last segment itself.
    std::vector<std::string> namesInside(const std::string& text) const;

  private:
    static std::string fileNameOf(const std::filesystem::path& image);
    static std::string fileNameOf(const std::string& image);
    static std::string fileNameOf(std::string_view image);
    void add(const std::string& name, std::size_t image);

    std::unordered_map<std::string, std::vector<std::size_t>> byName_;
    std::set<std::size_t> lengths_;
};

// The images a reference that cannot be followed could name: those of its file name whose
// path below root ends in the reference's own last segments.
template <typename Paths>
std::vector<std::size_t> candidatesFor(const std::vector<std::string>& segments,
                                       const std::vector<std::size_t>& sameName,
                                       const Paths& images, const std::filesystem::path& root) {
    std::vector<std::string> tail;
    for (const auto& s : segments) {
        if (!s.empty() && s != "." && s != "..")
            tail.push_back(s);
    }
    std::vector<std::size_t> result;
    for (const std::size_t i : sameName) {
        std::vector<std::string> parts;
        for (const auto& part : std::filesystem::path(images[i]).lexically_relative(root))
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

} // namespace tolvane
