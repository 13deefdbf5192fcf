#pragma once

#include "optimize/url_text.hpp"
#include "util/bytes.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tolvane {

// Files whose text can refer to an image, by their name (any letter case).
enum class TextKind {
    none,       // not read for references
    page,       // .html .htm .xhtml .shtml: relative to its own folder or its <base href>
    document,   // .xml .rss .atom .svg: markup read on its own, relative to its own folder
    stylesheet, // .css: relative to its own folder
    script,     // .js .mjs .json: relative to the page that loads it
};
TextKind textKindOf(std::string_view fileName);

// The folder a text file's relative URLs start from, or why it is not known.
struct FileBase {
    std::optional<std::filesystem::path> folder;
    std::string unknownBecause;
};

// The folder of the page that loads a file inside a page folder "X_files": the folder that
// holds the innermost "X_files" around it (below root), whether or not X.html is there
// (index.html may load Welcome_files/). Absent for a file in no page folder.
std::optional<std::filesystem::path> loadingPageFolder(const std::filesystem::path& file,
                                                       const std::filesystem::path& root);

// The folder named by the first <base href> of a page's text (decoded view), resolved
// against the page's folder. Absent when there is none; unknown when it leaves the site's
// relative world (an absolute or root-relative URL).
std::optional<FileBase> baseHrefOf(const TextView& page, std::string_view raw,
                                   const std::filesystem::path& pageFolder);

// A relative URL found in a text file that leads to an image the index was asked about.
// file and base are held once per text file by the index that made the reference, so a
// reference lives as long as its index (which can be moved, not copied).
struct Reference {
    const std::filesystem::path& file;
    std::size_t offset = 0; // the path as written, without query or fragment
    std::size_t length = 0;
    std::size_t line = 0;                // 1-based, for people
    std::string text;                    // the bytes at offset
    const std::filesystem::path& base;   // the folder it is resolved against
    std::uint32_t target = 0;            // the image it leads to, as the index numbers it
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
    std::string reason;
    std::vector<std::size_t> images; // indices of the images it could name
};

// A text file or folder that could not be read; it may refer to any image.
struct UnreadablePlace {
    std::filesystem::path path;
    std::error_code error;
};

// Why the references to a copy cannot all be rewritten, naming the file.
struct KeepReason {
    enum class Kind {
        unreadable,  // a text file or folder that could not be read may refer to it
        notUtf8,     // a file that refers to it is not valid UTF-8
        notWritable, // a file that refers to it cannot be written back
        unresolved,  // a file refers to it in a form or from a base that is not known
    };
    Kind kind = Kind::unresolved;
    std::filesystem::path file;
    std::string reason;
};

// Reads and writes referencing files; the run gives its own file manager, tests a failing one.
class TextFileAccess {
  public:
    virtual ~TextFileAccess() = default;
    virtual std::optional<Bytes> read(const std::filesystem::path& path,
                                      std::error_code& error) = 0;
    // Replaces the file atomically, keeping its permission bits.
    virtual std::error_code write(const std::filesystem::path& path, ByteView data) = 0;
    // Empty when the file can be replaced (the file and its folder writable); else why not.
    virtual std::optional<std::string> whyNotWritable(const std::filesystem::path& path) = 0;
};

// The file system itself (util/file_io.hpp for reading and atomic writing).
class DiskTextFileAccess : public TextFileAccess {
  public:
    std::optional<Bytes> read(const std::filesystem::path& path, std::error_code& error) override;
    std::error_code write(const std::filesystem::path& path, ByteView data) override;
    std::optional<std::string> whyNotWritable(const std::filesystem::path& path) override;
};

// Another access that asks once per file whether it can be written: for a report on a whole
// site at one moment, where many images share the files that refer to them.
class WritabilityOnce : public TextFileAccess {
  public:
    explicit WritabilityOnce(TextFileAccess& access) : access_(access) {}
    std::optional<Bytes> read(const std::filesystem::path& path, std::error_code& error) override;
    std::error_code write(const std::filesystem::path& path, ByteView data) override;
    std::optional<std::string> whyNotWritable(const std::filesystem::path& path) override;

  private:
    TextFileAccess& access_;
    std::unordered_map<std::string, std::optional<std::string>> answers_;
};

// The text that a file's references become when each leads to keptCopy instead: every other
// byte kept. Absent, with why, when the text no longer holds a reference at its offset.
std::optional<std::string> rewrittenText(std::string_view text,
                                         const std::vector<const Reference*>& references,
                                         const std::filesystem::path& keptCopy,
                                         std::string* why = nullptr);
