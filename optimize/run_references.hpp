#pragma once

#include "optimize/file_manager.hpp"
#include "optimize/page_rewrite.hpp"
#include "optimize/references.hpp"
#include "optimize/reporter.hpp"
#include "scan/scan.hpp"

#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace tolvane {

// Why a run keeps a copy it would otherwise remove.
enum class KeepErrc {
    unreadableText = 1, // a text file that could not be read may refer to it
    notUtf8,            // a file that refers to it is not valid UTF-8 text
    notWritable,        // a file that refers to it cannot be written back
    unresolved,         // a file refers to it in a form or from a base that cannot be rewritten
};
const std::error_category& keepErrorCategory();
std::error_code make_error_code(KeepErrc e);

// What a run needs to know and do about the references to its copies. Built once, before the
// run touches anything, from every text file of the site; reads and writes go through the
// run's file manager, so a dry run changes nothing here either.
class RunReferences {
  public:
    RunReferences(const std::filesystem::path& root, const std::vector<DuplicateGroup>& duplicates,
                  FileManager& files);

    const ReferenceIndex& index() const { return index_; }

    // Empty when every reference to copy will be rewritten, so it may go.
    std::vector<KeepReason> reasonsToKeep(const std::filesystem::path& copy);

    // Logs every reason and shows one sheet naming the first file, for a copy N that stays.
    void reportKept(const std::filesystem::path& copy, const std::vector<KeepReason>& reasons,
                    RunReporter& reporter, const Localize& localize);

    // Puts a copy of first's bytes at kept (where nothing may be yet); first stays.
    FileResult copyFirst(const std::filesystem::path& first, const std::filesystem::path& kept);

    // Starts a group: no file is rewritten yet for it.
    void beginGroup();

    // A page file or page script of a removed copy, with the log line and sheets of a page
    // rewrite: its references to any copy in gone, as the index found them, now lead to kept.
    RewriteResult rewritePageFile(const std::filesystem::path& P,
                                  const std::vector<std::filesystem::path>& gone,
                                  const std::filesystem::path& kept, RunReporter& reporter,
                                  const Localize& localize);

    // Every other file that refers to a copy in gone, each once per group, with the same log
    // line and sheets. Returns the number of files written.
    std::size_t rewriteOtherFiles(const std::vector<std::filesystem::path>& gone,
                                  const std::filesystem::path& kept, RunReporter& reporter,
                                  const Localize& localize);

    // The copies in gone that a file of this group still refers to because its rewrite failed
    // (a write that failed after the guard's checks, such as a full disk).
    std::vector<std::filesystem::path>
    stillReferred(const std::vector<std::filesystem::path>& gone) const;

  private:
    // The text files go through the run's file manager; whether one can be written is asked
    // of the file system itself.
    class Access : public TextFileAccess {
      public:
        explicit Access(FileManager& files) : files_(files) {}
        std::optional<Bytes> read(const std::filesystem::path& path,
                                  std::error_code& error) override;
        std::error_code write(const std::filesystem::path& path, ByteView data) override;
        std::optional<std::string> whyNotWritable(const std::filesystem::path& path) override;

        FileResult lastError; // the file manager's own account of the last failure

      private:
        FileManager& files_;
        DiskTextFileAccess disk_;
    };

    RewriteResult rewriteOne(const std::filesystem::path& P,
                             const std::vector<std::filesystem::path>& gone,
                             const std::filesystem::path& kept, bool writeBackUnchanged,
                             RunReporter& reporter, const Localize& localize);

    FileManager& files_;
    Access access_;
    ReferenceIndex index_;
    std::set<std::filesystem::path> doneInGroup_;
    std::set<std::filesystem::path> failedInGroup_;
};

} // namespace tolvane

template <> struct std::is_error_code_enum<tolvane::KeepErrc> : std::true_type {};
