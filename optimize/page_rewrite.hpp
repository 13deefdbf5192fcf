#pragma once

#include "optimize/file_manager.hpp"
#include "optimize/reporter.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// The page file and page script that belong to a page folder "<stem>_files": the trailing
// "_files" alone names the page, so /S/Old_files/A_files gives /S/Old_files/A.html and
// /S/Old_files/A_files/A.js. Absent for a folder that is not a page folder (the suffix test
// is case-sensitive).
struct PageFiles {
    std::filesystem::path pageFile;
    std::filesystem::path pageScript;
};
std::optional<PageFiles> pageFilesFor(const std::filesystem::path& folder);

// The site images folder as a page beside this page folder reaches it: "images" from the
// root, "../images" one level down, and so on.
std::string imagesFolderReference(const std::filesystem::path& pageFolder,
                                  const std::filesystem::path& root);

// Where the rewritten references lead: "<folderReference>/<imageName>" and its escaped form.
struct RewriteTarget {
    std::string folderReference = "images";
    std::string imageName;
};

enum class RewriteResult { missing, rewritten, failed };

// Rewrites one page file or page script P so that its references to image N in folder D
// (by D's own name, in the plain and the "\/" form) lead to the target instead. Reports
// through the reporter; never throws for a file-system failure. Every byte but the replaced
// ones is kept; a file that is not valid UTF-8 is left as it is.
RewriteResult processFile(const std::filesystem::path& P, const std::string& N,
                          const std::filesystem::path& D, const RewriteTarget& target,
                          FileManager& files, RunReporter& reporter,
                          const Localize& localize = englishText);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// Replaces every non-overlapping occurrence, scanning from the start; inserted text is not
// searched again. Returns the number of replacements.
std::size_t replaceAll(std::string& text, std::string_view from, std::string_view to);

} // namespace tolvane
