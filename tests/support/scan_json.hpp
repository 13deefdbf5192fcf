#pragma once

#include <regex>
#include <string>

namespace tolvane::test {

// `scan --json` output with each group's plan ("keep" to "references") taken out, leaving the
// grouping alone: for comparisons with a grouping worked out on its own.
inline std::string groupsOnly(const std::string& json) {
    static const std::regex plan(
        R"(, "keep": (null|"(\\.|[^"\\])*"), "move": (null|"(\\.|[^"\\])*"), "remove": .*?\], "stays": .*?\], "references": \d+)");
    return std::regex_replace(json, plan, "");
}

} // namespace tolvane::test
