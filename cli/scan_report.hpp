#pragma once

#include "optimize/references.hpp"
#include "scan/scan.hpp"

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

namespace tolvane::cli {

// SITE as the scan and the run need it: an existing, readable folder that holds index.html.
// Otherwise prints why on err and returns false (the caller exits with the usage status).
bool checkWebsiteFolder(const std::filesystem::path& site, std::ostream& err);

// Scans site; while the scan runs, its phase and counters are shown on stderr when stderr
// is a terminal.
ScanResult scanShowingProgress(const std::filesystem::path& site);

// A copy's path relative to the scanned root, with "/" between components.
std::string relativeToRoot(const std::filesystem::path& copy, const std::filesystem::path& root);

// For people: one block per group, the kept copy marked, then the totals; or the
// no-duplicates message. With the site's references, each group also tells how many
// references point at its copies, and which copies a run would leave in place and why.
void printScanSummary(std::ostream& out, const ScanResult& result,
                      const ReferenceIndex* references = nullptr);

// For programs: {"root": ..., "groups": [{"name", "md5", "size", "copies"}...]} on one line.
void printScanJson(std::ostream& out, const ScanResult& result);

// A JSON string literal, quotes included. Bytes that are not UTF-8 become "\udcXX"
// (the surrogate-escape convention), so any file name survives a round trip.
std::string jsonString(std::string_view text);

} // namespace tolvane::cli
