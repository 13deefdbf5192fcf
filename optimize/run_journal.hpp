#pragma once

#include "util/bytes.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tolvane {

// Where runs are recorded for undo: $XDG_DATA_HOME/tolvane, else ~/.local/share/tolvane.
// Read from the environment on every call.
std::filesystem::path journalHome();

// What a run records before each of its phases, so that undo can put the site back even when
// the run was cut short. Every record is on disk (flushed) before the call returns; the run
// acts only after that.
class RunJournal {
  public:
    // A file the run puts into the images folder (a hard link or a copy of a copy).
    struct Placed {
        std::filesystem::path path;
        std::string md5;
        std::uint64_t size = 0;
    };
    // A file the run replaces: its bytes before the run, and the digest of what it writes.
    struct Rewrite {
        std::filesystem::path path;
        ByteView oldText;
        std::string newMd5;
    };
    // A copy the run deletes; its bytes live on in kept.
    struct Removal {
        std::filesystem::path copy;
        std::filesystem::path kept;
        std::string md5;
        std::uint64_t size = 0;
        unsigned mode = 0644;
    };
    struct Summary {
        std::size_t copiesRemoved = 0;
        std::uint64_t bytesSaved = 0;
        std::size_t filesRewritten = 0;
    };

    // Starts the record of a new run of root (an absolute path), in a folder of its own below
    // journalHome()/runs/.
    static std::optional<RunJournal> start(const std::filesystem::path& root,
                                           std::error_code& error);

    std::error_code imagesFolderCreated(const std::filesystem::path& folder);
    std::error_code placing(const std::vector<Placed>& files);
    std::error_code rewriting(const std::vector<Rewrite>& files);
    std::error_code removing(const std::vector<Removal>& copies);
    std::error_code finished(const Summary& summary);

    const std::filesystem::path& folder() const { return folder_; }

  private:
    explicit RunJournal(std::filesystem::path folder) : folder_(std::move(folder)) {}
    std::filesystem::path folder_;
};

} // namespace tolvane
