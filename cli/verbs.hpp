#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <utility>
#include <vector>

namespace tolvane::cli {

// Exit statuses shared by every verb.
inline constexpr int exitOk = 0;
inline constexpr int exitFailure = 1; // the work ran but something failed
inline constexpr int exitUsage = 2;   // bad arguments, or a folder that is not a website

// Each verb adds its subcommand and what runs when that subcommand was chosen.
using VerbRun = std::function<int()>;
using Verbs = std::vector<std::pair<CLI::App*, VerbRun>>;

void addMd5Verb(CLI::App& app, Verbs& verbs);
void addCryptVerbs(CLI::App& app, Verbs& verbs);
void addScanVerbs(CLI::App& app, Verbs& verbs);
void addCheckVerb(CLI::App& app, Verbs& verbs);
void addOptimizeVerb(CLI::App& app, Verbs& verbs);
void addUndoVerbs(CLI::App& app, Verbs& verbs); // undo and history

} // namespace tolvane::cli
