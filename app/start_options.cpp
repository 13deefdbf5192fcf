#include "app/start_options.hpp"

namespace tolvane {

StartOptions::StartOptions()
    : open_("open", "Open the website folder DIR at start.", "DIR"),
      verbose_("verbose", "Write the action log to standard output as well.") {
    parser_.setApplicationDescription(
        "Finds duplicate images in an exported website and keeps one copy of each.");
    parser_.addHelpOption();
    parser_.addVersionOption();
    parser_.addPositionalArgument("folder", "The root folder of a website to open at start.",
                                  "[folder]");
    parser_.addOption(open_);
    parser_.addOption(verbose_);
}

QString StartOptions::folder() const {
    const QStringList named = parser_.positionalArguments();
    if (!named.isEmpty())
        return named.constFirst();
    return parser_.value(open_);
}

QString StartOptions::usageError() const {
    const qsizetype named = parser_.positionalArguments().size() + (parser_.isSet(open_) ? 1 : 0);
    return named > 1 ? QStringLiteral("Only one folder can be opened at start.") : QString();
}

bool StartOptions::asksForTextOnly(const QStringList& arguments) {
    StartOptions options;
    // Unknown options (the toolkit's own, say) do not hide a request for help or the version.
    options.parser_.parse(arguments);
    const QCommandLineParser& parser = options.parser_;
    return parser.isSet("help") || parser.isSet("help-all") || parser.isSet("version");
}

} // namespace tolvane
