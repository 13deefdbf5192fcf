#pragma once

#include "refs/url_text.hpp"
#include "site/site_names.hpp"

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The folder each text file's relative URLs start from, and the path arithmetic of resolving
// a URL's segments against it.
namespace tolvane {

// The folder a text file's relative URLs start from, or why it is not known.
struct FileBase {
    std::optional<std::filesystem::path> folder;
    UrlProblem unknown = UrlProblem::none;
    std::string detail; // baseOutside: the <base href> as written
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

// The bases of a site's text files, asked pages first: a page's <base href> and the scripts
// it loads decide the base of the scripts.
class BaseFinder {
  public:
    explicit BaseFinder(std::filesystem::path root) : root_(std::move(root)) {}
    // view: the file's decoded text, raw its bytes.
    FileBase baseOf(const std::filesystem::path& file, TextKind kind, const TextView& view,
                    std::string_view raw);

  private:
    FileBase pageBase(const std::filesystem::path& file, const TextView& view,
                      std::string_view raw);
    FileBase scriptBase(const std::filesystem::path& file) const;

    std::filesystem::path root_;
    std::map<std::filesystem::path, FileBase> pageBases_;
    std::map<std::filesystem::path, std::set<std::filesystem::path>> loaders_; // script -> folders
};

// An absolute, lexically normal folder path without a trailing slash.
std::filesystem::path normalFolder(const std::filesystem::path& path);

// base with the first count segments applied: "" and "." stay, ".." climbs (not above "/").
std::filesystem::path resolveSegments(std::filesystem::path base,
                                      const std::vector<std::string>& segments, std::size_t count);

// The same on the text of an absolute normal path, without taking it apart for every URL of a
// site.
std::string resolveSegmentsText(std::string base, const std::vector<std::string>& segments);

// Whether a path is absolute and already in normal form: no "." or ".." part, no empty one.
bool isAbsoluteNormal(std::string_view path);

} // namespace tolvane
