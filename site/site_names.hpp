#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

// What a file or folder of an exported site is, by its name alone. One rule each, shared by
// the scan, the reference index, the site check and the rewriter.
namespace tolvane {

// ".png", ".jpg", ".jpeg", ".gif" or ".tiff" at the end, in any letter case. A name that is
// only the suffix (".png") counts: the scan has always grouped such files.
bool hasImageExtension(std::string_view fileName);

// An image the scan groups and a run may move: an image name without "_rollover_" or
// "_link_" (case-sensitive) in it. Exporters write those for buttons that swap images.
bool isEligibleImageName(std::string_view fileName);

// Files whose text can refer to an image, by their name (any letter case).
enum class TextKind {
    none,       // not read for references
    page,       // .html .htm .xhtml .shtml: relative to its own folder or its <base href>
    document,   // .xml .rss .atom .svg: markup read on its own, relative to its own folder
    stylesheet, // .css: relative to its own folder
    script,     // .js .mjs .json: relative to the page that loads it
};
TextKind textKindOf(std::string_view fileName);
// Pages and documents are markup: character references count there.
inline bool isMarkup(TextKind kind) {
    return kind == TextKind::page || kind == TextKind::document;
}

// A page folder "<stem>_files" (case-sensitive suffix, non-empty stem) holds what the page
// <stem>.html beside it shows and runs.
bool isPageFolderName(std::string_view folderName);

// The page file and page script that belong to a page folder: the trailing "_files" alone
// names the page, so /S/Old_files/A_files gives /S/Old_files/A.html and
// /S/Old_files/A_files/A.js. Absent for a folder that is not a page folder.
struct PageFiles {
    std::filesystem::path pageFile;
    std::filesystem::path pageScript;
};
std::optional<PageFiles> pageFilesFor(const std::filesystem::path& folder);

} // namespace tolvane
