#include "optimize/page_rewrite.hpp"

namespace tolvane {

namespace fs = std::filesystem;

namespace {
constexpr std::string_view pageFolderSuffix = "_files";
}

std::optional<PageFiles> pageFilesFor(const fs::path& folder) {
    const std::string name = folder.filename().string();
    if (name.size() < pageFolderSuffix.size() ||
        name.compare(name.size() - pageFolderSuffix.size(), pageFolderSuffix.size(),
                     pageFolderSuffix) != 0)
        return std::nullopt;
    const std::string stem = name.substr(0, name.size() - pageFolderSuffix.size());
    return PageFiles{folder.parent_path() / (stem + ".html"), folder / (stem + ".js")};
}

std::string imagesFolderReference(const fs::path& pageFolder, const fs::path& root) {
    const fs::path relative =
        pageFolder.parent_path().lexically_normal().lexically_relative(root.lexically_normal());
    std::string reference;
    for (const auto& part : relative) {
        if (!part.empty() && part != ".")
            reference += "../";
    }
    return reference + "images";
}

bool isValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0; // overlong
            if (c == 0xED)
                high = 0x9F; // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90; // overlong
            if (c == 0xF4)
                high = 0x8F; // above U+10FFFF
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        if (p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF)
                return false;
        }
        p += length;
    }
    return true;
}

std::size_t replaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty())
        return 0;
    std::string result;
    std::size_t count = 0, start = 0;
    for (std::size_t found; (found = text.find(from, start)) != std::string::npos;
         start = found + from.size()) {
        if (count++ == 0)
            result.reserve(text.size());
        result.append(text, start, found - start);
        result.append(to);
    }
    if (count == 0)
        return 0;
    result.append(text, start, std::string::npos);
    text = std::move(result);
    return count;
}

RewriteResult processFile(const fs::path& P, const std::string& N, const fs::path& D,
                          const RewriteTarget& target, FileManager& files, RunReporter& reporter,
                          const Localize& localize) {
    const std::string F = D.filename().string();
    const std::string slashForm = F + "/" + N;
    const std::string escapedForm = F + "\\/" + N;
    std::string escapedFolder = target.folderReference;
    replaceAll(escapedFolder, "/", "\\/");
    const std::string slashReplacement = target.folderReference + "/" + target.imageName;
    const std::string escapedReplacement = escapedFolder + "\\/" + target.imageName;

    if (!files.exists(P)) {
        reporter.log(localize("HTML/js file: ") + P.string() + localize(" doesn't exist"));
        return RewriteResult::missing;
    }
    reporter.log(localize("Updating file: ") + P.string() + localize(" to use moved image: ") +
                 target.imageName);

    auto fail = [&](std::string_view piece, const FileError& error) {
        const std::string message = localize(piece) + P.string();
        reporter.popupErrorMessage(message, error);
        return RewriteResult::failed;
    };
    FileResult readError;
    const auto bytes = files.readFile(P, readError);
    if (!bytes)
        return fail("Unable to update ", *readError);
    std::string text(bytes->begin(), bytes->end());
    if (!isValidUtf8(text))
        return fail("Unable to update ",
                    FileError{FileError::Operation::read, {P}, make_error_code(RunErrc::notUtf8)});

    replaceAll(text, slashForm, slashReplacement);
    replaceAll(text, escapedForm, escapedReplacement);

    // Written back even when nothing changed, as every rewrite is.
    if (FileResult writeError = files.writeFile(P, asBytes(text)))
        return fail("Unable to write back to file: ", *writeError);
    return RewriteResult::rewritten;
}

} // namespace tolvane
