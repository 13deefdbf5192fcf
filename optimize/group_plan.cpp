#include "optimize/group_plan.hpp"

namespace tolvane {

GroupPlan planGroup(const DuplicateGroup& group, const ReferenceIndex& index,
                    TextFileAccess& access) {
    GroupPlan plan;
    plan.held.resize(group.copies.size());
    plan.goes = group.copies.empty() ? 0 : group.copies.size() - 1;
    for (std::size_t i = 0; i < group.copies.size(); ++i) {
        plan.references += index.referencesTo(group.copies[i]).size();
        plan.held[i] = index.reasonsToKeep(group.copies[i], access);
        if (i > 0 && !plan.held[i].empty())
            --plan.goes;
    }
    if (!plan.held.empty() && !plan.held[0].empty() && plan.goes < 2)
        plan.goes = 0;
    return plan;
}

} // namespace tolvane
