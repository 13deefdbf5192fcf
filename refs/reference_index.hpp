#pragma once

#include "refs/found_url.hpp"
#include "refs/keep_reason.hpp"
#include "site/site_walk.hpp"
#include "site/text_files.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tolvane {

// A relative URL found in a text file that leads to an image the index was asked about.
// file and base are held once per text file by the index that made the reference, so a
// reference lives as long as its index (which can be moved, not copied).
struct Reference {
    const std::filesystem::path& file;
    std::uint32_t offset = 0; // the path as written, without query or fragment
    std::uint32_t length = 0;
    std::uint32_t line = 0;              // 1-based, for people
    std::uint32_t target = 0;            // the image it leads to, as the index numbers it
    std::string_view text;               // the bytes at offset, held by the index
    const std::filesystem::path& base;   // the folder it is resolved against
    std::uint8_t firstCharacterSkip = 0; // bytes of the decoded character at offset before
                                         // the URL starts (only for a URL cut at 4096 bytes)
};
// Text that names one of the images but cannot be followed: its file's base is unknown, it
// is absolute or root-relative, it is malformed, or the name stands in a form not recognised.
struct UnresolvedReference {
    std::filesystem::path file;
    std::size_t offset = 0;
    std::size_t length = 0;
    std::size_t line = 0;
    std::string text;
    UrlProblem problem = UrlProblem::none; // why it cannot be followed
    std::string detail;                    // the parser's word on it, or the name inside
    std::vector<std::size_t> images;       // indices of the images it could name
};

// Every reference to a set of images in the text files below a site root. Each text file is
// read once; each image-like URL in it is decoded, resolved against the file's base and
// matched against the images by path.
class ReferenceIndex {
  public:
    // images: the files a run may move or delete, as absolute paths below root.
    // progress, when given, counts the text files read (phase indexing; the total is known
    // once the text files are listed) and can cancel the build.
    // listing, when given, is the site's walk to read the text files of (a scan's); else the
    // site is walked.
    static ReferenceIndex build(const std::filesystem::path& root,
                                const std::vector<std::filesystem::path>& images,
                                TextFileAccess* access = nullptr, Progress* progress = nullptr,
                                const SiteListing* listing = nullptr);
    // Whether the index copies the images' paths, or refers to the caller's texts (those
    // already absolute and normal), which must then stay valid and unchanged as long as the
    // index: a run's copies are hundreds of thousands of paths it holds anyway.
    enum class ImagePaths { copied, borrowed };
    // The same, for callers that hold the images elsewhere.
    static ReferenceIndex build(const std::filesystem::path& root,
                                const std::vector<std::string_view>& images,
                                TextFileAccess* access = nullptr, Progress* progress = nullptr,
                                const SiteListing* listing = nullptr,
                                ImagePaths paths = ImagePaths::copied);

    ReferenceIndex(ReferenceIndex&&) = default;
    ReferenceIndex& operator=(ReferenceIndex&&) = default;
    ReferenceIndex(const ReferenceIndex&) = delete; // the references point into this index
    ReferenceIndex& operator=(const ReferenceIndex&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // A cancelled build holds only part of the site's references: plan nothing with it.
    bool cancelled() const { return cancelled_; }
    std::vector<std::filesystem::path> images() const;
    std::size_t textFilesRead() const { return textFilesRead_; }
    const std::vector<Reference>& references() const { return references_; }
    const std::vector<UnresolvedReference>& unresolved() const { return unresolved_; }
    const std::vector<UnreadablePlace>& unreadable() const { return unreadable_; }
    // The image a reference leads to.
    std::filesystem::path targetOf(const Reference& reference) const;

    std::vector<const Reference*> referencesTo(const std::filesystem::path& image) const;
    // The number of an image given to build (the first, for a path given twice), or absent.
    // The lookups by number below spare a caller that asks of many images the path's hash.
    std::optional<std::uint32_t> imageNumber(const std::filesystem::path& image) const;
    std::vector<const Reference*> referencesTo(std::uint32_t image) const;
    std::vector<const UnresolvedReference*> unresolvedFor(const std::filesystem::path& image) const;
    // The files that refer to any of images, each once, in the order they were read.
    std::vector<std::filesystem::path>
    filesReferring(const std::vector<std::filesystem::path>& images) const;

    // Empty when every reference to image can be rewritten: each referencing file read,
    // valid UTF-8 and writable, each reference in a recognised form with a known base.
    std::vector<KeepReason> reasonsToKeep(const std::filesystem::path& image,
                                          TextFileAccess& access) const;
    std::vector<KeepReason> reasonsToKeep(std::uint32_t image, TextFileAccess& access) const;

  private:
    struct Gathered;
    ReferenceIndex() = default;
    void addImages(const std::vector<std::string_view>& images, ImagePaths paths);
    void takeFiles(SiteFiles& files);
    void readFile(std::size_t number, TextKind kind, TextFileAccess& io, UrlReader& reader,
                  const NameTable& names, Gathered& gathered);
    // A file saved as UTF-16 or UTF-32 (or with NUL bytes): the images it may show, each
    // kept for it, since it cannot be rewritten byte for byte.
    void keepForWideText(std::size_t number, TextKind kind, const std::string& decoded,
                         UrlReader& reader, const NameTable& names);
    void place(Gathered& gathered);
    // The references of a file (by number) that lead to one of copies, but not to kept.
    static constexpr std::uint32_t none = 0xFFFFFFFF;
    // The number of an image, or none.
    std::uint32_t targetNumber(const std::filesystem::path& path) const;
    // The target at an absolute normal path as text, or absent.
    std::optional<std::uint32_t> targetAt(const std::string& path) const;

    std::filesystem::path root_;
    std::optional<SiteRoot> siteRoot_; // for paths that reach an image through a link
    bool cancelled_ = false;
    // Targets as absolute normal paths: the images, in the order given. Each is the caller's
    // text (borrowed) or held in ownedPaths_, one after another: a vector's buffer stays put
    // when the index is moved.
    std::vector<char> ownedPaths_;
    std::vector<std::string_view> targets_;
    std::size_t imageCount_ = 0;
    std::unordered_map<std::string_view, std::uint32_t> targetIndex_; // first of each path
    std::vector<std::vector<std::uint32_t>> byTarget_;                // into references_, ascending

    // The text files found, in walk order, with the folder their references resolve against.
    std::vector<std::filesystem::path> files_;
    std::size_t textFilesRead_ = 0;
    std::vector<std::filesystem::path> fileBases_;
    std::vector<bool> notUtf8_; // per file: refers to an image and is not UTF-8
    // Per image, the files not in UTF-8 that may show it without a reference found in them.
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> wideTextFiles_;
    // Per file, its references (and unresolved ones) as a range: they are sorted by file.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> referencesInFile_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> unresolvedInFile_;

    std::vector<Reference> references_;
    // The references' texts: per file, as read, one after another.
    std::vector<std::string> referenceTexts_;
    std::vector<UnresolvedReference> unresolved_;
    std::vector<UnreadablePlace> unreadable_;
    std::vector<std::vector<std::uint32_t>> unresolvedByImage_; // into unresolved_
    std::unordered_set<std::string> linked_;                    // text files reached through a link
};

} // namespace tolvane
