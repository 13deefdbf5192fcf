#include "run/page_rewrite.hpp"

#include "refs/reference_rewrite.hpp"
#include "util/text.hpp"

namespace tolvane {

namespace fs = std::filesystem;

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

RewriteResult processFile(const fs::path& file, const std::string& imageName,
                          const fs::path& pageFolder, const RewriteTarget& target,
                          FileManager& files, RunReporter& reporter, const Localize& localize) {
    if (!files.exists(file)) {
        reporter.log(localize("HTML/js file: ") + file.string() + localize(" doesn't exist"));
        return RewriteResult::missing;
    }
    reporter.log(localize("Updating file: ") + file.string() + localize(" to use moved image: ") +
                 target.imageName);

    auto fail = [&](std::string_view piece, const FileError& error) {
        reporter.popupErrorMessage(localize(piece) + file.string(), error);
        return RewriteResult::failed;
    };
    FileResult readError;
    const auto bytes = files.readFile(file, readError);
    if (!bytes)
        return fail("Unable to update ", *readError);
    const std::string text(bytes->begin(), bytes->end());
    if (!isUtf8Text(text))
        return fail(
            "Unable to update ",
            FileError{FileError::Operation::read, {file}, make_error_code(RunErrc::notUtf8)});
    // The page and the scripts of its folder both reach the image from the page's folder.
    const fs::path base = fs::absolute(pageFolder.parent_path()).lexically_normal();
    const auto rewritten = rewrittenReferencesTo(
        text, file, base, base / pageFolder.filename() / imageName,
        (base / target.folderReference / target.imageName).lexically_normal());
    if (!rewritten)
        return fail("Unable to update ",
                    FileError{FileError::Operation::read,
                              {file},
                              std::make_error_code(std::errc::invalid_argument)});
    if (FileResult writeError = files.writeFile(file, asBytes(*rewritten)))
        return fail("Unable to write back to file: ", *writeError);
    return RewriteResult::rewritten;
}

} // namespace tolvane
