#pragma once

#include "refs/keep_reason.hpp"
#include "refs/reference_index.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one rewriter of references: each reference, read again from the file's text as the
// index read it, is written to lead to its kept file in the style the file wrote it.
namespace tolvane {

// The text that a file's references become when each leads to keptCopy instead: every other
// byte kept. Absent, with why (changed or noRelativePath, naming the reference), when the
// text no longer holds a reference at its offset or no relative path leads to keptCopy.
std::optional<std::string> rewrittenText(std::string_view text,
                                         const std::vector<const Reference*>& references,
                                         const std::filesystem::path& keptCopy,
                                         KeepReason* why = nullptr);
// The same with a kept file for each reference: references sorted by offset, kept[i] for the
// i-th.
std::optional<std::string> rewrittenText(std::string_view text,
                                         const std::vector<const Reference*>& sorted,
                                         const std::vector<const std::filesystem::path*>& kept,
                                         KeepReason* why = nullptr);

// The text with every relative URL that leads, from base, to image rewritten to lead to
// keptCopy: for one file read on its own, whose base is known (file names its kind). Absent,
// with why, when no relative path leads from base to keptCopy.
std::optional<std::string>
rewrittenReferencesTo(std::string_view text, const std::filesystem::path& file,
                      const std::filesystem::path& base, const std::filesystem::path& image,
                      const std::filesystem::path& keptCopy, KeepReason* why = nullptr);

} // namespace tolvane
