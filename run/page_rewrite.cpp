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
                          FileManager& files, RunReporter& reporter) {
    if (!files.exists(file)) {
        reporter.report({EventKind::fileMissing, {file}, std::nullopt, std::nullopt, {}});
        return RewriteResult::missing;
    }
    reporter.report({EventKind::fileUpdating,
                     {file, fs::path(target.imageName)},
                     std::nullopt,
                     std::nullopt,
                     {}});

    auto fail = [&](EventKind kind, const FileError& error) {
        reporter.report({kind, {file}, error, std::nullopt, {}});
        return RewriteResult::failed;
    };
    FileResult readError;
    const auto bytes = files.readFile(file, readError);
    if (!bytes)
        return fail(EventKind::updateFailed, *readError);
    const std::string text(bytes->begin(), bytes->end());
    if (!isUtf8Text(text))
        return fail(
            EventKind::updateFailed,
            FileError{FileError::Operation::read, {file}, make_error_code(RunErrc::notUtf8)});
    // The page and the scripts of its folder both reach the image from the page's folder.
    const fs::path base = fs::absolute(pageFolder.parent_path()).lexically_normal();
    const auto rewritten = rewrittenReferencesTo(
        text, file, base, base / pageFolder.filename() / imageName,
        (base / target.folderReference / target.imageName).lexically_normal());
    if (!rewritten)
        return fail(EventKind::updateFailed,
                    FileError{FileError::Operation::read,
                              {file},
                              std::make_error_code(std::errc::invalid_argument)});
    if (FileResult writeError = files.writeFile(file, asBytes(*rewritten)))
        return fail(EventKind::writeBackFailed, *writeError);
    return RewriteResult::rewritten;
}

} // namespace tolvane
