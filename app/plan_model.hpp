#pragma once

#include "refs/reference_index.hpp"
#include "run/site_plan.hpp"
#include "scan/scan.hpp"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tolvane {

// A scan result with the run's plan for it, as the window shows it.
struct ScanDisplay {
    ScanResult scan;
    std::vector<GroupPlan> groups;               // one per duplicate group, in the same order
    std::vector<FileChanges> files;              // every file a run would write back
    std::shared_ptr<const ReferenceIndex> index; // what the plan was made from (files point in)
};

// Finds every reference to the copies of the scan's groups (reading the site's text files) and
// decides, as a run would, what happens to each copy. Works off the window's thread. A
// cancelled progress gives a cancelled scan's result.
ScanDisplay withReferences(ScanResult scan, Progress* progress = nullptr);

// "100 KB", "2.5 MB", "300": a size in bytes, the units counted in 1024s as the window shows
// them; absent when the text is not a size.
std::optional<std::uint64_t> bytesOf(const QString& text);

// The result on display, what the user chose for it and the run's plan under those choices.
// Knows no widgets: the window shows what it says.
class PlanModel {
  public:
    // What a run of the plan does, summed over the groups taken.
    struct Totals {
        std::size_t copies = 0; // copies removed
        std::uint64_t bytes = 0;
        std::size_t files = 0; // files rewritten
        std::size_t stayed = 0;
    };
    // One change a run makes to the site, for the preview.
    struct Change {
        std::filesystem::path path;
        std::size_t group = 0;
        std::size_t copy = 0;                                   // for a copy's fate
        std::vector<std::pair<std::string, std::string>> edits; // a rewritten file: before, after
    };

    // Takes a new result. Choices are kept for the same site where they still name a group or
    // a copy of it, and the plan is made again under them; another site starts afresh.
    void show(const ScanDisplay& shown);
    bool hasResult() const { return duplicates_.has_value(); }
    const std::vector<DuplicateGroup>& groups() const { return duplicates_ ? *duplicates_ : none_; }
    const std::optional<std::vector<DuplicateGroup>>& duplicates() const { return duplicates_; }
    const GroupPlan* plan(int group) const;
    // The site of the result on display, and the same only when it has duplicates.
    const std::filesystem::path& shownRoot() const { return shownRoot_; }
    const std::filesystem::path& root() const { return root_; }
    const std::vector<std::filesystem::path>& leftovers() const { return leftovers_; }

    bool groupChosen(std::size_t group) const;
    bool copyChosen(std::size_t group, std::size_t copy) const;
    bool copyKept(std::size_t group, std::size_t copy) const;
    void setGroupChosen(std::size_t group, bool chosen);
    void setCopyChosen(std::size_t group, std::size_t copy, bool chosen);
    // Makes a copy its group's kept file where it is (one per group), or no longer.
    void keepCopy(std::size_t group, std::size_t copy, bool keep);
    void chooseGroups(const std::function<bool(std::size_t group)>& chosen);
    void chooseGroupsSavingMoreThan(std::uint64_t bytes);
    const PlanChoices& choices() const { return choices_; }
    bool anyChoice() const { return !groupsLeftAlone_.empty() || !choices_.empty(); }
    // The groups a run takes, in order.
    std::vector<DuplicateGroup> chosenDuplicates() const;

    Totals totals() const;
    // Every change a run would make: each rewritten file with its references before and after,
    // then each copy of each group taken with its fate. Reads the files it lists, counted in
    // progress; empty when progress is cancelled.
    std::vector<Change> changes(Progress* progress = nullptr) const;

  private:
    void replan();

    std::optional<std::vector<DuplicateGroup>> duplicates_;
    std::vector<DuplicateGroup> none_;
    std::vector<GroupPlan> plans_; // in step with duplicates_
    std::vector<FileChanges> files_;
    std::shared_ptr<const ReferenceIndex> index_;
    std::filesystem::path shownRoot_;
    std::filesystem::path root_;
    std::vector<std::filesystem::path> leftovers_;
    std::set<std::pair<std::string, std::string>> groupsLeftAlone_; // name, digest
    PlanChoices choices_;
};

} // namespace tolvane
