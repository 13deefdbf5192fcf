#pragma once

#include "optimize/references.hpp"
#include "scan/scan.hpp"

#include <cstdint>
#include <vector>

namespace tolvane {

// What a run would do with one group's copies, given the references to them: a copy referred
// to in a way that cannot be rewritten stays; a first copy that stays is copied to images/,
// so the group is handled only when that still saves a copy.
struct GroupPlan {
    std::size_t references = 0;                // references to the group's copies
    std::vector<std::vector<KeepReason>> held; // per copy; empty for a copy free to go
    std::size_t goes = 0;                      // copies a run removes

    // Bytes a run saves: a first copy that must stay is copied to images/, which costs one.
    std::uint64_t saving(std::uint64_t size) const {
        return (goes && !held.empty() && !held[0].empty() ? goes - 1 : goes) * size;
    }
};

GroupPlan planGroup(const DuplicateGroup& group, const ReferenceIndex& index,
                    TextFileAccess& access);

} // namespace tolvane
