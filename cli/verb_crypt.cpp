#include "cli/passphrase.hpp"
#include "cli/verbs.hpp"
#include "util/aes.hpp"

#include <iostream>
#include <memory>
#include <string>

namespace tolvane::cli {

namespace {

void addCryptVerb(CLI::App& app, Verbs& verbs, bool encrypt) {
    CLI::App* command =
        encrypt ? app.add_subcommand("encrypt", "Encrypt IN to OUT with AES-256 under a passphrase")
                : app.add_subcommand("decrypt", "Decrypt IN, made by encrypt, to OUT");
    command->footer(
        std::string("The passphrase comes from the environment variable TOLVANE_PASSPHRASE, "
                    "otherwise it is asked on the terminal without echo.") +
        (encrypt ? ""
                 : " A wrong passphrase is caught only when the padding of the "
                   "last block does not check out, most of the time: about once "
                   "in 256 it writes meaningless bytes and exits 0."));
    auto input = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    command->add_option("IN", *input, "File to read")->required();
    command->add_option("OUT", *output, "File to write; left as it was on failure")->required();

    verbs.emplace_back(command, [=]() {
        const std::optional<std::string> passphrase = readPassphrase(encrypt);
        if (!passphrase) {
            std::cerr << "tolvane-cli: no passphrase: set TOLVANE_PASSPHRASE or run from a "
                         "terminal\n";
            return exitUsage;
        }
        const bool done = encrypt ? AESEncryptFile(*input, *output, *passphrase)
                                  : AESDecryptFile(*input, *output, *passphrase);
        if (done)
            return exitOk;
        if (encrypt)
            std::cerr << "tolvane-cli: cannot encrypt " << *input << " to " << *output
                      << ": the input cannot be read or the output cannot be written\n";
        else
            std::cerr << "tolvane-cli: cannot decrypt " << *input << " to " << *output
                      << ": wrong passphrase, damaged input, or a file that cannot be read or "
                         "written\n";
        return exitFailure;
    });
}

} // namespace

void addCryptVerbs(CLI::App& app, Verbs& verbs) {
    addCryptVerb(app, verbs, true);
    addCryptVerb(app, verbs, false);
}

} // namespace tolvane::cli
