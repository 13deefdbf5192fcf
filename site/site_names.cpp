#include "site/site_names.hpp"

#include "util/text.hpp"

#include <algorithm>
#include <array>
#include <string>

namespace tolvane {

namespace {
constexpr std::string_view pageFolderSuffix = "_files";
}

bool hasImageExtension(std::string_view fileName) {
    static constexpr std::array<std::string_view, 5> suffixes{".png", ".jpg", ".jpeg", ".gif",
                                                              ".tiff"};
    return std::any_of(suffixes.begin(), suffixes.end(),
                       [&](std::string_view suffix) { return endsWithNoCase(fileName, suffix); });
}

bool isEligibleImageName(std::string_view fileName) {
    return hasImageExtension(fileName) && fileName.find("_rollover_") == std::string_view::npos &&
           fileName.find("_link_") == std::string_view::npos;
}

TextKind textKindOf(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return TextKind::none;
    std::string ext(name.substr(dot + 1));
    for (char& c : ext)
        c = lowerAscii(c);
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

bool isPageFolderName(std::string_view name) {
    return name.size() > pageFolderSuffix.size() &&
           name.substr(name.size() - pageFolderSuffix.size()) == pageFolderSuffix;
}

std::optional<PageFiles> pageFilesFor(const std::filesystem::path& folder) {
    const std::string name = folder.filename().string();
    if (!isPageFolderName(name))
        return std::nullopt;
    const std::string stem = name.substr(0, name.size() - pageFolderSuffix.size());
    return PageFiles{folder.parent_path() / (stem + ".html"), folder / (stem + ".js")};
}

} // namespace tolvane