// The same with a kept file for each reference: references sorted by offset, kept[i] for the
// i-th.
std::optional<std::string> rewrittenText(std::string_view text,
                                         const std::vector<const Reference*>& sorted,
                                         const std::vector<const std::filesystem::path*>& kept,
                                         std::string* why = nullptr);

// Every reference to a set of images in the text files below a site root. Each text file is
// read once; each image-like URL in it is decoded, resolved against the file's base and
// matched against the images by path.
class ReferenceIndex {
  public:
    // images: the files a run may move or delete, as absolute paths below root.
    static ReferenceIndex build(const std::filesystem::path& root,
                                const std::vector<std::filesystem::path>& images,
                                TextFileAccess* access = nullptr);
    // The same, for callers that hold the images elsewhere (each pointer must stay valid
    // while build runs only).
    static ReferenceIndex build(const std::filesystem::path& root,
                                const std::vector<const std::filesystem::path*>& images,
                                TextFileAccess* access = nullptr);

    ReferenceIndex(ReferenceIndex&&) = default;
    ReferenceIndex& operator=(ReferenceIndex&&) = default;
    ReferenceIndex(const ReferenceIndex&) = delete; // the references point into this index
    ReferenceIndex& operator=(const ReferenceIndex&) = delete;

    const std::filesystem::path& root() const { return root_; }
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

    // What became of one file's rewrite.
    struct FileRewrite {
        enum class Failure { none, read, notUtf8, changed, write };
        std::size_t replaced = 0; // references replaced
        bool written = false;
        Failure failure = Failure::none;
        std::error_code error;
        std::string why; // for people, when it failed
    };

    // Rewrites, in file, every reference to one of copies so that it leads to keptCopy, and
    // keeps the index in step with the new text. A file with no such reference is not
    // touched, unless writeBackUnchanged: then it is read, checked and written back as it is.
    // A file that is not valid UTF-8 is never written. Throws nothing.
    FileRewrite rewrite(const std::filesystem::path& file,
                        const std::vector<std::filesystem::path>& copies,
                        const std::filesystem::path& keptCopy, TextFileAccess& access,
                        bool writeBackUnchanged = false);

  private:
    ReferenceIndex() = default;
    static constexpr std::uint32_t none = 0xFFFFFFFF;
    // The number of a target (an image, or a kept copy a rewrite led to), or none.
    std::uint32_t targetNumber(const std::filesystem::path& path) const;
    std::uint32_t addTarget(const std::string& normal);
    std::uint32_t fileNumber(const std::filesystem::path& file) const;

    std::filesystem::path root_;
    // Targets as absolute normal paths: the images first (imageCount_ of them, in the order
    // given), then the kept copies rewrites led to. A deque, so the keys below stay put.
    std::deque<std::string> targets_;
    std::size_t imageCount_ = 0;
    std::unordered_map<std::string_view, std::uint32_t> targetIndex_; // first of each path
    std::vector<std::vector<std::uint32_t>> byTarget_;                // into references_, ascending

    // The text files found, in walk order, with the folder their references resolve against.
    std::vector<std::filesystem::path> files_;
    std::size_t textFilesRead_ = 0;
    std::vector<std::filesystem::path> fileBases_;
    std::map<std::filesystem::path, std::uint32_t> fileIndex_;
    std::vector<bool> notUtf8_; // per file: refers to an image and is not UTF-8
    // Per file, its references (and unresolved ones) as a range: they are sorted by file.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> referencesInFile_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> unresolvedInFile_;

    std::vector<Reference> references_;
    std::vector<UnresolvedReference> unresolved_;
    std::vector<UnreadablePlace> unreadable_;
    std::vector<std::vector<std::uint32_t>> unresolvedByImage_; // into unresolved_
    std::unordered_set<std::string> linked_; // text files reached through a link
};

// What `tolvane-cli check` reports about a site, before any run.
struct BrokenReference {
    std::filesystem::path file;
    std::size_t line = 0;
    std::string text;             // the URL as written
    std::filesystem::path target; // where it leads
};

struct SiteCheck {
    std::vector<BrokenReference> broken;             // lead to nothing
    std::vector<std::filesystem::path> unreferenced; // images nothing refers to
    std::vector<UnresolvedReference> unresolved;     // name an image, cannot be followed
    std::vector<UnreadablePlace> unreadable;
    std::size_t textFiles = 0;
    std::size_t imageFiles = 0;
    std::size_t references = 0; // references followed to an existing file
};

// Reads every text file below root and follows each image URL in it: those that lead to no
// file, and the image files (by suffix, any letter case; no symbolic links) that no URL
// leads to. An image named by a URL that cannot be followed counts as referred to.
SiteCheck checkSite(const std::filesystem::path& root);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(std::string_view text);

} // namespace tolvane
