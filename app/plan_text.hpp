#pragma once

#include "run/site_plan.hpp"
#include "scan/scan.hpp"

#include <QCoreApplication>
#include <QString>

#include <cstddef>
#include <filesystem>

namespace tolvane {

// The window's words for what a run's plan does with a group and each of its copies. Paths are
// shown from the site root.
class PlanText {
    Q_DECLARE_TR_FUNCTIONS(tolvane::PlanText)

  public:
    // The copies table's cell: "Kept as images/logo-85c84d63.png", "Removed",
    // "Kept here, the others lead to it", "Stays: B.html is not UTF-8". plan may be null (no
    // plan known): then the first copy is taken as kept in images/, the others as removed.
    static QString fate(const DuplicateGroup& group, const GroupPlan* plan, std::size_t copy,
                        const std::filesystem::path& root);
    // Every reason the copy has to stay, each in full, one a line; empty without reasons.
    static QString reasons(const GroupPlan* plan, std::size_t copy,
                           const std::filesystem::path& root);
    // One reason in a few words, for a table cell.
    static QString shortReason(const KeepReason& reason);
    // One reason in full: the file and what keeps its copy.
    static QString fullReason(const KeepReason& reason, const std::filesystem::path& root);
    // Where the group's bytes are after a run ("images/logo.png"), or why the group stays.
    static QString keptAs(const GroupPlan* plan, const std::filesystem::path& root);
    // The copy whose bytes stay: bold in the copies table.
    static bool keepsTheBytes(const DuplicateGroup& group, const GroupPlan* plan, std::size_t copy);
};

} // namespace tolvane
