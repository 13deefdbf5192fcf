#include "cli/verbs.hpp"

#include <iostream>

#ifndef TOLVANE_VERSION
#define TOLVANE_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    using namespace tolvane::cli;
    CLI::App app{"Tolvane: find duplicate images in an exported website and share one copy."};
    app.name("tolvane-cli");
    app.set_version_flag("--version", std::string("tolvane-cli ") + TOLVANE_VERSION);
    app.require_subcommand(1);

    Verbs verbs;
    addMd5Verb(app, verbs);
    addCryptVerbs(app, verbs);
    addScanVerbs(app, verbs);
    addCheckVerb(app, verbs);
    addOptimizeVerb(app, verbs);
    addUndoVerbs(app, verbs);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return exitUsage;
    }

    for (const auto& [command, run] : verbs) {
        if (command->parsed())
            return run();
    }
    return exitUsage;
}
