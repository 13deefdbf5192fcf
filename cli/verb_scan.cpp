#include "cli/verbs.hpp"

namespace tolvane::cli {

void addScanVerbs(CLI::App&, Verbs&) {}

} // namespace tolvane::cli
