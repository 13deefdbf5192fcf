#pragma once

#include "run/file_manager.hpp"
#include "run/reporter.hpp"
#include "site/site_names.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// The site images folder as a page beside this page folder reaches it: "images" from the
// root, "../images" one level down, and so on.
std::string imagesFolderReference(const std::filesystem::path& pageFolder,
                                  const std::filesystem::path& root);

// Where the rewritten references lead: "<folderReference>/<imageName>", from the page's folder.
struct RewriteTarget {
    std::string folderReference = "images";
    std::string imageName;
};

enum class RewriteResult { missing, rewritten, failed };

// Rewrites one page file or page script so that its references to the image imageName in
// pageFolder (URLs from the page's folder, in any form the reference index reads) lead to the
// target instead, written as the file wrote them. Reports through the reporter; never throws
// for a file-system failure. Every byte but the replaced ones is kept; a file that is not
// valid UTF-8 is left as it is. The file is written back even when nothing changed.
RewriteResult processFile(const std::filesystem::path& file, const std::string& imageName,
                          const std::filesystem::path& pageFolder, const RewriteTarget& target,
                          FileManager& files, RunReporter& reporter);

} // namespace tolvane
