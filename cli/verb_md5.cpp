#include "cli/verbs.hpp"
#include "util/digest.hpp"

#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace tolvane::cli {

namespace {

// md5sum's line format: a name holding a backslash or a line break is escaped and the
// line starts with a backslash, so the output can be read back unambiguously.
std::string md5sumLine(const std::string& digest, const std::string& name) {
    if (name.find_first_of("\\\n\r") == std::string::npos)
        return digest + "  " + name;
    std::string escaped;
    for (const char c : name) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return "\\" + digest + "  " + escaped;
}

} // namespace

void addMd5Verb(CLI::App& app, Verbs& verbs) {
    CLI::App* command =
        app.add_subcommand("md5", "Print the MD5 digest of each file, as md5sum does");
    auto files = std::make_shared<std::vector<std::string>>();
    command->add_option("FILE", *files, "Files to digest")->required();
    verbs.emplace_back(command, [files] {
        int status = exitOk;
        for (const std::string& file : *files) {
            if (const auto digest = MD5(file)) {
                std::cout << md5sumLine(*digest, file) << '\n';
            } else {
                std::cout.flush();
                std::cerr << "tolvane-cli: " << file
                          << ": cannot read (missing, a folder, or not readable)\n";
                status = exitFailure;
            }
        }
        return status;
    });
}

} // namespace tolvane::cli
