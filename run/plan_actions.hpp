#pragma once

#include "run/site_plan.hpp"
#include "scan/scan.hpp"

#include <cstddef>
#include <filesystem>
#include <vector>

namespace tolvane {

// One step a run takes on the site, as its plan says before anything is touched. A dry run
// prints these; the run takes them in this order (each checked again just before).
struct PlannedAction {
    enum class Kind {
        createFolder, // the images folder
        place,        // a kept file's new name in images/, given the bytes of from
        rewrite,      // a file whose references to copies that go are rewritten
        remove,       // a copy that goes (after every file that referred to it is rewritten)
    };
    Kind kind = Kind::remove;
    std::filesystem::path path;
    std::filesystem::path from; // place: the copy whose bytes the new name gets
    std::size_t references = 0; // rewrite: the references it changes
};

// The plan's steps in the order a run takes them: the images folder if it is missing, every
// placing, every rewrite, every removal (the copy that gave a new name its bytes included).
std::vector<PlannedAction> plannedActions(const SitePlan& plan,
                                          const std::vector<DuplicateGroup>& duplicates,
                                          bool imagesFolderExists);

} // namespace tolvane
