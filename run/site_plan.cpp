#include "run/site_plan.hpp"

#include "refs/reference_rewrite.hpp"

#include <algorithm>
#include <set>
#include <unordered_map>

namespace tolvane {

namespace fs = std::filesystem;

std::string alternativeImageName(const std::string& name, const std::string& md5) {
    const fs::path path(name);
    return path.stem().string() + "-" + md5.substr(0, 8) + path.extension().string();
}

std::vector<std::string_view> everyCopy(const std::vector<DuplicateGroup>& duplicates) {
    std::vector<std::string_view> copies;
    for (const auto& group : duplicates)
        for (std::size_t i = 0; i < group.copies.size(); ++i)
            copies.push_back(group.copies.native(i));
    return copies;
}

std::optional<std::string> applyChanges(std::string_view text, const FileChanges& file,
                                        const SitePlan& plan, KeepReason* why) {
    std::vector<const Reference*> references;
    std::vector<const fs::path*> kept;
    references.reserve(file.changes.size());
    kept.reserve(file.changes.size());
    for (const ReferenceChange& change : file.changes) {
        references.push_back(change.reference);
        kept.push_back(&plan.groups[change.group].kept);
    }
    return rewrittenText(text, references, kept, why);
}

namespace {

fs::path normal(const fs::path& path) {
    return fs::absolute(path).lexically_normal();
}

class Planner {
  public:
    Planner(const fs::path& root, const ReferenceIndex& index, TextFileAccess& access,
            FileManager& files, const PlanChoices& choices)
        : index_(index), access_(access), files_(files), choices_(choices),
          workingFolder_(fs::current_path()) {
        plan_.root = normal(root);
        plan_.imagesFolder = plan_.root / "images";
        // Something at images that is not a real folder (a file, a link out of the site) is
        // never looked into: a run that needs it fails before it places anything there.
        imagesUsable_ = files_.isDirectory(plan_.imagesFolder);
    }

    SitePlan take(const std::vector<DuplicateGroup>& duplicates) {
        for (const auto& group : duplicates)
            plan_.groups.push_back(planGroup(group));
        collectFileChanges(duplicates);
        return std::move(plan_);
    }

  private:
    // A copy's absolute, normal path; the working folder is asked once, not once per copy.
    fs::path absolute(const fs::path& copy) const {
        return (copy.is_absolute() ? copy : workingFolder_ / copy).lexically_normal();
    }

    GroupPlan planGroup(const DuplicateGroup& group) {
        GroupPlan g;
        g.copies.resize(group.copies.size());
        std::vector<std::uint32_t>& numbers =
            imageNumbers_.emplace_back(group.copies.size(), noImage);
        std::optional<std::size_t> chosen, inImages, firstHeld;
        for (std::size_t i = 0; i < group.copies.size(); ++i) {
            const fs::path copy = absolute(group.copies[i]);
            if (const auto number = index_.imageNumber(copy)) {
                numbers[i] = *number;
                g.references += index_.referencesTo(*number).size();
                g.copies[i].reasons = index_.reasonsToKeep(*number, access_);
            } else {
                g.copies[i].reasons = index_.reasonsToKeep(copy, access_);
            }
            if (!inImages && imagesUsable_ && copy.parent_path() == plan_.imagesFolder)
                inImages = i;
            if (!firstHeld && !g.copies[i].reasons.empty())
                firstHeld = i;
            if (!chosen && choices_.keep.count(copy))
                chosen = i;
            // A copy left alone stays, but the others do not lead to it.
            if (choices_.leave.count(copy)) {
                KeepReason& left = g.copies[i].reasons.emplace_back();
                left.kind = KeepErrc::chosen;
                left.file = copy;
                left.cause = KeepReason::Cause::chosen;
            }
        }
        std::optional<std::size_t> keptCopy = chosen ? chosen : inImages ? inImages : firstHeld;
        if (keptCopy) {
            g.kept = absolute(group.copies[*keptCopy]);
        } else if (const auto going = firstGoing(g)) {
            if (!chooseImagesName(group, *going, g))
                g.nameTaken = true;
        }
        if (!g.nameTaken) {
            for (std::size_t i = 0; i < group.copies.size(); ++i) {
                CopyPlan& copy = g.copies[i];
                if (keptCopy && i == *keptCopy)
                    copy.fate = CopyPlan::Fate::kept;
                else if (copy.reasons.empty())
                    copy.fate = CopyPlan::Fate::removed;
                if (copy.fate == CopyPlan::Fate::removed)
                    ++g.removed;
            }
        }
        if (g.saving(1) == 0) {
            // Nothing would be saved: the group stays as it is.
            for (CopyPlan& copy : g.copies)
                copy.fate = CopyPlan::Fate::stays;
            g.removed = 0;
            g.placeFrom.reset();
            g.kept.clear();
            return g;
        }
        if (g.placeFrom)
            ++plan_.placements;
        plan_.removals += g.removed;
        plan_.bytesSaved += g.saving(group.size);
        if (g.kept.parent_path() == plan_.imagesFolder)
            claimed_.insert(g.kept.filename().string());
        return g;
    }

