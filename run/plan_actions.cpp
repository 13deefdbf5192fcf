#include "run/plan_actions.hpp"

namespace tolvane {

std::vector<PlannedAction> plannedActions(const SitePlan& plan,
                                          const std::vector<DuplicateGroup>& duplicates,
                                          bool imagesFolderExists) {
    using Kind = PlannedAction::Kind;
    std::vector<PlannedAction> actions;
    if (plan.placements > 0 && !imagesFolderExists)
        actions.push_back({Kind::createFolder, plan.imagesFolder, {}, 0});
    for (const GroupPlan& group : plan.groups)
        if (group.handled() && group.placeFrom)
            actions.push_back({Kind::place, group.kept, *group.placeFrom, 0});
    for (const FileChanges& file : plan.files)
        actions.push_back({Kind::rewrite, file.file, {}, file.changes.size()});
    for (std::size_t g = 0; g < plan.groups.size() && g < duplicates.size(); ++g) {
        const GroupPlan& group = plan.groups[g];
        if (!group.handled())
            continue;
        for (std::size_t i = 0; i < group.copies.size(); ++i)
            if (group.copies[i].fate == CopyPlan::Fate::removed)
                actions.push_back({Kind::remove, duplicates[g].copies[i], {}, 0});
    }
    return actions;
}

} // namespace tolvane
