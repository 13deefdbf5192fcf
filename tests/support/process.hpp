#pragma once

#include "support/temp_dir.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace tolvane::test {

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Quotes one argument for /bin/sh.
inline std::string shellQuote(const std::string& arg) {
    std::string quoted = "'";
    for (const char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a program with arguments (no terminal: stdin from /dev/null unless input is given),
// capturing stdout and stderr through files in scratch, a folder of the test's own.
// env holds extra "NAME=value" settings.
inline ProcessResult runProcess(const std::filesystem::path& scratch,
                                const std::vector<std::string>& argv,
                                const std::vector<std::string>& env = {},
                                const std::string* input = nullptr) {
    const auto outFile = scratch / ".process-out";
    const auto errFile = scratch / ".process-err";
    const auto inFile = scratch / ".process-in";
    std::string command = "env";
    for (const auto& setting : env)
        command += " " + shellQuote(setting);
    for (const auto& arg : argv)
        command += " " + shellQuote(arg);
    if (input)
        std::ofstream(inFile, std::ios::binary) << *input;
    command += " <" + shellQuote(input ? inFile.string() : "/dev/null");
    command += " >" + shellQuote(outFile.string()) + " 2>" + shellQuote(errFile.string());
    const int status = std::system(command.c_str());
    if (status == -1)
        throw std::runtime_error("cannot run " + command);
    ProcessResult result{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                         readFile(outFile), readFile(errFile)};
    std::error_code ignored;
    for (const auto& file : {outFile, errFile, inFile})
        std::filesystem::remove(file, ignored);
    return result;
}

} // namespace tolvane::test
