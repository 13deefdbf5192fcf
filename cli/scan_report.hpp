#pragma once

#include "run/site_plan.hpp"
#include "scan/scan.hpp"

#include <cstdint>
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

// For people: one block per group, each copy marked with what a run does to it, then the
// totals; or the no-duplicates message. With the run's plan, each group also tells how many
// references point at its copies, where its bytes are kept, and which copies stay and why.
void printScanSummary(std::ostream& out, const ScanResult& result, const SitePlan* plan = nullptr);

// For programs, on one line: {"root": ..., "groups": [{"name", "md5", "size", "copies"}...]},
// with the plan each group also has "keep" (where its bytes are after the run; null when
// left alone), "move" (the copy that gives keep its bytes, or null), "remove" (what the run
// deletes besides), "stays" ([{"path", "reasons"}], every copy left where it is) and
// "references".
void printScanJson(std::ostream& out, const ScanResult& result, const SitePlan* plan = nullptr);

// Plans a run of the scanned site as the run itself would and prints the groups with that
// plan, for people or as JSON.
void printScanWithPlan(std::ostream& out, const ScanResult& result, bool json,
                       const PlanChoices& choices = {});

// What a run would do, one line per step in the order the run takes them, and what it would
// save; nothing is changed.
void printDryRun(std::ostream& out, const ScanResult& result, const PlanChoices& choices);

// For people: n and the noun that goes with it ("1 copy", "2 copies").
std::string counted(std::uint64_t n, std::string_view one, std::string_view many);

// A JSON string literal, quotes included. Bytes that are not UTF-8 become "\udcXX"
// (the surrogate-escape convention), so any file name survives a round trip.
std::string jsonString(std::string_view text);

} // namespace tolvane::cli
