#include "app/plan_text.hpp"

#include "app/event_text.hpp"

#include "app/path_text.hpp"

namespace tolvane {

namespace {

const CopyPlan* copyOf(const GroupPlan* plan, std::size_t copy) {
    return plan && copy < plan->copies.size() ? &plan->copies[copy] : nullptr;
}

bool inImagesFolder(const std::filesystem::path& path, const std::filesystem::path& root) {
    return path.parent_path() == root / "images";
}

} // namespace

QString PlanText::shortReason(const KeepReason& reason) {
    const QString file = toQString(reason.file.filename());
    switch (reason.kind) {
    case KeepErrc::unreadableText:
        return tr("%1 cannot be read").arg(file);
    case KeepErrc::notUtf8:
        return tr("%1 is not UTF-8").arg(file);
    case KeepErrc::notWritable:
        return tr("%1 cannot be written").arg(file);
    case KeepErrc::unresolved:
        break;
    case KeepErrc::chosen:
        return tr("chosen to stay here");
    }
    return tr("%1 refers to it in a form that cannot be rewritten").arg(file);
}

QString PlanText::fullReason(const KeepReason& reason, const std::filesystem::path& root) {
    return relativeText(reason.file, root) + QLatin1Char(' ') + EventText::keepReason(reason);
}

QString PlanText::reasons(const GroupPlan* plan, std::size_t copy,
                          const std::filesystem::path& root) {
    const CopyPlan* fate = copyOf(plan, copy);
    if (!fate)
        return {};
    QStringList lines;
    for (const KeepReason& reason : fate->reasons)
        lines << fullReason(reason, root);
    return lines.join(QLatin1Char('\n'));
}

bool PlanText::keepsTheBytes(const DuplicateGroup& group, const GroupPlan* plan, std::size_t copy) {
    const CopyPlan* fate = copyOf(plan, copy);
    if (!fate)
        return copy == 0;
    if (!plan->handled() || copy >= group.copies.size())
        return false;
    return fate->fate == CopyPlan::Fate::kept || plan->movesCopy(copy);
}

QString PlanText::fate(const DuplicateGroup& group, const GroupPlan* plan, std::size_t copy,
                       const std::filesystem::path& root) {
    const CopyPlan* fate = copyOf(plan, copy);
    if (!fate)
        return copy == 0 ? tr("Kept as images/%1").arg(toQString(group.name)) : tr("Removed");
    QString why;
    if (!fate->reasons.empty()) {
        why = shortReason(fate->reasons.front());
        if (fate->reasons.size() > 1)
            why += tr(" (and %L1 more)").arg(fate->reasons.size() - 1);
    }
    if (!plan->handled()) {
        if (!why.isEmpty())
            return tr("Stays: %1").arg(why);
        if (plan->nameTaken)
            return tr("Stays: images/ holds other pictures under its names");
        return tr("Stays: no copy of this image can go");
    }
    switch (fate->fate) {
    case CopyPlan::Fate::kept:
        if (inImagesFolder(group.copies[copy], root))
            return tr("Kept, already in images/");
        // A copy that must stay where it is keeps the bytes; the other copies lead to it.
        return tr("Kept here, the others lead to it");
    case CopyPlan::Fate::stays:
        return tr("Stays: %1").arg(why);
    case CopyPlan::Fate::removed:
        break;
    }
    if (plan->movesCopy(copy))
        return tr("Kept as %1").arg(relativeText(plan->kept, root));
    return tr("Removed");
}

QString PlanText::keptAs(const GroupPlan* plan, const std::filesystem::path& root) {
    if (!plan)
        return {};
    if (!plan->handled())
        return tr("(stays as it is)");
    return relativeText(plan->kept, root);
}

} // namespace tolvane
