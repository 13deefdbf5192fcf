#include "cli/verbs.hpp"

namespace tolvane::cli {

void addOptimizeVerb(CLI::App&, Verbs&) {}

} // namespace tolvane::cli