    // The first copy with no reason to stay: it gives a new name in images/ its bytes. None
    // when every copy stays (the user left them all alone).
    static std::optional<std::size_t> firstGoing(const GroupPlan& g) {
        for (std::size_t i = 0; i < g.copies.size(); ++i)
            if (g.copies[i].reasons.empty())
                return i;
        return std::nullopt;
    }

    // images/<name>, or the name with the digest in it: free (the first copy is linked there)
    // or holding the group's bytes already (placed after the scan, or by a run cut short).
    bool chooseImagesName(const DuplicateGroup& group, std::size_t going, GroupPlan& g) {
        const fs::path& first = group.copies[going];
        std::vector<std::string> names{group.name.empty() ? first.filename().string() : group.name};
        if (group.md5.size() >= 8)
            names.push_back(alternativeImageName(names.front(), group.md5));
        for (const std::string& name : names) {
            if (claimed_.count(name))
                continue;
            const fs::path candidate = plan_.imagesFolder / name;
            if (!imagesUsable_ || !files_.exists(candidate)) {
                g.kept = candidate;
                g.placeFrom = absolute(first);
                g.placeIndex = going;
                return true;
            }
            FileResult error;
            if (files_.isDirectory(candidate) || !files_.mode(candidate))
                continue; // a folder or a link under that name is no place for the bytes
            if (files_.sameContent(first, candidate, error)) {
                g.kept = candidate;
                return true;
            }
        }
        return false;
    }

    void collectFileChanges(const std::vector<DuplicateGroup>& duplicates) {
        // The index holds each referring file's path once, so its address names the file.
        std::unordered_map<const fs::path*, std::size_t> slot;
        for (std::size_t gi = 0; gi < duplicates.size(); ++gi) {
            const GroupPlan& g = plan_.groups[gi];
            for (std::size_t i = 0; i < g.copies.size(); ++i) {
                if (g.copies[i].fate != CopyPlan::Fate::removed || imageNumbers_[gi][i] == noImage)
                    continue;
                for (const Reference* ref : index_.referencesTo(imageNumbers_[gi][i])) {
                    auto [at, added] = slot.emplace(&ref->file, plan_.files.size());
                    if (added)
                        plan_.files.push_back({ref->file, {}});
                    plan_.files[at->second].changes.push_back({ref, gi});
                }
            }
        }
        // By path, so that a run rewrites (and logs) in the same order on every machine.
        std::sort(plan_.files.begin(), plan_.files.end(),
                  [](const FileChanges& a, const FileChanges& b) {
                      return a.file.native() < b.file.native();
                  });
        for (FileChanges& file : plan_.files)
            std::sort(file.changes.begin(), file.changes.end(), [](const auto& a, const auto& b) {
                return a.reference->offset < b.reference->offset;
            });
    }

    const ReferenceIndex& index_;
    TextFileAccess& access_;
    FileManager& files_;
    const PlanChoices& choices_;
    SitePlan plan_;
    const fs::path workingFolder_;
    bool imagesUsable_ = false;
    std::set<std::string> claimed_; // names in images/ that earlier groups keep
    static constexpr std::uint32_t noImage = 0xFFFFFFFF;
    std::vector<std::vector<std::uint32_t>> imageNumbers_; // per group and copy, in the index
};

} // namespace

SitePlan planSite(const fs::path& root, const std::vector<DuplicateGroup>& duplicates,
                  const ReferenceIndex& index, TextFileAccess& access, FileManager& files,
                  const PlanChoices& choices) {
    Planner planner(root, index, access, files, choices);
    return planner.take(duplicates);
}

} // namespace tolvane
