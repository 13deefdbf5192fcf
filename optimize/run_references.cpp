#include "optimize/run_references.hpp"

namespace tolvane {

namespace fs = std::filesystem;

namespace {

class KeepErrorCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "tolvane-references"; }
    std::string message(int value) const override {
        switch (static_cast<KeepErrc>(value)) {
        case KeepErrc::unreadableText:
            return "A text file of the site could not be read and may refer to it";
        case KeepErrc::notUtf8:
            return "A file that refers to it is not valid UTF-8 text";
        case KeepErrc::notWritable:
            return "A file that refers to it cannot be written back";
        case KeepErrc::unresolved:
            return "A file refers to it in a way that cannot be rewritten";
        }
        return "Unknown error";
    }
};

KeepErrc codeFor(KeepReason::Kind kind) {
    switch (kind) {
    case KeepReason::Kind::unreadable:
        return KeepErrc::unreadableText;
    case KeepReason::Kind::notUtf8:
        return KeepErrc::notUtf8;
    case KeepReason::Kind::notWritable:
        return KeepErrc::notWritable;
    case KeepReason::Kind::unresolved:
        break;
    }
    return KeepErrc::unresolved;
}

std::vector<const fs::path*> everyCopy(const std::vector<DuplicateGroup>& duplicates) {
    std::vector<const fs::path*> copies;
    for (const auto& group : duplicates)
        for (const auto& copy : group.copies)
            copies.push_back(&copy);
    return copies;
}

} // namespace

const std::error_category& keepErrorCategory() {
    static const KeepErrorCategory category;
    return category;
}

std::error_code make_error_code(KeepErrc e) {
    return {static_cast<int>(e), keepErrorCategory()};
}

std::optional<Bytes> RunReferences::Access::read(const fs::path& path, std::error_code& error) {
    lastError.reset();
    auto bytes = files_.readFile(path, lastError);
    if (!bytes)
        error = lastError ? lastError->code : std::make_error_code(std::errc::io_error);
    return bytes;
}

std::error_code RunReferences::Access::write(const fs::path& path, ByteView data) {
    lastError = files_.writeFile(path, data);
    return lastError ? lastError->code : std::error_code();
}

std::optional<std::string> RunReferences::Access::whyNotWritable(const fs::path& path) {
    return disk_.whyNotWritable(path);
}

RunReferences::RunReferences(const fs::path& root, const std::vector<DuplicateGroup>& duplicates,
                             FileManager& files)
    : files_(files), access_(files),
      index_(ReferenceIndex::build(root, everyCopy(duplicates), &access_)) {}

std::vector<KeepReason> RunReferences::reasonsToKeep(const fs::path& copy) {
    return index_.reasonsToKeep(copy, access_);
}

void RunReferences::reportKept(const fs::path& copy, const std::vector<KeepReason>& reasons,
                               RunReporter& reporter, const Localize& localize) {
    if (reasons.empty())
        return;
    const std::string N = copy.filename().string();
    const std::string folder = copy.parent_path().string();
    for (const auto& reason : reasons)
        reporter.log(localize("Keeping ") + copy.string() + localize(": ") + reason.file.string() +
                     " " + reason.reason);
    const KeepReason& first = reasons.front();
    reporter.popupErrorMessage(
        localize("Keeping ") + N + localize(" in ") + folder + localize(": ") +
            first.file.string() + " " + first.reason,
        FileError{FileError::Operation::remove, {copy}, make_error_code(codeFor(first.kind))});
}

FileResult RunReferences::copyFirst(const fs::path& first, const fs::path& kept) {
    if (files_.exists(kept))
        return FileError{
            FileError::Operation::write, {kept}, std::make_error_code(std::errc::file_exists)};
    FileResult error;
    const auto bytes = files_.readFile(first, error);
    if (!bytes)
        return error ? error
                     : FileError{FileError::Operation::read,
                                 {first},
                                 std::make_error_code(std::errc::io_error)};
    if (FileResult written = files_.writeFile(kept, *bytes))
        return written;
    // Checked like every copy the run makes: the kept file must hold the first copy's bytes.
    if (!files_.sameContent(first, kept, error)) {
        if (!error)
            error = FileError{FileError::Operation::compare,
                              {first, kept},
                              make_error_code(RunErrc::contentDiffers)};
        return error;
    }
    return std::nullopt;
}

void RunReferences::beginGroup() {
    doneInGroup_.clear();
    failedInGroup_.clear();
}

std::vector<fs::path> RunReferences::stillReferred(const std::vector<fs::path>& gone) const {
    std::vector<fs::path> referred;
    for (const fs::path& copy : gone) {
        for (const Reference* reference : index_.referencesTo(copy)) {
            if (failedInGroup_.count(reference->file)) {
                referred.push_back(copy);
                break;
            }
        }
    }
    return referred;
}

RewriteResult RunReferences::rewriteOne(const fs::path& P, const std::vector<fs::path>& gone,
                                        const fs::path& kept, bool writeBackUnchanged,
                                        RunReporter& reporter, const Localize& localize) {
    using Failure = ReferenceIndex::FileRewrite::Failure;
    doneInGroup_.insert(P);
    reporter.log(localize("Updating file: ") + P.string() + localize(" to use moved image: ") +
                 kept.filename().string());
    const auto done = index_.rewrite(P, gone, kept, access_, writeBackUnchanged);
    if (done.failure == Failure::none)
        return done.written ? RewriteResult::rewritten : RewriteResult::missing;
    failedInGroup_.insert(P);
    switch (done.failure) {
    case Failure::none:
        break;
    case Failure::read:
        reporter.popupErrorMessage(localize("Unable to update ") + P.string(),
                                   access_.lastError
                                       ? *access_.lastError
                                       : FileError{FileError::Operation::read, {P}, done.error});
        break;
    case Failure::notUtf8:
        reporter.popupErrorMessage(
            localize("Unable to update ") + P.string(),
            FileError{FileError::Operation::read, {P}, make_error_code(RunErrc::notUtf8)});
        break;
    case Failure::changed:
        reporter.popupErrorMessage(localize("Unable to update ") + P.string(),
                                   FileError{FileError::Operation::read, {P}, done.error});
        break;
    case Failure::write:
        reporter.popupErrorMessage(localize("Unable to write back to file: ") + P.string(),
                                   access_.lastError
                                       ? *access_.lastError
                                       : FileError{FileError::Operation::write, {P}, done.error});
        break;
    }
    return RewriteResult::failed;
}

RewriteResult RunReferences::rewritePageFile(const fs::path& P, const std::vector<fs::path>& gone,
                                             const fs::path& kept, RunReporter& reporter,
                                             const Localize& localize) {
    if (!files_.exists(P)) {
        reporter.log(localize("HTML/js file: ") + P.string() + localize(" doesn't exist"));
        return RewriteResult::missing;
    }
    // As every page rewrite does, the file is read and written back even with nothing to change.
    return rewriteOne(P, gone, kept, true, reporter, localize);
}

std::size_t RunReferences::rewriteOtherFiles(const std::vector<fs::path>& gone,
                                             const fs::path& kept, RunReporter& reporter,
                                             const Localize& localize) {
    std::size_t written = 0;
    for (const fs::path& file : index_.filesReferring(gone)) {
        if (doneInGroup_.count(file))
            continue;
        if (rewriteOne(file, gone, kept, false, reporter, localize) == RewriteResult::rewritten)
            ++written;
    }
    return written;
}

} // namespace tolvane
