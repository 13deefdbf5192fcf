#pragma once

#include "refs/keep_reason.hpp"
#include "refs/reference_index.hpp"
#include "run/file_manager.hpp"
#include "scan/scan.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tolvane {

// What a run does with one copy of a group.
struct CopyPlan {
    enum class Fate { kept, removed, stays };
    Fate fate = Fate::stays;
    std::vector<KeepReason> reasons; // why it stays; empty for the others
};

// What a run does with one group: which file keeps the bytes, and each copy's fate.
struct GroupPlan {
    std::filesystem::path kept;                     // where the bytes are after the run
    std::optional<std::filesystem::path> placeFrom; // the copy given the new name kept: the
                                                    // first that goes (copies[placeIndex])
    std::size_t placeIndex = 0;
    std::vector<CopyPlan> copies; // aligned with the group's copies
    std::size_t references = 0;   // references to the group's copies
    std::size_t removed = 0;      // copies a run removes
    bool nameTaken = false;       // images/ holds other content under every name tried

    bool handled() const { return removed > 0; }
    // Whether copy i gives the new name in images/ its bytes: it is moved there, not lost.
    bool movesCopy(std::size_t i) const { return placeFrom && i == placeIndex; }
    // Copies gone for good: the copy that gave a new name in images/ its bytes was moved,
    // not removed.
    std::size_t copiesSaved() const { return removed - (placeFrom && removed ? 1 : 0); }
    std::uint64_t saving(std::uint64_t size) const { return copiesSaved() * size; }
};

// One reference that a run rewrites, and where it leads afterwards.
struct ReferenceChange {
    const Reference* reference = nullptr;
    std::size_t group = 0; // index into the plan's groups
};

// A file whose references a run rewrites, with every change of every group in it.
struct FileChanges {
    std::filesystem::path file;
    std::vector<ReferenceChange> changes; // in the order of the text
};

// The whole run, decided once, before anything is touched. The scan summary, the window, the
// dry run and the run read this one plan. Holds pointers into the index it was made from.
struct SitePlan {
    std::filesystem::path root;
    std::filesystem::path imagesFolder;
    std::vector<GroupPlan> groups;  // aligned with the duplicates
    std::vector<FileChanges> files; // every file a run rewrites, each once
    std::size_t placements = 0;     // new names a run gives in images/
    std::size_t removals = 0;       // copies a run removes, moved ones included
    std::uint64_t bytesSaved = 0;
};

// What the user chose, by absolute normal path: copies that become their group's kept file
// where they are, and copies left where they are with their references untouched. A group the
// user leaves alone is simply not among the duplicates planned.
struct PlanChoices {
    std::set<std::filesystem::path> keep;
    std::set<std::filesystem::path> leave;
    bool empty() const { return keep.empty() && leave.empty(); }
};

// The kept file is a copy the user chose, else a copy already in images/, else the first copy that
// must stay where it is, else images/<name> (or images/<stem>-<md5 prefix><ext> when that holds
// other content, or a name an earlier group takes). A copy that some file refers to in a way that
// cannot be rewritten stays; a group where nothing would be saved is left as it is. Reads the disk
// only through files and access, so a dry run plans what a real run does.
SitePlan planSite(const std::filesystem::path& root, const std::vector<DuplicateGroup>& duplicates,
                  const ReferenceIndex& index, TextFileAccess& access, FileManager& files,
                  const PlanChoices& choices = {});

// The text of one file with its changes applied, every other byte kept: each reference now
// leads, relative to its own base, to its group's kept file. Absent, with why, when the text
// no longer holds a reference where the index found it.
std::optional<std::string> applyChanges(std::string_view text, const FileChanges& file,
                                        const SitePlan& plan, KeepReason* why = nullptr);

// Every copy of every group, in order: what the reference index is built for. Points into
// duplicates.
std::vector<std::string_view> everyCopy(const std::vector<DuplicateGroup>& duplicates);

// The name a group's kept copy takes when images/<name> holds other content:
// "<stem>-<first 8 hex digits of its digest><extension>".
std::string alternativeImageName(const std::string& name, const std::string& md5);

} // namespace tolvane
