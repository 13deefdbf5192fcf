#include "app/plan_model.hpp"

#include "refs/reference_rewrite.hpp"
#include "run/file_manager.hpp"
#include "site/text_files.hpp"

#include <QLocale>
#include <QRegularExpression>

#include <limits>

namespace tolvane {

namespace {

// The plan's files with each change's group numbered among all groups, not the taken ones.
std::vector<FileChanges> renumbered(std::vector<FileChanges> files,
                                    const std::vector<std::size_t>& taken) {
    for (FileChanges& file : files)
        for (ReferenceChange& change : file.changes)
            change.group = taken[change.group];
    return files;
}

} // namespace

ScanDisplay withReferences(ScanResult scan, Progress* progress) {
    ScanDisplay shown;
    if (!scan.duplicates.empty()) {
        auto index = std::make_shared<const ReferenceIndex>(ReferenceIndex::build(
            scan.root, everyCopy(scan.duplicates), nullptr, progress, scan.listing.get()));
        scan.listing.reset(); // read: the site's text files are in the index now
        if (index->cancelled()) {
            // Half an index plans nothing: the result is a cancelled scan's.
            scan.duplicates.clear();
            scan.cancelled = true;
            shown.scan = std::move(scan);
            return shown;
        }
        DiskTextFileAccess disk;
        WritabilityOnce access(disk);
        RealFileManager files;
        SitePlan plan = planSite(scan.root, scan.duplicates, *index, access, files);
        shown.groups = std::move(plan.groups);
        shown.files = std::move(plan.files);
        shown.index = std::move(index);
    }
    shown.scan = std::move(scan);
    return shown;
}

std::optional<std::uint64_t> bytesOf(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^\\s*([0-9.,]+)\\s*([KMG]?)B?\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    double number = QLocale().toDouble(match.captured(1), &ok);
    if (!ok)
        number = QLocale::c().toDouble(match.captured(1), &ok);
    if (!ok || number < 0)
        return std::nullopt;
    const QString unit = match.captured(2).toUpper();
    const int power = unit == "K" ? 1 : unit == "M" ? 2 : unit == "G" ? 3 : 0;
    for (int i = 0; i < power; ++i)
        number *= 1024;
    if (number >= 1.8e19) // beyond what 64 bits hold: more than any site saves
        return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(number);
}

void PlanModel::show(const ScanDisplay& shown) {
    const ScanResult& result = shown.scan;
    if (result.root != shownRoot_) {
        groupsLeftAlone_.clear();
        choices_ = {};
    } else {
        std::set<std::pair<std::string, std::string>> groups;
        std::set<std::filesystem::path> copies;
        for (const DuplicateGroup& group : result.duplicates) {
            groups.emplace(group.name, group.md5);
            copies.insert(group.copies.begin(), group.copies.end());
        }
        std::erase_if(groupsLeftAlone_, [&](const auto& key) { return !groups.count(key); });
        std::erase_if(choices_.keep, [&](const auto& copy) { return !copies.count(copy); });
        std::erase_if(choices_.leave, [&](const auto& copy) { return !copies.count(copy); });
    }
    duplicates_ = result.duplicates;
    plans_ = shown.groups;
    files_ = shown.files;
    index_ = shown.index;
    shownRoot_ = result.root;
    root_ = result.duplicates.empty() ? std::filesystem::path() : result.root;
    leftovers_ = result.leftovers;
    // The scan planned without the choices kept from before.
    if (anyChoice())
        replan();
}

const GroupPlan* PlanModel::plan(int group) const {
    return group >= 0 && group < static_cast<int>(plans_.size()) ? &plans_[group] : nullptr;
}

bool PlanModel::groupChosen(std::size_t group) const {
    return group >= groups().size() ||
           !groupsLeftAlone_.count({groups()[group].name, groups()[group].md5});
}

bool PlanModel::copyChosen(std::size_t group, std::size_t copy) const {
    return group < groups().size() && copy < groups()[group].copies.size() && groupChosen(group) &&
           !choices_.leave.count(groups()[group].copies[copy]);
}

bool PlanModel::copyKept(std::size_t group, std::size_t copy) const {
    return group < groups().size() && copy < groups()[group].copies.size() &&
           choices_.keep.count(groups()[group].copies[copy]);
}

void PlanModel::setGroupChosen(std::size_t group, bool chosen) {
    if (group >= groups().size())
        return;
    const std::pair key{groups()[group].name, groups()[group].md5};
    if (chosen)
        groupsLeftAlone_.erase(key);
    else
        groupsLeftAlone_.insert(key);
    replan();
}

void PlanModel::setCopyChosen(std::size_t group, std::size_t copy, bool chosen) {
    if (group >= groups().size() || copy >= groups()[group].copies.size())
        return;
    const std::filesystem::path& path = groups()[group].copies[copy];
    // A copy left where it is is not the kept file any more.
    if (chosen) {
        choices_.leave.erase(path);
    } else {
        choices_.leave.insert(path);
        choices_.keep.erase(path);
    }
    replan();
}

void PlanModel::keepCopy(std::size_t group, std::size_t copy, bool keep) {
    if (group >= groups().size() || copy >= groups()[group].copies.size() || !groupChosen(group))
        return;
    // One kept copy per group: choosing another replaces it.
    for (const auto& other : groups()[group].copies)
        choices_.keep.erase(other);
    const std::filesystem::path& path = groups()[group].copies[copy];
    if (keep) {
        choices_.keep.insert(path);
        choices_.leave.erase(path);
    }
    replan();
}

void PlanModel::chooseGroups(const std::function<bool(std::size_t group)>& chosen) {
    std::set<std::pair<std::string, std::string>> alone;
    for (std::size_t g = 0; g < groups().size(); ++g)
        if (!chosen(g))
            alone.emplace(groups()[g].name, groups()[g].md5);
    groupsLeftAlone_ = std::move(alone);
    replan();
}

void PlanModel::chooseGroupsSavingMoreThan(std::uint64_t bytes) {
    // What each group saves when every group is taken: leaving one alone changes no other's.
    groupsLeftAlone_.clear();
    replan();
    chooseGroups(
        [this, bytes](std::size_t g) { return plans_[g].saving(groups()[g].size) > bytes; });
}

std::vector<DuplicateGroup> PlanModel::chosenDuplicates() const {
    std::vector<DuplicateGroup> chosen;
    for (std::size_t g = 0; g < groups().size(); ++g)
        if (groupChosen(g))
            chosen.push_back(groups()[g]);
    return chosen;
}

void PlanModel::replan() {
    if (!index_ || root_.empty())
        return;
    // Cheap next to the scan: the index of the result on display is reused.
    std::vector<std::size_t> taken;
    std::vector<DuplicateGroup> chosen;
    for (std::size_t g = 0; g < groups().size(); ++g)
        if (groupChosen(g)) {
            taken.push_back(g);
            chosen.push_back(groups()[g]);
        }
    DiskTextFileAccess disk;
    WritabilityOnce access(disk);
    RealFileManager files;
    SitePlan plan = planSite(root_, chosen, *index_, access, files, choices_);
    // A group left alone: every copy stays, nothing is saved.
    std::vector<GroupPlan> plans(groups().size());
    for (std::size_t g = 0; g < groups().size(); ++g) {
        plans[g].kept = groups()[g].copies.front();
        plans[g].copies.resize(groups()[g].copies.size());
    }
    for (std::size_t i = 0; i < taken.size(); ++i)
        plans[taken[i]] = std::move(plan.groups[i]);
    plans_ = std::move(plans);
    files_ = renumbered(std::move(plan.files), taken);
}

PlanModel::Totals PlanModel::totals() const {
    Totals totals;
    totals.files = files_.size();
    for (std::size_t g = 0; g < plans_.size() && g < groups().size(); ++g) {
        if (!groupChosen(g))
            continue; // a run does not touch it
        totals.copies += plans_[g].copiesSaved();
        totals.bytes += plans_[g].saving(groups()[g].size);
        for (const CopyPlan& copy : plans_[g].copies)
            totals.stayed += copy.reasons.empty() ? 0 : 1;
    }
    return totals;
}

std::vector<PlanModel::Change> PlanModel::changes(Progress* progress) const {
    std::vector<Change> changes;
    DiskTextFileAccess disk;
    if (progress)
        progress->start(Phase::previewing, files_.size());
    for (const FileChanges& file : files_) {
        if (progress && progress->cancelled())
            return {};
        Change change{file.file, 0, 0, {}};
        std::error_code error;
        const std::optional<std::string> text = readText(disk, file.file, error);
        for (const ReferenceChange& edit : file.changes) {
            const Reference& reference = *edit.reference;
            std::string after = "?";
            // Every other byte is kept: the reference's new text is where its old one was.
            if (text)
                if (const auto rewritten =
                        rewrittenText(*text, {&reference}, plans_[edit.group].kept)) {
                    const std::size_t length = reference.length + rewritten->size() - text->size();
                    after = rewritten->substr(reference.offset, length);
                }
            change.edits.emplace_back(reference.text, std::move(after));
        }
        changes.push_back(std::move(change));
        if (progress)
            progress->advance();
    }
    for (std::size_t g = 0; g < groups().size(); ++g)
        if (groupChosen(g))
            for (std::size_t c = 0; c < groups()[g].copies.size(); ++c)
                changes.push_back({groups()[g].copies[c], g, c, {}});
    return changes;
}

} // namespace tolvane
